// The download job against a lyrics service on loopback, with a host that records what the
// window would be told. The application layer above it has its tests in tests/application.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "application/application.h"
#include "audio/checksum.h"
#include "pipeline/job.h"
#include "pipeline/messages.h"
#include "pipeline/textwriter.h"
#include "service/lyricquery.h"
#include "support/environment.h"
#include "support/fake_service.h"
#include "support/files.h"
#include "support/songs.h"
#include "support/tempdir.h"
#include "text/textconv.h"

namespace fs = std::filesystem;
using namespace quillon;
using quillon::testing::Answer;
using quillon::testing::ChecksumOf;
using quillon::testing::FakeService;
using quillon::testing::MakeMp3;
using quillon::testing::ReadFileBytes;
using quillon::testing::TempDir;
using quillon::testing::WriteFileBytes;

using namespace std::string_literals;

namespace {

struct Message {
    int kind;
    std::u16string text;
    bool wait;
};

// The control a one-file message points at: the window's download button.
constexpr int DownloadButtonId = 1000;

// Records what the window would be told: a log row with its image in Folder mode, a tip at the
// download button in SingleFile mode.
class RecordingHost final : public JobHost {
public:
    explicit RecordingHost(const JobState& job) : state(job) {}

    LyricView& Lyrics() override { return view; }
    void SetInfoFields(const std::u16string& t, const std::u16string& a,
                       const std::u16string& b) override {
        fields = {t, a, b};
        ++fieldUpdates;
    }
    void JobMessage(const JobEvent& event, bool wait) override {
        const bool folder = state.mode == DownloadMode::Folder;
        messages.push_back({folder ? LogIcon(event.kind) : DownloadButtonId, event.text, wait});
        causes.push_back(event.cause);
    }
    int EncodingSetting() override {
        ++encodingReads;
        return encoding;
    }

    MemoryLyricView view;
    std::array<std::u16string, 3> fields;
    int fieldUpdates = 0;
    std::vector<Message> messages;
    std::vector<std::string> causes;
    int encoding = EncodingUtf8;
    int encodingReads = 0;

private:
    const JobState& state;
};

class JobTest : public ::testing::Test {
protected:
    // Makes a song the service knows.
    fs::path Song(const std::string& name, int seed, const std::string& title,
                  const std::string& lyric) {
        const fs::path path = dir / name;
        WriteFileBytes(path, MakeMp3(seed));
        service.SetAnswer(ChecksumOf(path), Answer(title, lyric));
        return path;
    }

    int Run(DownloadMode mode, const fs::path& path) {
        state.mode = mode;
        state.path = path;
        state.isRunning = 1;
        const int result = RunDownloadJob(state, host, checksummer, query);
        state.isRunning = 0;
        return result;
    }

    TempDir scratch;
    const fs::path dir = scratch.Path();
    FakeService service;
    JobState state;
    RecordingHost host{state};
    AudioChecksummer checksummer;
    LyricQuery query{service.Host()};
};

const std::string kLyric =
    "[00:00.00]Title line&lt;br&gt;[00:05.00]First&lt;br&gt;[00:05.00]Second&lt;br&gt;"
    "[00:05.00]Third&lt;br&gt;[00:09.50]Last";

TEST(CollectMp3Files, TakesNamesHoldingMp3AnywhereAndSkipsFoldersAndSubfolders) {
    const TempDir scratch;
    const fs::path dir = scratch.Path();
    fs::create_directories(dir / "x.mp3");
    fs::create_directories(dir / "sub");
    for (const char* name : {"A.MP3", "a.mp3.bak", "notes.txt", "mp3", "song.Mp3"})
        WriteFileBytes(dir / name, "x");
    WriteFileBytes(dir / "sub" / "inner.mp3", "x");

    using Text = fs::path::string_type;
    const Text separator(1, fs::path::preferred_separator);
    std::set<Text> names;
    for (const auto& path : CollectMp3Files(dir)) names.insert(path.native());
    const Text base = dir.native() + separator;
    EXPECT_EQ(names, (std::set<Text>{base + fs::path("A.MP3").native(),
                                     base + fs::path("a.mp3.bak").native(),
                                     base + fs::path("song.Mp3").native()}));

    // A folder named with its separator gets a second one, and its files are named with it.
    names.clear();
    for (const auto& path : CollectMp3Files(dir.native() + separator)) names.insert(path.native());
    EXPECT_TRUE(names.count(base + separator + fs::path("A.MP3").native()));

    EXPECT_TRUE(CollectMp3Files(dir / "missing").empty());
}

TEST(CheckJobPath, RefusesWithTheTipOfTheMode) {
    const TempDir scratch;
    const fs::path file = scratch.Write("check", "x");
    const fs::path folder = scratch.Path();
    EXPECT_EQ(CheckJobPath(DownloadMode::SingleFile, ""), text::ChooseFile);
    EXPECT_EQ(CheckJobPath(DownloadMode::Folder, ""), text::ChooseFolder);
    EXPECT_EQ(CheckJobPath(DownloadMode::SingleFile, folder), text::InvalidFile);
    EXPECT_EQ(CheckJobPath(DownloadMode::SingleFile, fs::path(file) += ".none"), text::InvalidFile);
    EXPECT_EQ(CheckJobPath(DownloadMode::Folder, file), text::InvalidFolder);
    EXPECT_TRUE(CheckJobPath(DownloadMode::SingleFile, file).empty());
    EXPECT_TRUE(CheckJobPath(DownloadMode::Folder, folder).empty());
}

TEST(DisplayName, IsBaseNameAndExtension) {
    EXPECT_EQ(DisplayName("/music/song.mp3"), u"song.mp3");
    EXPECT_EQ(DisplayName("/music/a.mp3.bak"), u"a.mp3.bak");
    EXPECT_EQ(DisplayName(fs::path(u8"/music/노래 한 곡.mp3")), u"노래 한 곡.mp3");
#ifndef _WIN32
    // A folder name cut off inside a character does not run into the file's name.
    EXPECT_EQ(DisplayName(std::string("/music/\xEC\x95\xA8\xEB\xB2\x94 \xC3/song.mp3")),
              u"song.mp3");
#endif
}

TEST_F(JobTest, FolderRunLogsEveryStepAndWritesAnLrcBesideEachSong) {
    Song("one.mp3", 1, "첫 노래", kLyric);
    WriteFileBytes(dir / "broken.mp3", "this is no audio at all");
    Song("two.mp3", 2, "Second", "[00:01.00]Only");

    EXPECT_EQ(Run(DownloadMode::Folder, dir), 1);

    std::map<std::u16string, std::vector<int>> kindsByFile;
    for (const auto& m : host.messages) {
        const auto open = m.text.rfind(u'(');
        if (open != std::u16string::npos) kindsByFile[m.text.substr(open)].push_back(m.kind);
    }
    EXPECT_EQ(kindsByFile[u"(one.mp3)"], (std::vector<int>{LogIconStart, LogIconSaved}));
    EXPECT_EQ(kindsByFile[u"(two.mp3)"], (std::vector<int>{LogIconStart, LogIconSaved}));
    EXPECT_EQ(kindsByFile[u"(broken.mp3)"], (std::vector<int>{LogIconError}));

    int infoRows = 0;
    for (std::size_t i = 0; i < host.messages.size(); ++i) {
        const auto& m = host.messages[i];
        if (m.text == u"파일 채크썸 취득 실패 (broken.mp3)") {
            EXPECT_FALSE(m.wait);
        }
        if (m.kind == LogIconInfo) {
            ++infoRows;
            EXPECT_TRUE(m.wait);
            ASSERT_LT(i + 1, host.messages.size());
            EXPECT_EQ(host.messages[i + 1].kind, LogIconSaved);  // the title row comes first
        }
        if (m.kind == LogIconStart) {
            EXPECT_TRUE(m.text.starts_with(u"가사 정보 취득 개시 (")) << WideToUtf8(m.text);
        }
    }
    EXPECT_EQ(infoRows, 2);
    bool sawFirst = false;
    for (const auto& m : host.messages)
        sawFirst |= m.text == u"제목: 첫 노래, 가수: Singer, 앨범: Album";
    EXPECT_TRUE(sawFirst);

    EXPECT_EQ(ReadFileBytes(dir / "one.lrc"),
              "\xEF\xBB\xBF[ar:Singer]\r\n[ti:\xEC\xB2\xAB \xEB\x85\xB8\xEB\x9E\x98]\r\n"
              "[al:Album]\r\n[00:00.00]Title line\r\n[00:05.00]First / Second / Third\r\n"
              "[00:09.50]Last\r\n");
    EXPECT_EQ(ReadFileBytes(dir / "two.lrc"),
              "\xEF\xBB\xBF[ar:Singer]\r\n[ti:Second]\r\n[al:Album]\r\n[00:01.00]Only\r\n");
    EXPECT_FALSE(fs::exists(dir / "broken.lrc"));
    EXPECT_EQ(host.encodingReads, 2);  // read anew before each LRC file
    EXPECT_TRUE(state.lrcBody.empty());
    EXPECT_EQ(host.view.rows.size(), 4u);  // the hidden view keeps the rows of every file
}

TEST_F(JobTest, CharacterOutsideTheBmpReachesTheRowTheLogAndEveryEncodingWhole) {
    Song("note.mp3", 11, "\xF0\x9F\x8E\xB5", "[00:01.00]\xF0\x9F\x8E\xB5 x");
    const std::string header = "[ar:Singer]\r\n[ti:@]\r\n[al:Album]\r\n[00:01.00]@ x\r\n";
    const auto encoded = [&](int encoding) {
        std::u16string text;
        for (const char c : header) text += c == '@' ? u"\U0001F3B5" : std::u16string(1, c);
        std::string bytes;
        for (const char16_t unit : text) {
            const char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
            bytes += encoding == EncodingUtf16BE ? std::string{hi, lo} : std::string{lo, hi};
        }
        return (encoding == EncodingUtf16BE ? "\xFE\xFF"s : "\xFF\xFE"s) + bytes;
    };
    for (const int encoding : {EncodingUtf8, EncodingUtf16BE, EncodingUtf16LE}) {
        host.encoding = encoding;
        host.messages.clear();
        host.view.rows.clear();
        ASSERT_EQ(Run(DownloadMode::Folder, dir), 1);
        ASSERT_EQ(host.view.rows.size(), 1u);
        EXPECT_EQ(host.view.rows[0][LyricView::LyricColumn], u"\U0001F3B5 x");
        ASSERT_EQ(host.messages.size(), 3u);
        EXPECT_EQ(host.messages[1].text, u"제목: \U0001F3B5, 가수: Singer, 앨범: Album");
        std::string utf8 = header;
        utf8.replace(utf8.find('@'), 1, "\xF0\x9F\x8E\xB5");
        utf8.replace(utf8.find('@'), 1, "\xF0\x9F\x8E\xB5");
        EXPECT_EQ(ReadFileBytes(dir / "note.lrc"),
                  encoding == EncodingUtf8 ? "\xEF\xBB\xBF" + utf8 : encoded(encoding))
            << encoding;
    }
    // The ANSI code page lacks it: the file goes to UTF-16 LE, and a warning row follows the
    // saved row; a lyric it can hold stays ANSI, byte for byte.
    quillon::testing::SetEnv("QUILLON_ANSI_CODEPAGE", "CP949");
    host.encoding = EncodingAnsi;
    host.messages.clear();
    ASSERT_EQ(Run(DownloadMode::Folder, dir), 1);
    EXPECT_EQ(ReadFileBytes(dir / "note.lrc"), encoded(EncodingUtf16LE));
    ASSERT_EQ(host.messages.size(), 4u);
    EXPECT_EQ(host.messages[2].kind, LogIconSaved);
    EXPECT_EQ(host.messages[3].kind, LogIconWarning);
    EXPECT_EQ(host.messages[3].text,
              u"ANSI 코드 페이지에 없는 문자 2자: UTF-16 Little Endian으로 저장 (note.lrc)");
    fs::remove(dir / "note.mp3");
    Song("plain.mp3", 12, "봄", "[00:01.00]봄 x");
    host.messages.clear();
    ASSERT_EQ(Run(DownloadMode::Folder, dir), 1);
    EXPECT_EQ(host.messages.size(), 3u);
    EXPECT_EQ(ReadFileBytes(dir / "plain.lrc"),
              "[ar:Singer]\r\n[ti:\xBA\xBD]\r\n[al:Album]\r\n[00:01.00]\xBA\xBD x\r\n");
    quillon::testing::SetEnv("QUILLON_ANSI_CODEPAGE", "");
}

TEST_F(JobTest, FolderWithoutSongsEndsQuietlyWithSuccess) {
    WriteFileBytes(dir / "readme.txt", "x");
    EXPECT_EQ(Run(DownloadMode::Folder, dir), 1);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(JobTest, ServiceWithoutTheSongIsAServerFailureAndTheRunGoesOn) {
    WriteFileBytes(dir / "unknown.mp3", MakeMp3(9));
    Song("known.mp3", 3, "Known", "[00:01.00]x");
    EXPECT_EQ(Run(DownloadMode::Folder, dir), 1);
    bool failed = false;
    for (const auto& m : host.messages)
        failed |= m.kind == LogIconError && m.text == u"서버에서 가사 정보 취득 실패 (unknown.mp3)";
    EXPECT_TRUE(failed);
    EXPECT_TRUE(fs::exists(dir / "known.lrc"));
    EXPECT_FALSE(fs::exists(dir / "unknown.lrc"));
}

TEST_F(JobTest, LyricWithoutRowsWritesNoFileAndSaysNothingMore) {
    Song("empty.mp3", 4, "Empty", "no time tags here");
    EXPECT_EQ(Run(DownloadMode::Folder, dir), 1);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].kind, LogIconStart);
    EXPECT_FALSE(fs::exists(dir / "empty.lrc"));
}

TEST_F(JobTest, LrcThatCannotBeWrittenIsLoggedAfterTheTitleRow) {
    Song("song.mp3", 5, "T", "[00:01.00]x");
    fs::create_directories(dir / "song.lrc");  // the name is taken by a folder
    EXPECT_EQ(Run(DownloadMode::Folder, dir), 1);
    ASSERT_EQ(host.messages.size(), 3u);
    EXPECT_EQ(host.messages[1].kind, LogIconInfo);
    EXPECT_EQ(host.messages[2].kind, LogIconError);
    EXPECT_EQ(host.messages[2].text, u"가사 파일 저장 실패 (song.mp3)");
    EXPECT_TRUE(fs::is_directory(dir / "song.lrc"));
}

TEST_F(JobTest, StopDuringAQueryEndsTheRunWithoutFilesForTheSongInHand) {
    // Three songs; whichever the system lists first stalls at the service until stopped.
    std::vector<fs::path> songs = {Song("a.mp3", 6, "A", "[00:01.00]a"),
                                   Song("b.mp3", 7, "B", "[00:01.00]b"),
                                   Song("c.mp3", 8, "C", "[00:01.00]c")};
    const fs::path first = CollectMp3Files(dir).front();
    service.StallFor(ChecksumOf(first));

    std::thread stopper([&] {
        service.WaitUntilStalled();
        state.isRunning = 0;
    });
    const auto started = std::chrono::steady_clock::now();
    state.mode = DownloadMode::Folder;
    state.path = dir;
    state.isRunning = 1;
    const int result = RunDownloadJob(state, host, checksummer, query);
    const auto took = std::chrono::steady_clock::now() - started;
    stopper.join();
    service.Release();

    EXPECT_EQ(result, 0);
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_EQ(service.Requests(), 1);  // no later file was processed
    // The query the stop cut short was not run: no failure row, only its start, then the row
    // that says the run was stopped and how many songs it did not reach.
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[0].kind, LogIconStart);
    EXPECT_EQ(host.messages[1].kind, LogIconWarning);
    EXPECT_EQ(host.messages[1].text, u"작업을 중지했습니다 (남은 곡 3곡)");
    for (const auto& song : songs)
        EXPECT_FALSE(fs::exists(fs::path(song).replace_extension(".lrc")));
    EXPECT_TRUE(host.view.rows.empty());
}

TEST_F(JobTest, StopBeforeTheFirstFileDoesNothing) {
    Song("a.mp3", 10, "A", "[00:01.00]a");
    state.mode = DownloadMode::Folder;
    state.path = dir;
    state.isRunning = 0;
    EXPECT_EQ(RunDownloadJob(state, host, checksummer, query), 0);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, u"작업을 중지했습니다 (남은 곡 1곡)");
    EXPECT_EQ(service.Requests(), 0);
}

TEST_F(JobTest, SingleFileShowsTheAnswerAndLaysItOutAgainWithoutAQuery) {
    const fs::path song = Song("one.mp3", 11, "제목", kLyric);
    EXPECT_EQ(Run(DownloadMode::SingleFile, song), 1);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.fields, (std::array<std::u16string, 3>{u"제목", u"Singer", u"Album"}));
    EXPECT_EQ(state.heldInfo.title, u"제목");
    ASSERT_EQ(host.view.rows.size(), 3u);
    EXPECT_EQ(host.view.rows[1][2], u"First / Second / Third");
    EXPECT_EQ(state.lrcBody,
              u"[00:00.00]Title line\r\n[00:05.00]First / Second / Third\r\n"
              u"[00:09.50]Last\r\n");
    EXPECT_FALSE(fs::exists(dir / "one.lrc"));  // one file: nothing is written
    EXPECT_EQ(service.Requests(), 1);

    // The window clears the view and the body before the next run; the answer is held.
    host.view.rows.clear();
    state.lrcBody.clear();
    state.includeLine[1] = 0;
    EXPECT_EQ(Run(DownloadMode::SingleFile, song), 1);
    EXPECT_EQ(service.Requests(), 1);
    EXPECT_EQ(host.fieldUpdates, 1);
    ASSERT_EQ(host.view.rows.size(), 3u);
    EXPECT_EQ(host.view.rows[1][2], u"First / Third");
}

TEST_F(JobTest, SingleFileFailuresAreTipsAtTheDownloadButton) {
    WriteFileBytes(dir / "text.mp3", "not audio");
    EXPECT_EQ(Run(DownloadMode::SingleFile, dir / "text.mp3"), 0);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].kind, DownloadButtonId);
    EXPECT_EQ(host.messages[0].text, text::ChecksumFailedTip);

    host.messages.clear();
    WriteFileBytes(dir / "unknown.mp3", MakeMp3(12));
    EXPECT_EQ(Run(DownloadMode::SingleFile, dir / "unknown.mp3"), 0);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, text::ServerFailedTip);
    EXPECT_TRUE(state.heldInfo.lyric.empty());
}

TEST_F(JobTest, SingleFileLyricWithoutRowsStillSucceeds) {
    const fs::path song = Song("plain.mp3", 13, "Plain", "just words");
    EXPECT_EQ(Run(DownloadMode::SingleFile, song), 1);
    EXPECT_TRUE(host.view.rows.empty());
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(JobTest, UnreachableServiceIsAServerFailure) {
    const fs::path song = Song("one.mp3", 14, "x", "[00:01.00]x");
    LyricQuery nowhere("127.0.0.1:1");
    state.mode = DownloadMode::SingleFile;
    state.path = song;
    state.isRunning = 1;
    EXPECT_EQ(RunDownloadJob(state, host, checksummer, nowhere), 0);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, text::ServerFailedTip);
}

}  // namespace
