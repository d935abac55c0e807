// Runs against a lyrics service on loopback, with a listener that records what a front end
// would be told.
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

#include "audio/checksum.h"
#include "pipeline/messages.h"
#include "pipeline/run.h"
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
    EventTone tone;
    std::u16string text;
    bool failure;
};

// Records what a front end would be told, in order.
class RecordingListener final : public RunListener {
public:
    void Logged(const JobEvent& event) override {
        messages.push_back({ToneOf(event.kind), event.text, IsFailure(event.kind)});
        causes.push_back(event.cause);
    }
    void SongShown(const ShownSong& song) override {
        view.AppendRows(song.rows);
        if (song.asked) {
            fields = {song.info.title, song.info.artist, song.info.album};
            ++fieldUpdates;
            held = song.info;
        }
        lrcBody = song.lrcBody;
    }
    void Progressed(const JobProgress& progress) override { last = progress; }

    MemoryLyricView view;
    std::array<std::u16string, 3> fields;
    int fieldUpdates = 0;
    LyricInfo held;
    std::u16string lrcBody;
    std::vector<Message> messages;
    std::vector<std::string> causes;
    JobProgress last;
};

class RunTest : public ::testing::Test {
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
        spec.mode = mode;
        spec.path = path;
        spec.plan.writeFile = mode == DownloadMode::Folder;
        running = 1;
        const RunEnd end = RunJob(spec, host, running, makeSource);
        running = 0;
        return end.result;
    }

    TempDir scratch;
    const fs::path dir = scratch.Path();
    FakeService service;
    RunSpec spec = [] {
        RunSpec folder;
        folder.plan.encoding = EncodingUtf8;
        return folder;
    }();
    RecordingListener host;
    std::atomic<int> running{0};
    SourceMaker makeSource = [this] { return std::make_unique<ChecksumSource>(service.Host()); };
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

TEST_F(RunTest, FolderRunLogsEveryStepAndWritesAnLrcBesideEachSong) {
    Song("one.mp3", 1, "첫 노래", kLyric);
    WriteFileBytes(dir / "broken.mp3", "this is no audio at all");
    Song("two.mp3", 2, "Second", "[00:01.00]Only");

    EXPECT_EQ(Run(DownloadMode::Folder, dir), 1);

    std::map<std::u16string, std::vector<EventTone>> kindsByFile;
    for (const auto& m : host.messages) {
        const auto open = m.text.rfind(u'(');
        if (open != std::u16string::npos) kindsByFile[m.text.substr(open)].push_back(m.tone);
    }
    EXPECT_EQ(kindsByFile[u"(one.mp3)"],
              (std::vector<EventTone>{EventTone::Start, EventTone::Saved}));
    EXPECT_EQ(kindsByFile[u"(two.mp3)"],
              (std::vector<EventTone>{EventTone::Start, EventTone::Saved}));
    EXPECT_EQ(kindsByFile[u"(broken.mp3)"], (std::vector<EventTone>{EventTone::Error}));

    int infoRows = 0;
    for (std::size_t i = 0; i < host.messages.size(); ++i) {
        const auto& m = host.messages[i];
        if (m.tone == EventTone::Info) {
            ++infoRows;
            ASSERT_LT(i + 1, host.messages.size());
            EXPECT_EQ(host.messages[i + 1].tone, EventTone::Saved);  // the title row comes first
        }
        if (m.tone == EventTone::Start) {
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
    EXPECT_EQ(host.view.rows.size(), 4u);  // the hidden view keeps the rows of every file
}

TEST_F(RunTest, CharacterOutsideTheBmpReachesTheRowTheLogAndEveryEncodingWhole) {
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
        spec.plan.encoding = encoding;
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
    spec.plan.encoding = EncodingAnsi;
    host.messages.clear();
    ASSERT_EQ(Run(DownloadMode::Folder, dir), 1);
    EXPECT_EQ(ReadFileBytes(dir / "note.lrc"), encoded(EncodingUtf16LE));
    ASSERT_EQ(host.messages.size(), 4u);
    EXPECT_EQ(host.messages[2].tone, EventTone::Saved);
    EXPECT_EQ(host.messages[3].tone, EventTone::Warning);
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

TEST_F(RunTest, FolderWithoutSongsEndsQuietlyWithSuccess) {
    WriteFileBytes(dir / "readme.txt", "x");
    EXPECT_EQ(Run(DownloadMode::Folder, dir), 1);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(RunTest, ServiceWithoutTheSongIsAServerFailureAndTheRunGoesOn) {
    WriteFileBytes(dir / "unknown.mp3", MakeMp3(9));
    Song("known.mp3", 3, "Known", "[00:01.00]x");
    EXPECT_EQ(Run(DownloadMode::Folder, dir), 1);
    bool failed = false;
    for (const auto& m : host.messages)
        failed |=
            m.tone == EventTone::Error && m.text == u"서버에서 가사 정보 취득 실패 (unknown.mp3)";
    EXPECT_TRUE(failed);
    EXPECT_TRUE(fs::exists(dir / "known.lrc"));
    EXPECT_FALSE(fs::exists(dir / "unknown.lrc"));
}

TEST_F(RunTest, LyricWithoutRowsWritesNoFileAndSaysNothingMore) {
    Song("empty.mp3", 4, "Empty", "no time tags here");
    EXPECT_EQ(Run(DownloadMode::Folder, dir), 1);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].tone, EventTone::Start);
    EXPECT_FALSE(fs::exists(dir / "empty.lrc"));
}

TEST_F(RunTest, LrcThatCannotBeWrittenIsLoggedAfterTheTitleRow) {
    Song("song.mp3", 5, "T", "[00:01.00]x");
    fs::create_directories(dir / "song.lrc");  // the name is taken by a folder
    EXPECT_EQ(Run(DownloadMode::Folder, dir), 1);
    ASSERT_EQ(host.messages.size(), 3u);
    EXPECT_EQ(host.messages[1].tone, EventTone::Info);
    EXPECT_EQ(host.messages[2].tone, EventTone::Error);
    EXPECT_EQ(host.messages[2].text, u"가사 파일 저장 실패 (song.mp3)");
    EXPECT_TRUE(fs::is_directory(dir / "song.lrc"));
}

TEST_F(RunTest, StopDuringAQueryEndsTheRunWithoutFilesForTheSongInHand) {
    // Three songs; whichever the system lists first stalls at the service until stopped.
    std::vector<fs::path> songs = {Song("a.mp3", 6, "A", "[00:01.00]a"),
                                   Song("b.mp3", 7, "B", "[00:01.00]b"),
                                   Song("c.mp3", 8, "C", "[00:01.00]c")};
    const fs::path first = CollectMp3Files(dir).front();
    service.StallFor(ChecksumOf(first));

    std::thread stopper([&] {
        service.WaitUntilStalled();
        running = 0;
    });
    const auto started = std::chrono::steady_clock::now();
    spec.mode = DownloadMode::Folder;
    spec.path = dir;
    spec.plan.writeFile = true;
    running = 1;
    const int result = RunJob(spec, host, running, makeSource).result;
    const auto took = std::chrono::steady_clock::now() - started;
    stopper.join();
    service.Release();

    EXPECT_EQ(result, 0);
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_EQ(service.Requests(), 1);  // no later file was processed
    // The query the stop cut short was not run: no failure row, only its start, then the row
    // that says the run was stopped and how many songs it did not reach.
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[0].tone, EventTone::Start);
    EXPECT_EQ(host.messages[1].tone, EventTone::Warning);
    EXPECT_EQ(host.messages[1].text, u"작업을 중지했습니다 (남은 곡 3곡)");
    for (const auto& song : songs)
        EXPECT_FALSE(fs::exists(fs::path(song).replace_extension(".lrc")));
    EXPECT_TRUE(host.view.rows.empty());
}

TEST_F(RunTest, StopBeforeTheFirstFileDoesNothing) {
    Song("a.mp3", 10, "A", "[00:01.00]a");
    spec.mode = DownloadMode::Folder;
    spec.path = dir;
    EXPECT_EQ(RunJob(spec, host, running, makeSource).result, 0);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, u"작업을 중지했습니다 (남은 곡 1곡)");
    EXPECT_EQ(service.Requests(), 0);
}

TEST_F(RunTest, SingleFileShowsTheAnswerAndLaysItOutAgainWithoutAQuery) {
    const fs::path song = Song("one.mp3", 11, "제목", kLyric);
    EXPECT_EQ(Run(DownloadMode::SingleFile, song), 1);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.fields, (std::array<std::u16string, 3>{u"제목", u"Singer", u"Album"}));
    EXPECT_EQ(host.held.title, u"제목");
    ASSERT_EQ(host.view.rows.size(), 3u);
    EXPECT_EQ(host.view.rows[1][2], u"First / Second / Third");
    EXPECT_EQ(host.lrcBody,
              u"[00:00.00]Title line\r\n[00:05.00]First / Second / Third\r\n"
              u"[00:09.50]Last\r\n");
    EXPECT_FALSE(fs::exists(dir / "one.lrc"));  // one file: nothing is written
    EXPECT_EQ(service.Requests(), 1);

    // The window clears the view before the next run; the answer is held.
    host.view.rows.clear();
    spec.held = host.held;
    spec.plan.includeLine[1] = 0;
    EXPECT_EQ(Run(DownloadMode::SingleFile, song), 1);
    EXPECT_EQ(service.Requests(), 1);
    EXPECT_EQ(host.fieldUpdates, 1);
    ASSERT_EQ(host.view.rows.size(), 3u);
    EXPECT_EQ(host.view.rows[1][2], u"First / Third");
}

TEST_F(RunTest, SingleFileFailuresAreTipsAtTheDownloadButton) {
    WriteFileBytes(dir / "text.mp3", "not audio");
    EXPECT_EQ(Run(DownloadMode::SingleFile, dir / "text.mp3"), 0);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].failure);
    EXPECT_EQ(host.messages[0].text, text::ChecksumFailedTip);

    host.messages.clear();
    WriteFileBytes(dir / "unknown.mp3", MakeMp3(12));
    EXPECT_EQ(Run(DownloadMode::SingleFile, dir / "unknown.mp3"), 0);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, text::ServerFailedTip);
    EXPECT_TRUE(host.held.lyric.empty());
}

TEST_F(RunTest, SingleFileLyricWithoutRowsStillSucceeds) {
    const fs::path song = Song("plain.mp3", 13, "Plain", "just words");
    EXPECT_EQ(Run(DownloadMode::SingleFile, song), 1);
    EXPECT_TRUE(host.view.rows.empty());
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(RunTest, UnreachableServiceIsAServerFailure) {
    const fs::path song = Song("one.mp3", 14, "x", "[00:01.00]x");
    makeSource = [] { return std::make_unique<ChecksumSource>("127.0.0.1:1"); };
    EXPECT_EQ(Run(DownloadMode::SingleFile, song), 0);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, text::ServerFailedTip);
}

}  // namespace

namespace {

// A source that answers from a script: how a new kind of service plugs into the engine.
class ScriptedSource final : public LyricSource {
public:
    explicit ScriptedSource(std::map<std::string, SourceAnswer> script)
        : answers(std::move(script)) {}
    SourceAnswer Find(const fs::path& song, const FindContext& context) override {
        if (context.asking) context.asking();
        return answers.at(song.filename().string());
    }

private:
    std::map<std::string, SourceAnswer> answers;
};

TEST_F(RunTest, SongTaskEndsInATypedResultAtEachStage) {
    const fs::path known = Song("known.mp3", 31, "T", "[00:01.00]a");
    WriteFileBytes(dir / "noaudio.mp3", "text");
    WriteFileBytes(dir / "unknown.mp3", MakeMp3(32));
    const fs::path blocked = Song("blocked.mp3", 33, "B", "[00:01.00]b");
    fs::create_directories(dir / "blocked.lrc");
    ChecksumSource source(service.Host());
    SongPlan folder;
    folder.writeFile = true;
    folder.encoding = EncodingUtf8;
    const SongPlan oneFile;
    SongPlan tagless = folder;
    tagless.embed = [](const fs::path&, std::u16string_view, std::string_view key) {
        return WriteFailed(WriteStep::Write, "tag refused " + std::string(key.substr(0, 4)));
    };
    const auto finish = [&](const fs::path& path, const SongPlan& plan, bool runs = true) {
        const ListedSong song{path, DisplayName(path)};
        SongTask task(song, plan);
        task.Prepare(source, {[runs] { return runs; }, {}, nullptr});
        return SongResult(task.Finish());
    };

    SongResult result = finish(dir / "noaudio.mp3", folder);
    EXPECT_EQ(result.outcome, SongOutcome::Failed);
    EXPECT_EQ(result.stage, SongStage::Checksum);
    EXPECT_FALSE(result.cause.empty());
    result = finish(dir / "unknown.mp3", folder);
    EXPECT_EQ(result.outcome, SongOutcome::Failed);
    EXPECT_EQ(result.stage, SongStage::Query);
    EXPECT_EQ(result.cause, "가사 서비스에 이 곡의 가사가 없습니다");
    result = finish(known, oneFile);
    EXPECT_EQ(result.outcome, SongOutcome::Shown);
    EXPECT_EQ(result.rows.size(), 1u);
    EXPECT_FALSE(fs::exists(dir / "known.lrc"));
    result = finish(known, folder, false);
    EXPECT_EQ(result.outcome, SongOutcome::Stopped);
    EXPECT_FALSE(fs::exists(dir / "known.lrc"));
    result = finish(known, folder);
    EXPECT_EQ(result.outcome, SongOutcome::Saved);
    EXPECT_FALSE(result.tagFailed);
    EXPECT_EQ(ReadFileBytes(dir / "known.lrc"),
              "\xEF\xBB\xBF[ar:Singer]\r\n[ti:T]\r\n[al:Album]\r\n[00:01.00]a\r\n");
    result = finish(known, tagless);
    EXPECT_EQ(result.outcome, SongOutcome::Saved);
    EXPECT_TRUE(result.tagFailed);
    EXPECT_NE(result.tagCause.find("tag refused " + ChecksumOf(known).substr(0, 4)),
              std::string::npos)
        << result.tagCause;
    result = finish(blocked, folder);
    EXPECT_EQ(result.outcome, SongOutcome::Failed);
    EXPECT_EQ(result.stage, SongStage::Write);
    EXPECT_TRUE(fs::is_directory(dir / "blocked.lrc"));

    // A file written ahead for a song that is never finished goes again.
    fs::remove(dir / "known.lrc");
    {
        const ListedSong song{known, u"known.mp3"};
        SongTask task(song, folder);
        task.Prepare(source, {[] { return true; }, {}, nullptr});
    }
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".quillon-"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "known.lrc"));
}

TEST_F(RunTest, SourceWithoutTimedLyricsLeavesNoFileAndTheRunGoesOn) {
    WriteFileBytes(dir / "quiet.mp3", "x");
    WriteFileBytes(dir / "plain.mp3", "x");
    SourceAnswer instrumental;
    instrumental.outcome = SongOutcome::Instrumental;
    SourceAnswer plain;
    plain.outcome = SongOutcome::PlainLyrics;
    plain.info.title = u"P";
    plain.info.lyric = u"words without times";
    makeSource = [&] {
        return std::make_unique<ScriptedSource>(
            std::map<std::string, SourceAnswer>{{"quiet.mp3", instrumental}, {"plain.mp3", plain}});
    };
    spec.options.concurrency = 2;
    EXPECT_EQ(Run(DownloadMode::Folder, dir), 1);
    EXPECT_EQ(host.last.done, 2);
    EXPECT_EQ(host.last.saved, 0);
    EXPECT_EQ(host.last.failed, 0);
    EXPECT_FALSE(fs::exists(dir / "quiet.lrc"));
    EXPECT_FALSE(fs::exists(dir / "plain.lrc"));
    for (const auto& m : host.messages) EXPECT_EQ(m.tone, EventTone::Start) << WideToUtf8(m.text);
}

TEST_F(RunTest, SystemFailureEndsTheRunWithItsCause) {
    Song("a.mp3", 34, "A", "[00:01.00]a");
    makeSource = []() -> std::unique_ptr<LyricSource> { throw std::runtime_error("no sockets"); };
    for (const DownloadMode mode : {DownloadMode::Folder, DownloadMode::SingleFile}) {
        host.messages.clear();
        host.causes.clear();
        spec.mode = mode;
        spec.path = mode == DownloadMode::Folder ? dir : dir / "a.mp3";
        spec.options.concurrency = 3;
        running = 1;
        const RunEnd end = RunJob(spec, host, running, makeSource);
        EXPECT_EQ(end.result, 0);
        EXPECT_EQ(end.cause, "no sockets");
        // Said once, as a failure with its cause; a run that failed was not stopped.
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].text, text::RunFailed);
        EXPECT_TRUE(host.messages[0].failure);
        EXPECT_EQ(host.causes[0], "no sockets");
    }
    EXPECT_TRUE(host.last.finished);
    EXPECT_FALSE(host.last.stopped);
    EXPECT_FALSE(fs::exists(dir / "a.lrc"));
}

}  // namespace
