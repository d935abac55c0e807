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
#include "gui/win32/quillondlg.h"
#include "pipeline/messages.h"
#include "pipeline/textwriter.h"
#include "quillon_version.h"
#include "settings/usersettings.h"
#include "support/fake_service.h"
#include "support/files.h"
#include "support/tempdir.h"
#include "text/textconv.h"

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

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
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

// Opens a modal box with `open` and runs `inside` on the box captioned `caption` from within its
// loop (a thread timer fires there); closes the box if `inside` left it open. False when the box
// never came.
bool InsideModal(const wchar_t* caption, const std::function<void()>& open,
                 const std::function<void(HWND)>& inside) {
    static const wchar_t* wanted;
    static const std::function<void(HWND)>* body;
    static bool ran;
    wanted = caption;
    body = &inside;
    ran = false;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
        const HWND box = ::FindWindowW(L"#32770", wanted);
        if (ran || box == nullptr || !::IsWindowVisible(box)) return;
        ran = true;
        (*body)(box);
        if (::IsWindow(box)) ::EndDialog(box, IDCANCEL);
    });
    open();
    ::KillTimer(nullptr, timer);
    return ran;
}

// The window with its dialogs, message boxes and the shell answered by the test.
class TestDlg : public CQuillonDlg {
public:
    using CQuillonDlg::CQuillonDlg;

    std::wstring openAnswer;
    std::optional<SaveChoice> saveAnswer;
    std::vector<std::wstring> opened;
    // The questions asked (each answered no), with the answer each offered first.
    std::vector<std::pair<std::wstring, bool>> questions;
    std::vector<std::wstring> refusals;

protected:
    std::optional<std::wstring> ChooseFile(const std::wstring&) override { return openAnswer; }
    std::optional<std::wstring> ChooseFolder(const std::wstring&) override { return openAnswer; }
    std::optional<SaveChoice> ChooseSaveFile(const std::wstring&, const std::wstring&,
                                             int) override {
        return saveAnswer;
    }
    void OpenRawLyrics(const std::wstring& path) override { opened.push_back(path); }
    bool Ask(const std::wstring& question, bool yesByDefault) override {
        questions.emplace_back(question, yesByDefault);
        return false;
    }
    void ShowRefusal(HWND, const std::wstring& text) override { refusals.push_back(text); }
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

    // The system menu carries the raw lyric, the folder options, the settings and the about box.
    HMENU menu = ::GetSystemMenu(dlg->Handle(), FALSE);
    const int count = ::GetMenuItemCount(menu);
    EXPECT_EQ(::GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
    EXPECT_EQ(::GetMenuItemID(menu, count - 2), static_cast<UINT>(IDM_SETTINGS));
    EXPECT_EQ(::GetMenuItemID(menu, count - 4), static_cast<UINT>(IDM_SKIP_EXISTING));
    EXPECT_EQ(::GetMenuItemID(menu, count - 5), static_cast<UINT>(IDM_INCLUDE_SUBFOLDERS));
    EXPECT_EQ(::GetMenuItemID(menu, count - 7), static_cast<UINT>(IDM_VIEW_RAW));
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

// The settings dialog refuses what it cannot store, says why and stays open; what it stores, the
// about box names with the version, the licence and the homepage.
TEST_F(DialogTest, SettingsDialogStoresOnlyValidValuesAndTheAboutBoxNamesThem) {
    const std::u16string storedHost = settings->ReadText(SettingsPort::Text::ServiceHost);
    const auto openSettings = [&] {
        ::SendMessageW(dlg->Handle(), WM_SYSCOMMAND, IDM_SETTINGS, 0);
    };
    ASSERT_TRUE(InsideModal(L"Quillon 설정", openSettings, [&](HWND box) {
        const std::u16string port = storedHost.substr(storedHost.rfind(u':') + 1);
        EXPECT_EQ(Text(::GetDlgItem(box, IDC_SERVICE_PORT)), Wide(port));
        EXPECT_EQ(Text(::GetDlgItem(box, IDC_CONCURRENCY)), L"4");
        ::SetDlgItemTextW(box, IDC_SERVICE_HOST, L"lyrics.example");
        ::SetDlgItemTextW(box, IDC_SERVICE_PORT, L"0");
        ::SetDlgItemTextW(box, IDC_CONCURRENCY, L"5");
        ::SendMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(dlg->refusals, std::vector<std::wstring>{Wide(text::PortInvalid)});
        EXPECT_TRUE(::IsWindowVisible(box));
        EXPECT_EQ(settings->ReadText(SettingsPort::Text::ServiceHost), storedHost);
        ::SetDlgItemTextW(box, IDC_SERVICE_PORT, L"8080");
        ::SendMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_FALSE(::IsWindowVisible(box));
    }));
    EXPECT_EQ(settings->ReadText(SettingsPort::Text::ServiceHost), u"lyrics.example:8080");
    EXPECT_EQ(settings->ReadOption(SettingsPort::Option::Concurrency), 5);

    const auto openAbout = [&] { ::SendMessageW(dlg->Handle(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0); };
    ASSERT_TRUE(InsideModal(L"Quillon 정보", openAbout, [&](HWND box) {
        EXPECT_EQ(Text(::GetDlgItem(box, IDC_ABOUT_VERSION)),
                  L"Quillon 버전 " + Wide(Utf8ToWide(Version)));
        EXPECT_EQ(Text(::GetDlgItem(box, IDC_ABOUT_LICENCE)), L"MIT 라이선스");
        EXPECT_EQ(Text(::GetDlgItem(box, IDC_ABOUT_SERVICE)), L"가사 서비스: lyrics.example:8080");
        LITEM link{};
        link.mask = LIF_ITEMINDEX | LIF_URL;
        ASSERT_TRUE(::SendMessageW(::GetDlgItem(box, IDC_ABOUT_HOMEPAGE), LM_GETITEM, 0,
                                   reinterpret_cast<LPARAM>(&link)));
        EXPECT_EQ(std::wstring(link.szUrl), Wide(Utf8ToWide(Homepage)));
    }));
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

    // The raw lyric beside the song asks before it replaces a file of the user's, "no" first;
    // at "no" it goes to the temporary folder and the user's file stays.
    const fs::path beside = scratch.Path() / L"노래.txt";
    testing::WriteFileBytes(beside, "mine");
    ::SendMessageW(dlg->Handle(), WM_SYSCOMMAND, IDM_VIEW_RAW, 0);
    ASSERT_EQ(dlg->questions.size(), 1u);
    EXPECT_EQ(dlg->questions[0].first, L"노래.txt" + Wide(text::ReplaceRawQuestion));
    EXPECT_FALSE(dlg->questions[0].second);
    ASSERT_EQ(dlg->opened.size(), 1u);
    EXPECT_EQ(fs::path(dlg->opened[0]), fs::temp_directory_path() / L"노래.txt");
    EXPECT_EQ(ReadFileBytes(beside), "mine");
    fs::remove(dlg->opened[0]);

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
    // A code page without Hangul, whatever the system's: the LRC file goes to UTF-16 LE.
    ::_putenv_s("QUILLON_ANSI_CODEPAGE", "1252");
    ChooseMode(1);
    EXPECT_EQ(Text(Item(IDC_DOWNLOAD)), L"가사 다운로드 개시");
    EXPECT_EQ(Text(Item(IDC_VIEW_GROUP)), L"가사 다운로드 로그");
    EXPECT_TRUE(::IsWindowVisible(Item(IDC_LOG)));
    SetPath(scratch.Path() / "music");
    ASSERT_TRUE(RunJob());
    ::_putenv_s("QUILLON_ANSI_CODEPAGE", "");
    ReportListCtrl& log = dlg->LogList();
    const HIMAGELIST images = reinterpret_cast<HIMAGELIST>(
        ::SendMessageW(log.Handle(), LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    EXPECT_EQ(::ImageList_GetImageCount(images), LogIconWarning + 1);
    std::vector<std::wstring> rows;
    for (int row = 0; row < log.RowCount(); ++row) {
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        ::SendMessageW(log.Handle(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        rows.push_back(std::to_wstring(item.iImage) + L" " + log.CellText(row, 2));
        EXPECT_EQ(log.CellText(row, 1).size(), 12u);
        if (item.iImage == LogIconError) {
            EXPECT_EQ(log.RowTip(row), L"MPEG 오디오 프레임을 찾지 못했습니다");
        }
    }
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(
        rows,
        (std::vector<std::wstring>{
            L"2 제목: 봄, 가수: Singer, 앨범: Album", L"3 파일 채크썸 취득 실패 (broken.mp3)",
            L"4 가사 정보 취득 개시 (노래.mp3)", L"5 가사 파일 저장 완료 (노래.mp3)",
            L"6 ANSI 코드 페이지에 없는 문자 5자: UTF-16 Little Endian으로 저장 (노래.lrc)"}));
    EXPECT_TRUE(fs::exists(scratch.Path() / "music" / L"노래.lrc"));

    // The log follows its newest row, unless the user has scrolled up to an older one.
    const auto lastInSight = [&] {
        return ::SendMessageW(log.Handle(), LVM_GETTOPINDEX, 0, 0) +
                   ::SendMessageW(log.Handle(), LVM_GETCOUNTPERPAGE, 0, 0) >=
               log.RowCount();
    };
    for (int i = 0; i < 40; ++i) dlg->AppendLogRow(LogIconInfo, std::to_wstring(i));
    EXPECT_TRUE(PumpUntil(dlg->Handle(), lastInSight, 2s));
    ::SendMessageW(log.Handle(), LVM_ENSUREVISIBLE, 0, FALSE);
    dlg->AppendLogRow(LogIconWarning, L"older rows stay in sight");
    PumpUntil(
        dlg->Handle(), [] { return false; }, 200ms);
    EXPECT_EQ(::SendMessageW(log.Handle(), LVM_GETTOPINDEX, 0, 0), 0);
    EXPECT_FALSE(lastInSight());
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

    // A failed song's tip tells why on a line of its own.
    testing::WriteFileBytes(song, "not audio");
    SetPath(song);
    ASSERT_TRUE(RunJob());
    ASSERT_TRUE(tip.IsVisible());
    EXPECT_TRUE(tip.Text().ends_with(L"\nMPEG 오디오 프레임을 찾지 못했습니다"));
    ::GetWindowRect(tip.Handle(), &box);
    EXPECT_GT(box.bottom - box.top, measured.bottom);
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
    // Hidden first: under Wine without a window manager, taking a shown window off the screen
    // waits two seconds for a manager that is not there.
    ::ShowWindow(dlg->Handle(), SW_HIDE);
    const auto closing = std::chrono::steady_clock::now();
    ::SendMessageW(dlg->Handle(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 200ms);
    EXPECT_FALSE(::IsWindow(dlg->Handle()));
    // The query was given up: nothing was written beside the song.
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.Path()), fs::directory_iterator()), 1);
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
