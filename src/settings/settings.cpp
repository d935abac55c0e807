#include "settings/settings.h"

namespace quillon {
namespace {

QString Key(const char* name) {
    return QStringLiteral("Settings/") + QLatin1String(name);
}

}  // namespace

SettingsStore::SettingsStore()
    : settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Brantwell"),
               QStringLiteral("Quillon")) {}

QString SettingsStore::Text(const char* name, const QString& fallback) {
    settings.sync();  // another process (the window, the CLI) may have written since
    return settings.value(Key(name), fallback).toString();
}

void SettingsStore::SetText(const char* name, const QString& value) {
    settings.setValue(Key(name), value);
    settings.sync();
}

QString SettingsStore::LastOpenFile() {
    return Text("LastOpenFile", QString());
}
void SettingsStore::SetLastOpenFile(const QString& path) {
    SetText("LastOpenFile", path);
}
QString SettingsStore::LastOpenDir() {
    return Text("LastOpenDir", QString());
}
void SettingsStore::SetLastOpenDir(const QString& path) {
    SetText("LastOpenDir", path);
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
    const QString host = Text("ServiceHost", QStringLiteral("localhost"));
    return host.isEmpty() ? QStringLiteral("localhost") : host;
}

void SettingsStore::SetServiceHost(const QString& host) {
    SetText("ServiceHost", host);
}

}  // namespace quillon
