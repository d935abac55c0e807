#pragma once

#include <QSettings>
#include <QString>

#include "settings/settingsport.h"

namespace quillon {

// The per-user settings, kept under the maker "Brantwell" and the product "Quillon" in the
// group "Settings". A missing value reads as its default; write failures are not reported.
class SettingsStore final : public SettingsPort {
public:
    SettingsStore();

    std::u16string ReadText(Text which) override;
    void WriteText(Text which, std::u16string_view value) override;
    int ReadEncoding() override { return Encoding(); }
    void WriteEncoding(int encoding) override { SetEncoding(encoding); }
    int ReadOption(Option which) override;
    void WriteOption(Option which, int value) override;

    QString LastOpenFile();
    void SetLastOpenFile(const QString& path);
    QString LastOpenDir();
    void SetLastOpenDir(const QString& path);
    // A TextEncoding; 0 when missing or not a number.
    int Encoding();
    void SetEncoding(int encoding);
    // "host" or "host:port" of the lyrics service.
    QString ServiceHost();
    void SetServiceHost(const QString& host);

    // Where the values live (a file on platforms without a registry).
    QString Location() const { return settings.fileName(); }

private:
    QString ReadString(const char* name, const QString& fallback);
    void WriteString(const char* name, const QString& value);

    QSettings settings;
};

}  // namespace quillon
