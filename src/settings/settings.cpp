#include "settings/settings.h"

#include "settings/qttext.h"
#include "settings/usersettings.h"

namespace quillon {
namespace {

QString Key(const char* name) {
    return QStringLiteral("Settings/") + QLatin1String(name);
}

}  // namespace

std::unique_ptr<SettingsPort> OpenUserSettings() {
    return std::make_unique<SettingsStore>();
}

int SettingsStore::ReadOption(Option which) {
    settings.sync();
    bool ok = false;
    const int value = settings.value(Key(OptionName(which))).toInt(&ok);
    return ok ? value : OptionDefault(which);
}

void SettingsStore::WriteOption(Option which, int value) {
    settings.setValue(Key(OptionName(which)), value);
    settings.sync();
}

std::u16string SettingsStore::ReadText(Text which) {
    switch (which) {
        case Text::LastOpenFile:
            return LastOpenFile().toStdU16String();
        case Text::LastOpenDir:
            return LastOpenDir().toStdU16String();
        case Text::ServiceHost:
            break;
    }
    return ServiceHost().toStdU16String();
}

void SettingsStore::WriteText(Text which, std::u16string_view value) {
    switch (which) {
        case Text::LastOpenFile:
            SetLastOpenFile(ToQString(value));
            return;
        case Text::LastOpenDir:
            SetLastOpenDir(ToQString(value));
            return;
        case Text::ServiceHost:
            SetServiceHost(ToQString(value));
            return;
    }
}

SettingsStore::SettingsStore()
    : settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Brantwell"),
               QStringLiteral("Quillon")) {}

QString SettingsStore::ReadString(const char* name, const QString& fallback) {
    settings.sync();  // another process (the window, the CLI) may have written since
    return settings.value(Key(name), fallback).toString();
}

void SettingsStore::WriteString(const char* name, const QString& value) {
    settings.setValue(Key(name), value);
    settings.sync();
}

QString SettingsStore::LastOpenFile() {
    return ReadString("LastOpenFile", QString());
}
void SettingsStore::SetLastOpenFile(const QString& path) {
    WriteString("LastOpenFile", path);
}
QString SettingsStore::LastOpenDir() {
    return ReadString("LastOpenDir", QString());
}
void SettingsStore::SetLastOpenDir(const QString& path) {
    WriteString("LastOpenDir", path);
}

int SettingsStore::Encoding() {
    settings.sync();
    bool ok = false;
    const int value = settings.value(Key("Encoding"), 0).toInt(&ok);
    return ok ? value : 0;
}

void SettingsStore::SetEncoding(int encoding) {
    settings.setValue(Key("Encoding"), encoding);
    settings.sync();
}

QString SettingsStore::ServiceHost() {
    const QString host = ReadString("ServiceHost", QStringLiteral("localhost"));
    return host.isEmpty() ? QStringLiteral("localhost") : host;
}

void SettingsStore::SetServiceHost(const QString& host) {
    WriteString("ServiceHost", host);
}

}  // namespace quillon
