// The session's use cases, without a window: settings, the start of a run and its failures;
// and the window's command line.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "application/session.h"
#include "application/startarguments.h"
#include "pipeline/messages.h"
#include "support/memory_settings.h"
#include "support/tempdir.h"
#include "text/textconv.h"

namespace fs = std::filesystem;
using namespace quillon;
using quillon::testing::MemorySettings;
using quillon::testing::TempDir;

namespace {

// The settings dialog's values: stored together when all are right, else none, with the reason.
TEST(SessionTest, SettingsAreCheckedBeforeAnyIsStored) {
    const struct {
        ServiceSettings values;
        const char16_t* refusal;  // nullptr: stored
        std::u16string stored;    // the service host setting afterwards
    } cases[] = {
        {{u" lyrics.example ", u"80", u"4"}, nullptr, u"lyrics.example"},
        {{u"10.0.0.2", u"8080", u"16"}, nullptr, u"10.0.0.2:8080"},
        {{u"::1", u"8080", u"1"}, nullptr, u"[::1]:8080"},
        {{u"[fe80::1]", u"80", u"1"}, nullptr, u"[fe80::1]"},
        {{u"", u"80", u"4"}, text::HostMissing, u"localhost"},
        {{u"lyrics example", u"80", u"4"},
         u"서비스 호스트에 쓸 수 없는 문자가 있습니다:  ",
         u"localhost"},
        {{u"a/b", u"80", u"4"}, u"서비스 호스트에 쓸 수 없는 문자가 있습니다: /", u"localhost"},
        {{u"host", u"65536", u"4"}, text::PortInvalid, u"localhost"},
        {{u"host", u"8o", u"4"}, text::PortInvalid, u"localhost"},
        {{u"host", u"80", u"17"}, text::ConcurrencyInvalid, u"localhost"},
        {{u"host", u"80", u"0"}, text::ConcurrencyInvalid, u"localhost"},
    };
    for (const auto& c : cases) {
        MemorySettings fresh;
        LyricsSession application(fresh);
        const std::optional<std::u16string> refusal = application.ApplySettings(c.values);
        const std::string what = WideToUtf8(c.values.host + u" " + c.values.port);
        if (c.refusal) {
            EXPECT_EQ(refusal, std::u16string(c.refusal)) << what;
            EXPECT_EQ(fresh.ReadOption(SettingsPort::Option::Concurrency),
                      SettingsPort::OptionDefault(SettingsPort::Option::Concurrency));
        } else {
            EXPECT_EQ(refusal, std::nullopt) << what;
            EXPECT_EQ(WideToUtf8(application.CurrentSettings().concurrency),
                      WideToUtf8(c.values.concurrency))
                << what;
        }
        EXPECT_EQ(WideToUtf8(fresh.ReadText(SettingsPort::Text::ServiceHost)), WideToUtf8(c.stored))
            << what;
    }
}

// A system that has no thread left for a run.
class NoThreads final : public LyricsSession {
public:
    using LyricsSession::LyricsSession;

private:
    std::thread StartWorker(std::function<void()>) override {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "no thread");
    }
};

class NoObserver final : public RunObserver {
public:
    void Logged(const JobEvent&) override { ++events; }
    void SongShown(const ShownSong&) override { ++events; }
    void RunEnded(const RunEnd&) override { ++events; }
    int events = 0;
};

TEST(SessionTest, RunThatCannotStartSaysWhyAndLeavesNothingRunning) {
    const TempDir scratch;
    MemorySettings settings;
    NoThreads session(settings);
    NoObserver observer;
    session.Connect(observer, [] {});
    const StartResult refused = session.StartRun({DownloadMode::Folder, scratch.Path() / "none"});
    EXPECT_FALSE(refused.started);
    EXPECT_EQ(refused.refusal, text::InvalidFolder);

    const StartResult failed = session.StartRun({DownloadMode::Folder, scratch.Path()});
    EXPECT_FALSE(failed.started);
    EXPECT_TRUE(failed.refusal.empty());
    EXPECT_NE(failed.cause.find("no thread"), std::string::npos) << failed.cause;
    EXPECT_FALSE(session.Running());
    EXPECT_EQ(LyricsSession::LiveWorkers(), 0);
    EXPECT_FALSE(session.Stop());
    EXPECT_EQ(observer.events, 0);
}

// The window's command line, as Linux (bytes) and Windows (UTF-16) give it.
TEST(StartArgumentsTest, OneFileOrFolderAndTheUsualOptions) {
    using Action = StartArguments::Action;
    const fs::path korean(u8"앨범/노래.mp3");
    const struct {
        std::vector<fs::path> args;
        Action action;
        std::optional<fs::path> open;
    } cases[] = {
        {{}, Action::Run, std::nullopt},
        {{"/music/a.mp3"}, Action::Run, fs::path("/music/a.mp3")},
        {{korean}, Action::Run, korean},
        {{"--", "-odd name.mp3"}, Action::Run, fs::path("-odd name.mp3")},
        {{"-"}, Action::Run, fs::path("-")},
        {{"--help"}, Action::Help, std::nullopt},
        {{"-h"}, Action::Help, std::nullopt},
        {{"--verbose", "a.mp3"}, Action::Usage, std::nullopt},
        {{"a.mp3", "b.mp3"}, Action::Usage, fs::path("a.mp3")},
    };
    for (const auto& c : cases) {
        const StartArguments parsed = ParseStartArguments(c.args);
        EXPECT_EQ(parsed.action, c.action) << ::testing::PrintToString(c.args);
        EXPECT_EQ(parsed.open, c.open) << ::testing::PrintToString(c.args);
        EXPECT_EQ(parsed.error.empty(), c.action != Action::Usage);
    }
    EXPECT_EQ(ParseStartArguments({"--verbose"}).error, "unknown option --verbose");
}

}  // namespace
