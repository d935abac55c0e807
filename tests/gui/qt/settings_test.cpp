// The settings store: defaults when nothing is stored, values kept across stores, and what a
// value set outside the program reads as.
#include "gui/qt/app_fixture.h"

namespace quillon::testing {
namespace {

class SettingsTest : public AppTest {};

TEST_F(SettingsTest, DefaultsThenValuesThatLastAcrossStores) {
    {
        SettingsStore settings;
        EXPECT_TRUE(settings.LastOpenFile().isEmpty());
        EXPECT_TRUE(settings.LastOpenDir().isEmpty());
        EXPECT_EQ(settings.Encoding(), 0);
        EXPECT_EQ(settings.ServiceHost(), u"localhost"_s);
        settings.SetLastOpenFile(u"/음악/봄.mp3"_s);
        settings.SetLastOpenDir(u"/음악"_s);
        settings.SetEncoding(2);
        settings.SetServiceHost(u"127.0.0.1:8080"_s);
    }
    SettingsStore settings;
    EXPECT_EQ(settings.LastOpenFile(), u"/음악/봄.mp3"_s);
    EXPECT_EQ(settings.LastOpenDir(), u"/음악"_s);
    EXPECT_EQ(settings.Encoding(), 2);
    EXPECT_EQ(settings.ServiceHost(), u"127.0.0.1:8080"_s);

    QSettings raw(QSettings::NativeFormat, QSettings::UserScope, u"Brantwell"_s, u"Quillon"_s);
    EXPECT_EQ(raw.value(u"Settings/LastOpenFile"_s).toString(), u"/음악/봄.mp3"_s);
}

TEST_F(SettingsTest, ValuesSetOutsideTheProgram) {
    SettingsStore settings;
    {
        QSettings raw(QSettings::NativeFormat, QSettings::UserScope, u"Brantwell"_s, u"Quillon"_s);
        raw.setValue(u"Settings/Encoding"_s, u"utf-8"_s);
        raw.setValue(u"Settings/ServiceHost"_s, QString());
    }
    EXPECT_EQ(settings.Encoding(), 0);
    EXPECT_EQ(settings.ServiceHost(), u"localhost"_s);
    {
        QSettings raw(QSettings::NativeFormat, QSettings::UserScope, u"Brantwell"_s, u"Quillon"_s);
        raw.setValue(u"Settings/Encoding"_s, 7);
    }
    EXPECT_EQ(settings.Encoding(), 7);  // understood by the writer as UTF-8 without a mark
}

}  // namespace
}  // namespace quillon::testing
