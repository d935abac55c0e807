// quillon-cli's fetch and folder commands run as a user runs them, against quillon-lyricsd
// serving a catalogue on loopback (or a stalling fake service for the stop request).
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "audio/checksum.h"
#include "support/fake_service.h"
#include "support/files.h"
#include "support/process.h"
#include "support/tempdir.h"
#include "text/textconv.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

using testing::ReadFileBytes;
using testing::Utf16Bytes;
using testing::WriteFileBytes;

using testing::Answer;
using testing::FakeService;
using testing::Process;
using testing::ProcessResult;
using testing::RunProcess;

const fs::path kAudio = fs::path(QUILLON_TEST_DATA_DIR) / "audio";

// The song every test fetches, as the catalogue holds it.
constexpr char kSongLrc[] =
    "[ti:봄]\n[ar:가수]\n[al:A]\n[00:00.00]봄\n[00:01.00]하나\n[00:01.00]one\n"
    "[00:01.00]hana\n[00:02.00]둘\n";
// What a folder run writes for it with both boxes on, before encoding.
constexpr char16_t kLrcText[] =
    u"[ar:가수]\r\n[ti:봄]\r\n[al:A]\r\n[00:00.00]봄\r\n[00:01.00]하나 / one / hana\r\n"
    u"[00:02.00]둘\r\n";

class CliJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root / "catalog");
        fs::create_directories(root / "work");
        fs::create_directories(root / "config");
        fs::copy_file(kAudio / "mpeg1-layer3-cbr128.mp3", root / "catalog" / "song.mp3");
        WriteFileBytes(root / "catalog" / "song.lrc", kSongLrc);
        fs::copy_file(kAudio / "mpeg2-layer3-22khz.mp3", root / "catalog" / "other.mp3");
        WriteFileBytes(root / "catalog" / "other.lrc", "[ti:Other]\n[00:03.00]x\n");
        fs::copy_file(kAudio / "mpeg1-layer2.mp3", root / "catalog" / "unknown.mp3");
    }
    void TearDown() override { service.reset(); }

    // Starts quillon-lyricsd on the catalogue and returns its address.
    std::string StartService() {
        service.emplace(
            std::vector<std::string>{QUILLON_LYRICSD, "--catalog", (root / "catalog").string(),
                                     "--database", (root / "lyricsd.sqlite").string()},
            root / "lyricsd.log");
        const auto line = service->ReadLine();
        if (!line || !line->starts_with("listening on ")) {
            ADD_FAILURE() << "quillon-lyricsd: " << line.value_or("(no line)");
            return "127.0.0.1:1";
        }
        return line->substr(13);
    }

    fs::path Work(const std::string& catalogName, const std::string& name) {
        fs::copy_file(root / "catalog" / catalogName, root / "work" / name);
        return root / "work" / name;
    }

    // Settings live in a folder of the test's own; no proxy is asked for loopback.
    std::vector<std::string> Env(std::vector<std::string> more = {}) {
        more.push_back("XDG_CONFIG_HOME=" + (root / "config").string());
        more.push_back("QUILLON_SERVICE_HOST=");
        more.push_back("no_proxy=*");
        return more;
    }

    ProcessResult Cli(std::vector<std::string> args, std::vector<std::string> env = {}) {
        args.insert(args.begin(), QUILLON_CLI);
        return RunProcess(args, root / "cli.err", Env(std::move(env)));
    }

    testing::TempDir scratch;
    const fs::path root = scratch.Path();
    std::optional<Process> service;
};

// True for "HH:MM:SS.mmm".
bool IsClockTime(std::string_view text) {
    if (text.size() != 12) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char expected = i == 2 || i == 5 ? ':' : i == 8 ? '.' : '0';
        if (expected == '0' ? (text[i] < '0' || text[i] > '9') : text[i] != expected) return false;
    }
    return true;
}

// "HH:MM:SS.mmm<TAB>KIND<TAB>TEXT" lines without their times: "KIND TEXT".
std::vector<std::string> LogWithoutTimes(const std::string& out) {
    std::vector<std::string> rows;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        const std::string text = out.substr(start, end - start);
        const bool wellFormed = text.size() > 15 && IsClockTime(text.substr(0, 12)) &&
                                text[12] == '\t' && text[13] >= '0' && text[13] <= '9' &&
                                text[14] == '\t';
        rows.push_back(wellFormed ? text.substr(13, 1) + " " + text.substr(15)
                                  : "malformed: " + text);
        start = end + 1;
    }
    return rows;
}

TEST_F(CliJobTest, FolderRunWritesTheLrcInEveryEncoding) {
    const std::string host = StartService();
    const fs::path song = Work("song.mp3", "song.mp3");
    const fs::path lrc = root / "work" / "song.lrc";
    const std::string utf8 = "\xEF\xBB\xBF" + std::string(reinterpret_cast<const char*>(
                                                  u8"[ar:가수]\r\n[ti:봄]\r\n[al:A]\r\n"
                                                  u8"[00:00.00]봄\r\n[00:01.00]하나 / one / "
                                                  u8"hana\r\n[00:02.00]둘\r\n"));
    const std::string cp949 =
        "[ar:\xB0\xA1\xBC\xF6]\r\n[ti:\xBA\xBD]\r\n[al:A]\r\n[00:00.00]\xBA\xBD\r\n"
        "[00:01.00]\xC7\xCF\xB3\xAA / one / hana\r\n[00:02.00]\xB5\xD1\r\n";
    const std::string warning =
        "6 ANSI 코드 페이지에 없는 문자 7자: UTF-16 Little Endian으로 저장 (song.lrc)";
    const struct {
        std::string encoding;
        std::string expected;
        std::string codePage = "CP949";
    } cases[] = {
        {"ansi", cp949},
        // A code page without Hangul: UTF-16 LE instead, with a warning row and in the summary.
        {"ansi", Utf16Bytes(kLrcText, false), "ISO-8859-1"},
        {"utf16be", Utf16Bytes(kLrcText, true)},
        {"utf16le", Utf16Bytes(kLrcText, false)},
        {"utf8", utf8},
        {"7", utf8.substr(3)},  // an unknown value: UTF-8 without a mark
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoding + " " + c.codePage);
        const ProcessResult run = Cli({"folder", "--jobs", "2", "--host", host, "--encoding",
                                       c.encoding, (root / "work").string()},
                                      {"QUILLON_ANSI_CODEPAGE=" + c.codePage});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(ReadFileBytes(lrc), c.expected);
        const bool lossy = c.codePage != "CP949";
        const auto rows = LogWithoutTimes(run.out);
        EXPECT_EQ(rows.back() == warning, lossy) << run.out;
        EXPECT_EQ(run.err.find("UTF-16 LE로 저장 1곡") != std::string::npos, lossy) << run.err;
    }
    // fetch --save says so on stderr.
    const ProcessResult fetched = Cli({"fetch", "--host", host, "--encoding", "ansi", song.string(),
                                       "--save", (root / "fetched.lrc").string()},
                                      {"QUILLON_ANSI_CODEPAGE=ISO-8859-1"});
    EXPECT_EQ(fetched.exitCode, 0);
    EXPECT_EQ(fetched.err,
              "ANSI 코드 페이지에 없는 문자 7자: UTF-16 Little Endian으로 저장 (fetched.lrc)\n");
    const std::u16string saved(kLrcText);  // as the save command writes: no last line end
    EXPECT_EQ(ReadFileBytes(root / "fetched.lrc"),
              Utf16Bytes(std::u16string_view(saved).substr(0, saved.size() - 2), false));
    fs::remove(root / "fetched.lrc");
    // Nothing but the songs and their LRC files is left in the folder.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root / "work"))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"song.lrc", "song.mp3"}));
}

// An LRC file as this program writes it, served by quillon-lyricsd, comes back byte for byte:
// markup characters, entity-like text and characters outside the BMP included.
TEST_F(CliJobTest, AnLrcInItsOwnFormComesBackFromTheServiceByteForByte) {
    const std::string own =
        "\xEF\xBB\xBF[ar:A & B]\r\n[ti:<봄>]\r\n[al:&amp; \xF0\x9F\x8E\xB5]\r\n"
        "[00:01.00]a < b & c > d\r\n[00:02.00]\xF0\x9F\x8E\xB5 &lt;br&gt; &#38; \"'\r\n";
    WriteFileBytes(root / "catalog" / "song.lrc", own);
    const std::string host = StartService();
    Work("song.mp3", "song.mp3");
    const ProcessResult run =
        Cli({"folder", "--host", host, "--encoding", "utf8", (root / "work").string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFileBytes(root / "work" / "song.lrc"), own);
}

TEST_F(CliJobTest, IncludeBoxesChooseTheSecondAndThirdLines) {
    const std::string host = StartService();
    Work("song.mp3", "song.mp3");
    const struct {
        std::vector<std::string> flags;
        std::string row;
    } cases[] = {
        {{}, "하나 / one / hana"},
        {{"--no-second"}, "하나 / hana"},
        {{"--no-third"}, "하나 / one"},
        {{"--no-second", "--no-third"}, "하나"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {
            "folder", (root / "work").string(), "--host", host, "--encoding", "utf8"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());  // options after the path too
        const ProcessResult run = Cli(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(ReadFileBytes(root / "work" / "song.lrc").find("[00:01.00]" + c.row + "\r\n"),
                  std::string::npos)
            << c.row;
    }
}

TEST_F(CliJobTest, ChecksumFailureBetweenGoodSongsIsLoggedAndTheRunGoesOn) {
    const std::string host = StartService();
    Work("song.mp3", "a.mp3");
    WriteFileBytes(root / "work" / "b.mp3", "no audio in here");
    Work("other.mp3", "c.MP3");
    Work("unknown.mp3", "d.mp3");
    const ProcessResult run = Cli({"folder", "--host", host, (root / "work").string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;

    const auto rows = LogWithoutTimes(run.out);
    auto has = [&](const std::string& row) {
        return std::find(rows.begin(), rows.end(), row) != rows.end();
    };
    EXPECT_TRUE(has("4 가사 정보 취득 개시 (a.mp3)")) << run.out;
    EXPECT_TRUE(has("2 제목: 봄, 가수: 가수, 앨범: A"));
    EXPECT_TRUE(has("5 가사 파일 저장 완료 (a.mp3)"));
    EXPECT_TRUE(has("3 파일 채크썸 취득 실패 (b.mp3)"));
    EXPECT_TRUE(has("5 가사 파일 저장 완료 (c.MP3)"));
    EXPECT_TRUE(has("3 서버에서 가사 정보 취득 실패 (d.mp3)"));
    EXPECT_EQ(rows.size(), 9u) << run.out;
    EXPECT_TRUE(fs::exists(root / "work" / "a.lrc"));
    EXPECT_TRUE(fs::exists(root / "work" / "c.lrc"));
    EXPECT_FALSE(fs::exists(root / "work" / "b.lrc"));
    EXPECT_FALSE(fs::exists(root / "work" / "d.lrc"));
}

TEST_F(CliJobTest, StaleLrcIsReplacedAndOddNamesKeepTheirDots) {
    const std::string host = StartService();
    Work("song.mp3", "song.mp3.bak");
    Work("song.mp3", "노래 한 곡.mp3");
    WriteFileBytes(root / "work" / "노래 한 곡.lrc", "stale");
    // A folder named with its separator still works.
    const ProcessResult run =
        Cli({"folder", "--host", host, "--encoding", "utf16le", (root / "work").string() + "/"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFileBytes(root / "work" / "song.mp3.lrc"), Utf16Bytes(kLrcText, false));
    EXPECT_EQ(ReadFileBytes(root / "work" / "노래 한 곡.lrc"), Utf16Bytes(kLrcText, false));
    EXPECT_NE(run.out.find("5\t가사 파일 저장 완료 (노래 한 곡.mp3)"), std::string::npos);
}

TEST_F(CliJobTest, LrcThatCannotBeWrittenIsLoggedAndNothingIsLost) {
    const std::string host = StartService();
    Work("song.mp3", "song.mp3");
    fs::create_directories(root / "work" / "song.lrc");
    const ProcessResult run = Cli({"folder", "--host", host, (root / "work").string()});
    EXPECT_EQ(run.exitCode, 0);
    const auto rows = LogWithoutTimes(run.out);
    ASSERT_EQ(rows.size(), 3u) << run.out;
    EXPECT_EQ(rows[1], "2 제목: 봄, 가수: 가수, 앨범: A");
    EXPECT_EQ(rows[2], "3 가사 파일 저장 실패 (song.mp3)");
    EXPECT_TRUE(fs::is_directory(root / "work" / "song.lrc"));
}

// One song at a time and eight at once over the same folder of good songs and failures of every
// kind: the same rows in the same order, and the same files byte for byte.
TEST_F(CliJobTest, SongsInHandAtOnceShowAndWriteWhatOneAtATimeDoes) {
    const std::string host = StartService();
    for (int i = 0; i < 12; ++i)
        Work(i % 3 == 2 ? "other.mp3" : "song.mp3", "good-" + std::to_string(i) + ".mp3");
    WriteFileBytes(root / "work" / "text.mp3", "no audio in here");
    fs::copy_file(kAudio / "free-format-only.mp3", root / "work" / "no-frames.mp3");
    Work("unknown.mp3", "unknown.mp3");
    Work("song.mp3", "blocked.mp3");
    fs::create_directories(root / "work" / "blocked.lrc");

    const auto runWith = [&](const char* jobs, std::map<std::string, std::string>& files) {
        const ProcessResult run = Cli({"folder", "--jobs", jobs, "--host", host, "--encoding",
                                       "utf16be", (root / "work").string()});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        for (const auto& entry : fs::directory_iterator(root / "work")) {
            if (entry.path().extension() != ".lrc" || entry.is_directory()) continue;
            files[entry.path().filename().string()] = ReadFileBytes(entry.path());
            fs::remove(entry.path());
        }
        return LogWithoutTimes(run.out);
    };
    std::map<std::string, std::string> one, eight;
    const auto rowsOne = runWith("1", one);
    const auto rowsEight = runWith("8", eight);
    EXPECT_EQ(rowsEight, rowsOne);
    EXPECT_EQ(eight, one);
    EXPECT_EQ(one.size(), 12u);
    EXPECT_EQ(one["good-0.lrc"], Utf16Bytes(kLrcText, true));
    for (const char* row :
         {"3 파일 채크썸 취득 실패 (text.mp3)", "3 파일 채크썸 취득 실패 (no-frames.mp3)",
          "3 서버에서 가사 정보 취득 실패 (unknown.mp3)", "3 가사 파일 저장 실패 (blocked.mp3)"})
        EXPECT_NE(std::find(rowsOne.begin(), rowsOne.end(), row), rowsOne.end()) << row;
    EXPECT_EQ(rowsOne.size(), 12u * 3 + 2 + 2 + 3);
}

// A library tree: the chosen folder's songs, then each subfolder's in name order, named by
// their path below it; a link to a folder is not followed. A second run, from the settings,
// passes over the songs that have their LRC file.
TEST_F(CliJobTest, SubfoldersGoInNameOrderAndSongsWithLyricsAreSkipped) {
    const std::string host = StartService();
    for (const char* folder : {"B/inner", "Zed", "a"})
        fs::create_directories(root / "work" / folder);
    Work("song.mp3", "top.mp3");
    Work("other.mp3", "B/b.mp3");
    Work("song.mp3", "B/inner/deep.mp3");
    Work("other.mp3", "Zed/z.mp3");
    Work("unknown.mp3", "a/a.mp3");
    fs::create_directory_symlink(root / "work" / "B", root / "work" / "link");
    fs::create_directory_symlink(root / "work", root / "work" / "B" / "loop");

    ProcessResult run = Cli({"folder", "--recursive", "--host", host, (root / "work").string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> expected;
    const std::string spring = "2 제목: 봄, 가수: 가수, 앨범: A";
    const std::string other = "2 제목: Other, 가수: , 앨범: ";
    for (const auto& [name, info] :
         {std::pair{"top.mp3", spring}, std::pair{"B/b.mp3", other},
          std::pair{"B/inner/deep.mp3", spring}, std::pair{"Zed/z.mp3", other}}) {
        expected.push_back(std::string("4 가사 정보 취득 개시 (") + name + ")");
        expected.push_back(info);
        expected.push_back(std::string("5 가사 파일 저장 완료 (") + name + ")");
    }
    expected.push_back("4 가사 정보 취득 개시 (a/a.mp3)");
    expected.push_back("3 서버에서 가사 정보 취득 실패 (a/a.mp3)");
    EXPECT_EQ(LogWithoutTimes(run.out), expected);
    EXPECT_TRUE(run.err.starts_with("저장 4곡, 실패 1곡, 건너뜀 0곡 (0분 ")) << run.err;
    EXPECT_TRUE(fs::exists(root / "work" / "B" / "inner" / "deep.lrc"));

    fs::create_directories(root / "config" / "Brantwell");
    WriteFileBytes(root / "config" / "Brantwell" / "Quillon.conf",
                   "[Settings]\nIncludeSubfolders=1\nSkipExisting=1\n");
    run = Cli({"folder", "--host", host, (root / "work").string()});
    EXPECT_EQ(LogWithoutTimes(run.out),
              (std::vector<std::string>{"4 가사 정보 취득 개시 (a/a.mp3)",
                                        "3 서버에서 가사 정보 취득 실패 (a/a.mp3)"}));
    EXPECT_TRUE(run.err.starts_with("저장 0곡, 실패 1곡, 건너뜀 4곡 (0분 ")) << run.err;
}

TEST_F(CliJobTest, ReadOnlyFolderKeepsItsOldLrc) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    const std::string host = StartService();
    Work("song.mp3", "song.mp3");
    WriteFileBytes(root / "work" / "song.lrc", "old");
    fs::permissions(root / "work", fs::perms::owner_read | fs::perms::owner_exec);
    const ProcessResult run = Cli({"folder", "--host", host, (root / "work").string()});
    fs::permissions(root / "work", fs::perms::owner_all);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("3\t가사 파일 저장 실패 (song.mp3)"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(root / "work" / "song.lrc"), "old");
}

TEST_F(CliJobTest, InterruptStopsTheRunAfterTheSongInHand) {
    FakeService fake;
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) Work("song.mp3", name);
    AudioChecksummer checksummer;
    AudioChecksum sum;
    ASSERT_EQ(checksummer.Compute(root / "work" / "a.mp3", sum), ChecksumStatus::Ok);
    fake.SetAnswer(std::string(sum.data(), 32), Answer("T", "[00:01.00]x"));
    fake.StallFor(std::string(sum.data(), 32));  // every copy is the same song

    Process cli({QUILLON_CLI, "folder", "--host", fake.Host(), (root / "work").string()},
                root / "cli.err", Env());
    const auto first = cli.ReadLine();
    ASSERT_TRUE(first);
    EXPECT_NE(first->find("\t4\t"), std::string::npos) << *first;
    fake.WaitUntilStalled();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(std::chrono::seconds(5)), 1);
    const std::string rest = cli.ReadRest(std::chrono::seconds(1));
    // A query the stop cut short is no server failure: only the row that says the run stopped.
    EXPECT_EQ(LogWithoutTimes(rest),
              std::vector<std::string>{"6 작업을 중지했습니다 (남은 곡 3곡)"});
    EXPECT_EQ(fake.Requests(), 1);
    for (const char* name : {"a.lrc", "b.lrc", "c.lrc"})
        EXPECT_FALSE(fs::exists(root / "work" / name));
}

TEST_F(CliJobTest, SettingsGiveTheEncodingAndTheHost) {
    const std::string host = StartService();
    Work("song.mp3", "song.mp3");
    fs::create_directories(root / "config" / "Brantwell");
    WriteFileBytes(root / "config" / "Brantwell" / "Quillon.conf",
                   "[Settings]\nEncoding=2\nServiceHost=" + host + "\n");
    ProcessResult run = Cli({"folder", (root / "work").string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFileBytes(root / "work" / "song.lrc"), Utf16Bytes(kLrcText, false));

    // The environment wins over the setting, and --host over both.
    fs::remove(root / "work" / "song.lrc");
    run = Cli({"folder", (root / "work").string()}, {"QUILLON_SERVICE_HOST=127.0.0.1:1"});
    EXPECT_NE(run.out.find("\t3\t서버에서 가사 정보 취득 실패"), std::string::npos) << run.out;
    run = Cli({"folder", "--host", host, (root / "work").string()},
              {"QUILLON_SERVICE_HOST=127.0.0.1:1"});
    EXPECT_TRUE(fs::exists(root / "work" / "song.lrc"));
}

TEST_F(CliJobTest, FetchPrintsTheSongAndSavesItsRows) {
    const std::string host = StartService();
    const fs::path song = Work("song.mp3", "song.mp3");
    const fs::path saved = root / "saved.lrc";
    const ProcessResult run = Cli({"fetch", song.string(), "--host", host, "--no-third", "--save",
                                   saved.string(), "--encoding", "utf16be"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "제목: 봄\n가수: 가수\n앨범: A\n00:00.00\t봄\n00:01.00\t하나 / one\n00:02.00\t둘\n");
    EXPECT_EQ(ReadFileBytes(saved), Utf16Bytes(u"[ar:가수]\r\n[ti:봄]\r\n[al:A]\r\n[00:00.00]봄\r\n"
                                               u"[00:01.00]하나 / one\r\n[00:02.00]둘",
                                               true));
    EXPECT_FALSE(fs::exists(root / "work" / "song.lrc"));  // fetching one file writes no LRC
}

// --embed: the lyric goes into each song's tag as well, where an outside reader finds it, and
// every song keeps its checksum; a song whose checksum region starts inside its tag keeps its
// tag as it was, with an error row after its saved row, and still gets its LRC file.
TEST_F(CliJobTest, EmbeddedLyricsReachTheTagAndEverySongKeepsItsChecksum) {
    fs::copy_file(kAudio / "id3v2-sync-pattern-in-tag-mpeg1-layer3.mp3",
                  root / "catalog" / "patterned.mp3");
    WriteFileBytes(root / "catalog" / "patterned.lrc", "[ti:P]\n[00:01.00]p\n");
    const std::string host = StartService();
    const fs::path song = Work("song.mp3", "song.mp3");
    const fs::path patterned = Work("patterned.mp3", "patterned.mp3");
    const std::string patternedBytes = ReadFileBytes(patterned);
    const ProcessResult before = Cli({"checksum", song.string(), patterned.string()});

    const ProcessResult run = Cli({"folder", "--embed", "--jobs", "2", "--verbose", "--host", host,
                                   "--encoding", "utf8", (root / "work").string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> rows = LogWithoutTimes(run.out);
    const auto saved = std::find(rows.begin(), rows.end(), "5 가사 파일 저장 완료 (patterned.mp3)");
    ASSERT_NE(saved, rows.end()) << run.out;
    ASSERT_NE(saved + 1, rows.end());
    EXPECT_EQ(saved[1], "3 태그에 가사 저장 실패 (patterned.mp3)");
    EXPECT_NE(run.err.find("태그를 바꾸면 곡의 오디오 채크썸이 달라지므로 그대로 둡니다"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(root / "work" / "patterned.lrc"));
    EXPECT_EQ(ReadFileBytes(patterned), patternedBytes);
    EXPECT_EQ(Cli({"checksum", song.string(), patterned.string()}).out, before.out);

    std::u16string lf = kLrcText;
    std::erase(lf, u'\r');
    const ProcessResult lyrics = Cli({"lyrics", song.string()});
    EXPECT_EQ(lyrics.exitCode, 0);
    EXPECT_EQ(lyrics.out, WideToUtf8(lf));
    EXPECT_EQ(Cli({"lyrics", patterned.string()}).exitCode, 1);

    // An outside reader of ID3v2 tags shows the same lyric.
    const ProcessResult outside =
        RunProcess({"/usr/bin/env", "eyeD3", "--no-color", song.string()}, root / "eyed3.err",
                   {"PYTHONIOENCODING=utf-8", "LC_ALL=C.UTF-8"});
    ASSERT_EQ(outside.exitCode, 0) << outside.err;
    EXPECT_NE(outside.out.find("Lyrics: [Description: ] [Lang: kor]"), std::string::npos)
        << outside.out;
    EXPECT_NE(outside.out.find("[00:01.00]하나 / one / hana\n[00:02.00]둘"), std::string::npos)
        << outside.out;
}

// The cause of a service that refuses the connection: a Korean sentence, then the system's words.
std::string Unreachable(const std::string& host) {
    return "가사 서비스(" + host + ")와 통신하지 못했습니다: Connection refused";
}

TEST_F(CliJobTest, FetchFailuresPrintTheTipAndExitWithOne) {
    const std::string host = StartService();
    WriteFileBytes(root / "work" / "text.mp3", "not audio");
    ProcessResult run = Cli({"fetch", "--host", host, (root / "work" / "text.mp3").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "파일 채크썸 취득에 실패했습니다. (MPEG 오디오 프레임을 찾지 못했습니다)\n");
    EXPECT_EQ(run.out, "");

    run = Cli({"fetch", "--host", host, Work("unknown.mp3", "unknown.mp3").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "서버에서 가사 정보 취득에 실패했습니다. (가사 서비스에 이 곡의 가사가 없습니다)\n");

    // A wrong service host is explained; in a folder run with --verbose as well, on stderr.
    const std::string nowhere = "127.0.0.1:1";
    run = Cli({"fetch", "--host", nowhere, (root / "work" / "unknown.mp3").string()});
    EXPECT_EQ(run.err, "서버에서 가사 정보 취득에 실패했습니다. (" + Unreachable(nowhere) + ")\n");
    run = Cli({"folder", "--verbose", "--host", nowhere, (root / "work").string()});
    EXPECT_EQ(run.exitCode, 0);
    for (const std::string& line :
         {std::string(
              "\t3\t파일 채크썸 취득 실패 (text.mp3)\tMPEG 오디오 프레임을 찾지 못했습니다\n"),
          "\t3\t서버에서 가사 정보 취득 실패 (unknown.mp3)\t" + Unreachable(nowhere) + "\n"}) {
        EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
        EXPECT_NE(run.out.find(line.substr(0, line.rfind('\t')) + "\n"), std::string::npos);
    }

    run = Cli({"fetch", "--host", host, (root / "work").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "지정된 파일이 유효하지 않습니다.\n");

    run = Cli({"folder", "--host", host, (root / "work" / "text.mp3").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "지정된 폴더가 유효하지 않습니다.\n");

    const fs::path song = Work("song.mp3", "song.mp3");
    run = Cli(
        {"fetch", "--host", host, song.string(), "--save", (root / "missing" / "x.lrc").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "가사 파일 저장에 실패했습니다. (임시 파일을 만들 수 없습니다: No such file or "
              "directory)\n");
}

TEST_F(CliJobTest, UsageErrorsExitWithTwoAndOneLine) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"fetch"},
                                                 {"folder"},
                                                 {"fetch", "a", "b"},
                                                 {"folder", "--encoding", "latin9", "x"},
                                                 {"fetch", "--bogus", "x"},
                                                 {"folder", "x", "--host"},
                                                 {"nonsense"}}) {
        const ProcessResult run = Cli(args);
        EXPECT_EQ(run.exitCode, 2) << args.front();
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    for (const char* command : {"fetch", "folder"}) {
        const ProcessResult run = Cli({command, "--help"});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.out.starts_with(std::string("Usage: quillon-cli ") + command));
    }
}

}  // namespace
}  // namespace quillon
