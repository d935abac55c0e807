// The Windows window, created from its template and driven with messages as a user's clicks and
// keys would send them: its layout in dialog units, the modes, a single-file and a folder run
// against a lyrics service on loopback, in-place editing and saving, the tip, and what it
// stores in the registry when it goes. What the window shows when is the application layer's
// and tested there; these tests look at what only the Win32 view can get wrong.
// winsock2.h (for the service on loopback) before windows.h, which would bring the old one.
#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "audio/checksum.h"
#include "pipeline/textwriter.h"
#include "service/textconv.h"
#include "settings/usersettings.h"
#include "support/fake_service.h"
#include "support/files.h"
#include "support/tempdir.h"
#include "win32/quillondlg.h"

namespace quillon::win32 {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::Answer;
using testing::FakeService;
using testing::ReadFileBytes;
using testing::TempDir;

constexpr wchar_t Key[] = L"Software\\Brantwell\\Quillon\\Settings";

const fs::path kSong = fs::path(QUILLON_TEST_DATA_DIR) / "audio" / "mpeg1-layer3-cbr128.mp3";

std::wstring Text(HWND window) {
    wchar_t text[512] = {};
    ::GetWindowTextW(window, text, 512);
    return text;
}

// Runs the window's messages as its modal loop would, until `done` holds or `limit` passes.
bool PumpUntil(HWND dialog, const std::function<bool()>& done,
               std::chrono::milliseconds limit = 20s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!::IsDialogMessageW(dialog, &message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        if (done()) return true;
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(1ms);
    }
}

// The window with its dialogs and the shell answered by the test.
class TestDlg : public CQuillonDlg {
public:
    using CQuillonDlg::CQuillonDlg;

    std::wstring openAnswer;
    std::optional<SaveChoice> saveAnswer;
    std::vector<std::wstring> opened;

protected:
    std::optional<std::wstring> ChooseFile(const std::wstring&) override { return openAnswer; }
    std::optional<std::wstring> ChooseFolder(const std::wstring&) override { return openAnswer; }
    std::optional<SaveChoice> ChooseSaveFile(const std::wstring&, const std::wstring&,
                                             int) override {
        return saveAnswer;
    }
    void OpenRawLyrics(const std::wstring& path) override { opened.push_back(path); }
    void RunAboutBox() override {}
};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Brantwell");
        const std::wstring host(service.Host().begin(), service.Host().end());
        ::RegSetKeyValueW(HKEY_CURRENT_USER, Key, L"ServiceHost", REG_SZ, host.c_str(),
                          static_cast<DWORD>((host.size() + 1) * sizeof(wchar_t)));
        AudioChecksummer checksummer;
        AudioChecksum sum;
        ASSERT_EQ(checksummer.Compute(kSong, sum), ChecksumStatus::Ok);
        service.SetAnswer(std::string(sum.data(), 32),
                          Answer("봄",
                                 "[00:00.00]봄&lt;br&gt;[00:01.00]하나&lt;br&gt;[00:01.00]one&lt;"
                                 "br&gt;[00:02.00]둘"));
        song = scratch.Path() / L"노래.mp3";
        fs::copy_file(kSong, song);
        settings = OpenUserSettings();
        dlg = std::make_unique<TestDlg>(*settings);
        ASSERT_NE(dlg->Create(), nullptr);
        ::ShowWindow(dlg->Handle(), SW_SHOW);
    }
    void TearDown() override {
        dlg.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Brantwell");
    }

    HWND Item(int id) const { return dlg->Control(id); }
    void Click(int id) { ::SendMessageW(Item(id), BM_CLICK, 0, 0); }
    void ChooseMode(int mode) {
        ::SendMessageW(Item(IDC_MODE), CB_SETCURSEL, mode, 0);
        ::SendMessageW(dlg->Handle(), WM_COMMAND, MAKEWPARAM(IDC_MODE, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(Item(IDC_MODE)));
    }
    void SetPath(const fs::path& path) { ::SetWindowTextW(Item(IDC_PATH), path.c_str()); }
    bool RunJob() {
        Click(IDC_DOWNLOAD);
        return PumpUntil(dlg->Handle(),
                         [this] { return !dlg->App().JobRunning() && !dlg->RowsWaiting(); });
    }

    FakeService service;
    TempDir scratch;
    fs::path song;
    std::unique_ptr<SettingsPort> settings;
    std::unique_ptr<TestDlg> dlg;
};

TEST_F(DialogTest, ControlsSitWhereTheTemplateSaysInDialogUnits) {
    const auto expect = [&](int id, RECT units) {
        ::MapDialogRect(dlg->Handle(), &units);
        RECT actual{};
        ::GetWindowRect(Item(id), &actual);
        ::MapWindowPoints(nullptr, dlg->Handle(), reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, units.left) << id;
        EXPECT_EQ(actual.top, units.top) << id;
        EXPECT_EQ(actual.right - actual.left, units.right) << id;
        if (id != IDC_MODE) {
            EXPECT_EQ(actual.bottom - actual.top, units.bottom) << id;
        }
    };
    expect(IDC_MODE, RECT{15, 16, 51, 50});
    expect(IDC_DOWNLOAD, RECT{281, 14, 107, 28});
    expect(IDC_SAVE, RECT{395, 14, 65, 28});
    expect(IDCANCEL, RECT{467, 14, 65, 28});
    expect(IDC_ARTIST, RECT{398, 65, 133, 14});
    expect(IDC_LYRICS, RECT{15, 102, 516, 150});
    expect(IDC_LOG, RECT{15, 102, 516, 150});
    EXPECT_EQ(Text(dlg->Handle()), L"Quillon - Brantwell");
    EXPECT_EQ(Text(Item(IDC_DOWNLOAD)), L"가사 다운로드");
    EXPECT_EQ(Text(Item(IDC_VIEW_GROUP)), L"가사보기");
    EXPECT_FALSE(::IsWindowEnabled(Item(IDC_SAVE)));
    EXPECT_FALSE(::IsWindowVisible(Item(IDC_LOG)));
    EXPECT_EQ(::IsDlgButtonChecked(dlg->Handle(), IDC_SECOND_LINE), BST_CHECKED);

    // The width stays; the window grows only in height, the views with it.
    RECT before{}, after{};
    ::GetWindowRect(Item(IDC_LYRICS), &before);
    const SIZE initial = dlg->InitialSize();
    ::SetWindowPos(dlg->Handle(), nullptr, 0, 0, initial.cx + 80, initial.cy + 100,
                   SWP_NOMOVE | SWP_NOZORDER);
    RECT window{};
    ::GetWindowRect(dlg->Handle(), &window);
    EXPECT_EQ(window.right - window.left, initial.cx);
    ::GetWindowRect(Item(IDC_LYRICS), &after);
    EXPECT_EQ(after.bottom - after.top, before.bottom - before.top + 100);

    // The system menu carries the raw lyric, the folder options and the about box.
    HMENU menu = ::GetSystemMenu(dlg->Handle(), FALSE);
    const int count = ::GetMenuItemCount(menu);
    EXPECT_EQ(::GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
    EXPECT_EQ(::GetMenuItemID(menu, count - 3), static_cast<UINT>(IDM_SKIP_EXISTING));
    EXPECT_EQ(::GetMenuItemID(menu, count - 4), static_cast<UINT>(IDM_INCLUDE_SUBFOLDERS));
    EXPECT_EQ(::GetMenuItemID(menu, count - 6), static_cast<UINT>(IDM_VIEW_RAW));
    // A folder option is stored as soon as it is chosen, and the menu shows it checked.
    ::SendMessageW(dlg->Handle(), WM_SYSCOMMAND, IDM_SKIP_EXISTING, 0);
    DWORD value = 0, size = sizeof value;
    EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, Key, L"SkipExisting", RRF_RT_REG_DWORD, nullptr,
                             &value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 1u);
    ::SendMessageW(dlg->Handle(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu),
                   MAKELPARAM(0, TRUE));
    EXPECT_TRUE(::GetMenuState(menu, IDM_SKIP_EXISTING, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_FALSE(::GetMenuState(menu, IDM_INCLUDE_SUBFOLDERS, MF_BYCOMMAND) & MF_CHECKED);
}

TEST_F(DialogTest, SingleFileRunShowsTheSongAndAnEditedRowIsSavedInEachEncoding) {
    SetPath(song);
    ASSERT_TRUE(RunJob());
    ReportListCtrl& rows = dlg->LyricList();
    ASSERT_EQ(rows.RowCount(), 3);
    EXPECT_EQ(rows.CellText(1, 1), L"00:01.00");
    EXPECT_EQ(rows.CellText(1, 2), L"하나 / one");
    EXPECT_EQ(Text(Item(IDC_TITLE)), L"봄");
    EXPECT_TRUE(::IsWindowEnabled(Item(IDC_SAVE)));

    // The lyric cell edited in place: typing grows nothing here, Enter stores the text and
    // never reaches the dialog's default command.
    ::SetFocus(rows.Handle());
    ASSERT_TRUE(rows.BeginCellEdit(1, 2));
    HWND editor = rows.ActiveEditor();
    ASSERT_NE(editor, nullptr);
    ::SetWindowTextW(editor, L"고친 줄");
    ::PostMessageW(editor, WM_KEYDOWN, VK_RETURN, 0);
    ::PostMessageW(editor, WM_CHAR, VK_RETURN, 0);
    PumpUntil(
        dlg->Handle(), [&] { return rows.ActiveEditor() == nullptr; }, 2s);
    EXPECT_EQ(rows.CellText(1, 2), L"고친 줄");
    EXPECT_TRUE(::IsWindow(dlg->Handle()));
    // Escape drops an edit, and does not close the window either.
    ASSERT_TRUE(rows.BeginCellEdit(2, 2));
    ::SetWindowTextW(rows.ActiveEditor(), L"버려질 줄");
    ::PostMessageW(rows.ActiveEditor(), WM_KEYDOWN, VK_ESCAPE, 0);
    ::PostMessageW(rows.ActiveEditor(), WM_CHAR, VK_ESCAPE, 0);
    PumpUntil(
        dlg->Handle(), [&] { return rows.ActiveEditor() == nullptr; }, 2s);
    EXPECT_EQ(rows.CellText(2, 2), L"둘");
    EXPECT_TRUE(::IsWindowVisible(dlg->Handle()));

    const std::u16string text =
        u"[ar:Singer]\r\n[ti:봄]\r\n[al:Album]\r\n[00:00.00]봄\r\n[00:01.00]고친 "
        u"줄\r\n[00:02.00]둘";
    for (const int filter : {1, 2}) {
        const fs::path saved = scratch.Path() / ("saved-" + std::to_string(filter) + ".lrc");
        dlg->saveAnswer = TestDlg::SaveChoice{saved.wstring(), filter};
        Click(IDC_SAVE);
        EXPECT_EQ(ReadFileBytes(saved), testing::Utf16Bytes(text, filter == 1)) << filter;
        EXPECT_EQ(settings->ReadEncoding(), filter);
    }

    // Delete removes the marked row and marks the one that moved into its place.
    LVITEMW state{};
    state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(rows.Handle(), LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
    ::SendMessageW(rows.Handle(), LVM_SETSELECTIONMARK, 0, 0);
    ::SetFocus(rows.Handle());
    ::SendMessageW(rows.Handle(), WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(rows.RowCount(), 2);
    EXPECT_EQ(rows.CellText(0, 2), L"고친 줄");
    EXPECT_EQ(rows.SelectionMark(), 0);
}

TEST_F(DialogTest, FolderRunLogsItsRowsWithImagesAndTheCauseOfAFailure) {
    fs::copy_file(kSong, scratch.Path() / "second.mp3");
    fs::create_directory(scratch.Path() / "music");
    fs::rename(song, scratch.Path() / "music" / L"노래.mp3");
    fs::rename(scratch.Path() / "second.mp3", scratch.Path() / "music" / "broken.mp3");
    testing::WriteFileBytes(scratch.Path() / "music" / "broken.mp3", "not audio");
    ChooseMode(1);
    EXPECT_EQ(Text(Item(IDC_DOWNLOAD)), L"가사 다운로드 개시");
    EXPECT_EQ(Text(Item(IDC_VIEW_GROUP)), L"가사 다운로드 로그");
    EXPECT_TRUE(::IsWindowVisible(Item(IDC_LOG)));
    SetPath(scratch.Path() / "music");
    ASSERT_TRUE(RunJob());
    ReportListCtrl& log = dlg->LogList();
    std::vector<std::wstring> rows;
    for (int row = 0; row < log.RowCount(); ++row) {
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        ::SendMessageW(log.Handle(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        rows.push_back(std::to_wstring(item.iImage) + L" " + log.CellText(row, 2));
        EXPECT_EQ(log.CellText(row, 1).size(), 12u);
        if (item.iImage == LogIconError) {
            EXPECT_EQ(log.RowTip(row), L"no MPEG audio frame");
        }
    }
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows,
              (std::vector<std::wstring>{
                  L"2 제목: 봄, 가수: Singer, 앨범: Album", L"3 파일 채크썸 취득 실패 (broken.mp3)",
                  L"4 가사 정보 취득 개시 (노래.mp3)", L"5 가사 파일 저장 완료 (노래.mp3)"}));
    EXPECT_TRUE(fs::exists(scratch.Path() / "music" / L"노래.lrc"));
}

TEST_F(DialogTest, TipSitsAboveTheButtonAndGoesAtAKeyButNotAtEnter) {
    SetPath({});
    Click(IDC_DOWNLOAD);
    TipWnd& tip = dlg->Tip();
    ASSERT_TRUE(tip.IsVisible());
    EXPECT_EQ(tip.Text(), L"가사를 가져올 음악 파일을 선택해 주세요.");
    EXPECT_EQ(tip.BackgroundColor(), RGB(255, 255, 0));
    RECT button{}, box{};
    ::GetWindowRect(Item(IDC_DOWNLOAD), &button);
    ::GetWindowRect(tip.Handle(), &box);
    EXPECT_EQ(box.left, button.left + TipWnd::AnchorOffsetX);
    EXPECT_EQ(box.bottom, button.top);
    // One line: the measured text, its margins and the shadow.
    const RECT measured = tip.CalcTipRect(tip.Text());
    EXPECT_EQ(box.right - box.left, measured.right);

    // The thread's keyboard hook: Enter leaves the tip, any other key takes it away.
    ::SetForegroundWindow(dlg->Handle());
    ::SetFocus(Item(IDC_SECOND_LINE));
    ::keybd_event(VK_RETURN, 0, 0, 0);
    ::keybd_event(VK_RETURN, 0, KEYEVENTF_KEYUP, 0);
    PumpUntil(
        dlg->Handle(), [] { return false; }, 300ms);
    EXPECT_TRUE(tip.IsVisible());
    ::keybd_event(VK_SHIFT, 0, 0, 0);
    ::keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
    EXPECT_TRUE(PumpUntil(
        dlg->Handle(), [&] { return !tip.IsVisible(); }, 2s));
}

TEST_F(DialogTest, ClosingDuringASlowQueryIsPromptAndStoresThePathOfTheMode) {
    AudioChecksummer checksummer;
    AudioChecksum sum;
    ASSERT_EQ(checksummer.Compute(kSong, sum), ChecksumStatus::Ok);
    service.StallFor(std::string(sum.data(), 32));
    SetPath(song);
    Click(IDC_DOWNLOAD);
    service.WaitUntilStalled();
    EXPECT_FALSE(::IsWindowEnabled(Item(IDC_DOWNLOAD)));
    const auto closing = std::chrono::steady_clock::now();
    ::SendMessageW(dlg->Handle(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 5s);
    EXPECT_FALSE(::IsWindow(dlg->Handle()));
    EXPECT_EQ(settings->ReadText(SettingsPort::Text::LastOpenFile), song.u16string());
    EXPECT_EQ(settings->ReadText(SettingsPort::Text::LastOpenDir), u"");
}

// A long lyric goes into the list a slice at a time after the job has ended; a save at once
// still holds every row, and the list has them all afterwards.
TEST_F(DialogTest, LongLyricSavedAtOnceHoldsEveryRow) {
    AudioChecksummer checksummer;
    AudioChecksum sum;
    ASSERT_EQ(checksummer.Compute(kSong, sum), ChecksumStatus::Ok);
    std::string lyric;
    std::u16string expected = u"[ar:Singer]\r\n[ti:긴 노래]\r\n[al:Album]";
    for (int i = 0; i < 1500; ++i) {
        char time[16];
        std::snprintf(time, sizeof time, "%02d:%02d.00", i / 60, i % 60);
        lyric += std::string("[") + time + "]줄 " + std::to_string(i) + "&lt;br&gt;";
        expected += u"\r\n[" + Utf8ToWide(time) + u"]줄 " + Utf8ToWide(std::to_string(i));
    }
    service.SetAnswer(std::string(sum.data(), 32), Answer("긴 노래", lyric));
    SetPath(song);
    Click(IDC_DOWNLOAD);
    ASSERT_TRUE(PumpUntil(dlg->Handle(), [this] { return !dlg->App().JobRunning(); }));
    const fs::path saved = scratch.Path() / "long.lrc";
    dlg->saveAnswer = TestDlg::SaveChoice{saved.wstring(), 2};
    Click(IDC_SAVE);
    EXPECT_EQ(ReadFileBytes(saved), testing::Utf16Bytes(expected, false));
    EXPECT_FALSE(dlg->RowsWaiting());
    EXPECT_EQ(dlg->LyricList().RowCount(), 1500);
}

// "Open with" on a folder: the window starts in folder mode with it and keeps it as the last
// folder; the last file stays.
TEST_F(DialogTest, AFolderOnTheCommandLineStartsFolderMode) {
    dlg.reset();
    const fs::path folder = scratch.Path() / L"앨범";
    fs::create_directory(folder);
    settings->WriteText(SettingsPort::Text::LastOpenFile, song.u16string());
    JobOptions options;
    options.open = folder;
    dlg = std::make_unique<TestDlg>(*settings, std::move(options));
    ASSERT_NE(dlg->Create(), nullptr);
    ::ShowWindow(dlg->Handle(), SW_SHOW);
    EXPECT_EQ(::SendMessageW(Item(IDC_MODE), CB_GETCURSEL, 0, 0), 1);
    wchar_t shown[MAX_PATH] = {};
    ::GetWindowTextW(Item(IDC_PATH), shown, MAX_PATH);
    EXPECT_EQ(fs::path(shown), folder);
    EXPECT_TRUE(::IsWindowVisible(Item(IDC_LOG)));
    EXPECT_FALSE(::IsWindowVisible(Item(IDC_LYRICS)));
    ::SendMessageW(dlg->Handle(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(settings->ReadText(SettingsPort::Text::LastOpenDir), folder.u16string());
    EXPECT_EQ(settings->ReadText(SettingsPort::Text::LastOpenFile), song.u16string());
}

}  // namespace
}  // namespace quillon::win32
