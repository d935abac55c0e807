// What only the Windows build has: the settings in the registry, encoding 0 through
// WideCharToMultiByte, music files held without sharing or gone before their turn, read-only
// LRC files.
// winsock2.h (for the service on loopback) before windows.h, which would bring the old one.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "audio/checksum.h"
#include "pipeline/lrc.h"
#include "pipeline/run.h"
#include "pipeline/textwriter.h"
#include "service/lyricquery.h"
#include "settings/usersettings.h"
#include "support/fake_service.h"
#include "support/files.h"
#include "support/tempdir.h"

namespace quillon {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

constexpr wchar_t Key[] = L"Software\\Brantwell\\Quillon\\Settings";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Brantwell"); }
    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Brantwell"); }

    static DWORD TypeOf(const wchar_t* name) {
        DWORD type = REG_NONE;
        ::RegGetValueW(HKEY_CURRENT_USER, Key, name, RRF_RT_ANY, &type, nullptr, nullptr);
        return type;
    }
};

TEST_F(RegistryTest, DefaultsThenTextsAsStringsAndTheEncodingAsANumber) {
    {
        const auto settings = OpenUserSettings();
        EXPECT_EQ(settings->ReadText(SettingsPort::Text::LastOpenFile), u"");
        EXPECT_EQ(settings->ReadText(SettingsPort::Text::ServiceHost), u"localhost");
        EXPECT_EQ(settings->ReadEncoding(), 0);
        settings->WriteText(SettingsPort::Text::LastOpenFile, u"C:\\음악\\봄.mp3");
        settings->WriteText(SettingsPort::Text::LastOpenDir, u"C:\\음악");
        settings->WriteEncoding(2);
    }
    const auto settings = OpenUserSettings();
    EXPECT_EQ(settings->ReadText(SettingsPort::Text::LastOpenFile), u"C:\\음악\\봄.mp3");
    EXPECT_EQ(settings->ReadText(SettingsPort::Text::LastOpenDir), u"C:\\음악");
    EXPECT_EQ(settings->ReadEncoding(), 2);
    EXPECT_EQ(TypeOf(L"LastOpenFile"), static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(TypeOf(L"Encoding"), static_cast<DWORD>(REG_DWORD));

    // Set by hand: a number as text counts, anything else reads as 0; an empty host is the
    // default one.
    ::RegSetKeyValueW(HKEY_CURRENT_USER, Key, L"Encoding", REG_SZ, L"3", 4);
    ::RegSetKeyValueW(HKEY_CURRENT_USER, Key, L"ServiceHost", REG_SZ, L"", 2);
    EXPECT_EQ(settings->ReadEncoding(), 3);
    EXPECT_EQ(settings->ReadText(SettingsPort::Text::ServiceHost), u"localhost");
    ::RegSetKeyValueW(HKEY_CURRENT_USER, Key, L"Encoding", REG_SZ, L"utf-8", 12);
    EXPECT_EQ(settings->ReadEncoding(), 0);
}

TEST(AnsiTest, TheCodePageOrTheSystemsOwnWithItsReplacementCharacter) {
    // Without flags the system maps what it can to a look-alike ("best fit"), the rest to '?'.
    EXPECT_EQ(ConvertToAnsi(u"[a]\uAC00\u00E9\u263A", "CP949"),
              "[a]\xB0\xA1"
              "e?");
    EXPECT_EQ(ConvertToAnsi(u"\u00E9\uAC00", "1252"), "\xE9?");
    EXPECT_EQ(ConvertToAnsi(std::u16string(u"ab\0c", 4), "949"), "ab");
    // No number: the system's ANSI code page.
    const std::u16string text = u"x\u00E9\uAC00";
    char expected[16] = {};
    const int size = ::WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(text.data()),
                                           3, expected, sizeof expected, nullptr, nullptr);
    EXPECT_EQ(ConvertToAnsi(text, ""), std::string(expected, static_cast<std::size_t>(size)));
}

TEST(SharingTest, AFileHeldWithoutSharingIsAChecksumFailureAndAHeldSongStaysAsItIs) {
    TempDir dir;
    const auto song = dir.Path() / L"노래.mp3";
    std::filesystem::copy_file(
        std::filesystem::path(QUILLON_TEST_DATA_DIR) / "audio" / "mpeg1-layer3-cbr128.mp3", song);
    AudioChecksummer checksummer;
    AudioChecksum sum;
    {
        const HANDLE other = ::CreateFileW(song.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        EXPECT_EQ(checksummer.Compute(song, sum), ChecksumStatus::CannotOpen);
        EXPECT_EQ(checksummer.File().LastOpenError(), ERROR_SHARING_VIOLATION);
        EXPECT_NE(
            ChecksumCause(checksummer, ChecksumStatus::CannotOpen).find("파일을 열 수 없습니다: "),
            std::string::npos);
        ::CloseHandle(other);
    }
    // While the reader holds the song, nobody writes to it or deletes it.
    Mp3File file;
    ASSERT_TRUE(file.Open(song));
    const HANDLE writer = ::CreateFileW(song.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    EXPECT_FALSE(::DeleteFileW(song.c_str()));
    file.Close();
    EXPECT_EQ(checksummer.Compute(song, sum), ChecksumStatus::Ok);
}

// A listener that deletes the next listed song when the run announces the first, and then lets
// the service answer: the file vanishes between the listing and its checksum.
class DeletingListener final : public RunListener {
public:
    DeletingListener(std::filesystem::path file, testing::FakeService& held)
        : victim(std::move(file)), service(held) {}
    void Logged(const JobEvent& event) override {
        if (kinds.empty()) {
            std::filesystem::remove(victim);
            service.Release();
        }
        kinds.push_back(event.kind);
    }
    void SongShown(const ShownSong&) override {}

    std::vector<JobEventKind> kinds;

private:
    std::filesystem::path victim;
    testing::FakeService& service;
};

TEST(VanishedSongTest, IsAChecksumFailureAndTheRunGoesOn) {
    testing::FakeService service;
    TempDir dir;
    const auto song =
        std::filesystem::path(QUILLON_TEST_DATA_DIR) / "audio" / "mpeg1-layer3-cbr128.mp3";
    for (const wchar_t* name : {L"가.mp3", L"나.mp3", L"다.mp3"})
        std::filesystem::copy_file(song, dir.Path() / name);
    AudioChecksummer checksummer;
    AudioChecksum sum;
    ASSERT_EQ(checksummer.Compute(song, sum), ChecksumStatus::Ok);
    service.SetAnswer(std::string(sum.data(), 32), testing::Answer("T", "[00:01.00]x"));
    const auto files = CollectMp3Files(dir.Path());
    ASSERT_EQ(files.size(), 3u);
    service.StallRequest(1);
    DeletingListener host(files[1], service);
    RunSpec spec;
    spec.mode = DownloadMode::Folder;
    spec.path = dir.Path();
    spec.plan.writeFile = true;
    spec.plan.encoding = EncodingUtf8;
    const std::atomic<int> running{1};
    const std::string at = service.Host();
    EXPECT_EQ(
        RunJob(spec, host, running, [&at] { return std::make_unique<ChecksumSource>(at); }).result,
        1);
    EXPECT_EQ(std::count(host.kinds.begin(), host.kinds.end(), JobEventKind::ChecksumFailed), 1);
    EXPECT_EQ(std::count(host.kinds.begin(), host.kinds.end(), JobEventKind::LrcSaved), 2);
    EXPECT_EQ(service.Requests(), 2);
}

TEST(ReadOnlyLrcTest, IsLeftAsItIsWithoutATemporaryFile) {
    TempDir dir;
    const auto lrc = dir.Path() / "song.lrc";
    WriteFileBytes(lrc, "old");
    ASSERT_TRUE(::SetFileAttributesW(lrc.c_str(), FILE_ATTRIBUTE_READONLY));
    const WriteResult written =
        WriteLrcFile(dir.Path() / "song.mp3", LyricInfo{u"T", u"A", u"L", u""}, u"[00:01.00]x\r\n",
                     EncodingUtf8);
    EXPECT_FALSE(written);
    EXPECT_EQ(written.cause.rfind("있는 파일을 바꿀 수 없습니다: ", 0), 0u) << written.cause;
    EXPECT_EQ(ReadFileBytes(lrc), "old");
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"song.lrc"}));
    ::SetFileAttributesW(lrc.c_str(), FILE_ATTRIBUTE_NORMAL);

    // Written, the new file replaces the old one whole.
    ASSERT_TRUE(WriteLrcFile(dir.Path() / "song.mp3", LyricInfo{u"T", u"A", u"L", u""},
                             u"[00:01.00]x\r\n", EncodingUtf8));
    EXPECT_EQ(ReadFileBytes(lrc), "\xEF\xBB\xBF[ar:A]\r\n[ti:T]\r\n[al:L]\r\n[00:01.00]x\r\n");
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"song.lrc"}));
}

}  // namespace
}  // namespace quillon
