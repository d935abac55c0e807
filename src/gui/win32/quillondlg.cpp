#include "gui/win32/quillondlg.h"

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <deque>

#include "text/textconv.h"

namespace quillon::win32 {
namespace {

// The system menu's folder options and the settings they stand for.
constexpr std::pair<UINT, SettingsPort::Option> FolderOptionItems[] = {
    {IDM_INCLUDE_SUBFOLDERS, SettingsPort::Option::IncludeSubfolders},
    {IDM_SKIP_EXISTING, SettingsPort::Option::SkipExisting},
};

// The settings dialog's fields and the values they hold.
constexpr std::pair<int, std::u16string ServiceSettings::*> SettingsFields[] = {
    {IDC_SERVICE_HOST, &ServiceSettings::host},
    {IDC_SERVICE_PORT, &ServiceSettings::port},
    {IDC_CONCURRENCY, &ServiceSettings::concurrency},
};

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string Utf16(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

std::wstring WideFromUtf8(std::string_view text) {
    const std::u16string wide = Utf8ToWide(text);
    return Wide(wide);
}

std::wstring ItemText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

// The lyric view as the composition and the save command read and fill it, on the window's
// thread. A song's rows go in a slice at a time, each slice short enough that the window keeps
// answering in between (the list view takes about a millisecond a row under Wine); whatever
// reads or changes the rows first takes in every row still waiting.
class ReportListView final : public LyricView {
public:
    ReportListView(ReportListCtrl& view, HWND window) : list(view), owner(window) {}

    int RowCount() override {
        Flush();
        return list.RowCount();
    }
    int AppendRow() override {
        Flush();
        return list.AppendRow(0);
    }
    void SetCell(int row, int column, std::u16string_view text) override {
        Flush();
        list.SetCellText(row, column, Wide(text));
    }
    std::u16string Cell(int row, int column) override {
        Flush();
        return Utf16(list.CellText(row, column));
    }
    void AppendRows(const std::vector<Row>& rows) override {
        const bool idle = waiting.empty();
        waiting.insert(waiting.end(), rows.begin(), rows.end());
        if (idle) AppendSlice();
    }

    // Appends waiting rows for one slice of time, and asks for another turn if some remain.
    void AppendSlice() {
        if (waiting.empty()) return;
        const auto until = std::chrono::steady_clock::now() + SliceTime;
        list.SetRedraw(false);
        do {
            AppendNow(waiting.front());
            waiting.pop_front();
        } while (!waiting.empty() && std::chrono::steady_clock::now() < until);
        list.SetRedraw(true);
        if (!waiting.empty()) ::PostMessageW(owner, CQuillonDlg::WM_APPEND_ROWS, 0, 0);
    }
    // Every waiting row, now.
    void Flush() {
        if (waiting.empty()) return;
        list.SetRedraw(false);
        for (const Row& row : waiting) AppendNow(row);
        waiting.clear();
        list.SetRedraw(true);
    }
    // The rows are cleared: those waiting go too.
    void Forget() { waiting.clear(); }
    bool Waiting() const { return !waiting.empty(); }

private:
    static constexpr auto SliceTime = std::chrono::milliseconds(20);

    void AppendNow(const Row& row) {
        const int at = list.AppendRow(0);
        list.SetCellText(at, TimeColumn, Wide(row[TimeColumn]));
        list.SetCellText(at, LyricColumn, Wide(row[LyricColumn]));
    }

    ReportListCtrl& list;
    HWND owner;
    std::deque<Row> waiting;
};

namespace {

int LyricEditorKind(int column) {
    return column == LyricView::LyricColumn ? 0 : 2;
}

// The about box; `lParam` of its creation is the AboutInfo it shows.
INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            const auto& about = *reinterpret_cast<const AboutInfo*>(lParam);
            ::SetDlgItemTextW(window, IDC_ABOUT_VERSION, Wide(about.version).c_str());
            ::SetDlgItemTextW(window, IDC_ABOUT_LICENCE, Wide(about.licence).c_str());
            // The link's address is set apart from its text: the markup's attributes follow the
            // font's break character, which not every font has as a space.
            const std::wstring url = Wide(about.homepage);
            const HWND homepage = ::GetDlgItem(window, IDC_ABOUT_HOMEPAGE);
            ::SetWindowTextW(homepage, (L"<a>" + url + L"</a>").c_str());
            LITEM link{};
            link.mask = LIF_ITEMINDEX | LIF_URL;
            url.copy(link.szUrl, std::min<std::size_t>(url.size(), L_MAX_URL_LENGTH - 1));
            ::SendMessageW(homepage, LM_SETITEM, 0, reinterpret_cast<LPARAM>(&link));
            ::SetDlgItemTextW(window, IDC_ABOUT_SERVICE, Wide(about.service).c_str());
            // The focus on the button, not on the link before it.
            ::SetFocus(::GetDlgItem(window, IDOK));
            return FALSE;
        }
        case WM_NOTIFY: {
            // The homepage opens in the browser, by a click or by Enter on the link.
            const auto* link = reinterpret_cast<const NMLINK*>(lParam);
            if (link->hdr.idFrom == IDC_ABOUT_HOMEPAGE &&
                (link->hdr.code == NM_CLICK || link->hdr.code == NM_RETURN)) {
                ::ShellExecuteW(window, L"open", link->item.szUrl, nullptr, nullptr, SW_SHOWNORMAL);
                return TRUE;
            }
            return FALSE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(window, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

int CALLBACK BrowseProc(HWND window, UINT message, LPARAM lParam, LPARAM start) {
    if (message == BFFM_INITIALIZED) {
        ::SendMessageW(window, BFFM_SETSELECTIONW, TRUE, start);
    } else if (message == BFFM_SELCHANGED) {
        // The chosen folder's path as the status text.
        wchar_t path[MAX_PATH] = {};
        if (::SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), path))
            ::SendMessageW(window, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
    }
    return 0;
}

}  // namespace

CQuillonDlg::CQuillonDlg(SettingsPort& settings, JobOptions options)
    : app(settings, *this, std::move(options)) {}

CQuillonDlg::~CQuillonDlg() {
    if (dialog != nullptr) ::DestroyWindow(dialog);
    if (lyricImages != nullptr) ::ImageList_Destroy(lyricImages);
    if (logImages != nullptr) ::ImageList_Destroy(logImages);
    if (icon != nullptr) ::DestroyIcon(icon);
    if (smallIcon != nullptr) ::DestroyIcon(smallIcon);
}

INT_PTR CQuillonDlg::DoModal(HWND owner) {
    modal = true;
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_QUILLON_DIALOG),
                             owner, &DialogProc, reinterpret_cast<LPARAM>(this));
}

HWND CQuillonDlg::Create(HWND owner) {
    ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_QUILLON_DIALOG), owner,
                         &DialogProc, reinterpret_cast<LPARAM>(this));
    return dialog;
}

INT_PTR CALLBACK CQuillonDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CQuillonDlg*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->dialog = window;
        self->OnInitDialog();
        return TRUE;
    }
    auto* self = reinterpret_cast<CQuillonDlg*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr) return FALSE;
    const INT_PTR handled = self->OnMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) self->dialog = nullptr;
    return handled;
}

INT_PTR CQuillonDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            LRESULT result = 0;
            if (lyricList.OnNotify(header, result) || logList.OnNotify(header, result)) {
                ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
                return TRUE;
            }
            return FALSE;
        }
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case IDM_ABOUTBOX:
                case IDM_SETTINGS:
                case IDM_VIEW_RAW:
                case IDM_INCLUDE_SUBFOLDERS:
                case IDM_SKIP_EXISTING:
                    OnSysCommand(wParam & 0xFFF0);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_INITMENUPOPUP:
            // The system menu shows the folder options as the settings hold them.
            if (HIWORD(lParam) != 0) {
                const HMENU menu = reinterpret_cast<HMENU>(wParam);
                for (const auto& [command, which] : FolderOptionItems)
                    ::CheckMenuItem(
                        menu, command,
                        MF_BYCOMMAND |
                            (app.Session().FolderOption(which) ? MF_CHECKED : MF_UNCHECKED));
            }
            return FALSE;
        case WM_GETMINMAXINFO: {
            // Never smaller than at start, never wider or narrower.
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            if (initialSize.cx > 0) {
                limits->ptMinTrackSize = POINT{initialSize.cx, initialSize.cy};
                limits->ptMaxTrackSize.x = initialSize.cx;
            }
            return TRUE;
        }
        case WM_SIZE:
            OnSize();
            return TRUE;
        case WM_SETCURSOR:
            if (busy) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_APPSTARTING));
                ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(icon);
        case WM_PAINT:
            if (::IsIconic(dialog)) {
                PAINTSTRUCT paint{};
                HDC dc = ::BeginPaint(dialog, &paint);
                RECT client{};
                ::GetClientRect(dialog, &client);
                ::DrawIcon(dc, (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2,
                           (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2, icon);
                ::EndPaint(dialog, &paint);
                return TRUE;
            }
            return FALSE;
        case WM_RUN_EVENTS:
            app.Drain();
            return TRUE;
        case WM_APPEND_ROWS:
            if (lyricRows) lyricRows->AppendSlice();
            return TRUE;
        case WM_TIMER:
            if (wParam != FollowTimer) return FALSE;
            FollowLog();
            return TRUE;
        case WM_CLOSE:
            OnClose();
            return TRUE;
        case WM_DESTROY:
            OnDestroy();
            return FALSE;
        default:
            return FALSE;
    }
}

void CQuillonDlg::OnInitDialog() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    // The fields into the controls: the last file, both boxes checked.
    ::SetDlgItemTextW(dialog, IDC_PATH, Wide(app.Session().InitialPath()).c_str());
    ::CheckDlgButton(dialog, IDC_SECOND_LINE, BST_CHECKED);
    ::CheckDlgButton(dialog, IDC_THIRD_LINE, BST_CHECKED);

    // The system menu: the raw lyric, the folder options, the settings and, when its string is
    // there, the about box.
    if (HMENU menu = ::GetSystemMenu(dialog, FALSE)) {
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(menu, MF_STRING, IDM_VIEW_RAW, L"가사 원본 보기...");
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(menu, MF_STRING, IDM_INCLUDE_SUBFOLDERS, L"하위 폴더 포함");
        ::AppendMenuW(menu, MF_STRING, IDM_SKIP_EXISTING, L"가사 파일이 있는 곡 건너뛰기");
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(menu, MF_STRING, IDM_SETTINGS, L"설정(&S)...");
        wchar_t about[128] = {};
        if (::LoadStringW(instance, IDS_ABOUTBOX, about, 128) > 0)
            ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
    }

    icon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLON), IMAGE_ICON,
                                           ::GetSystemMetrics(SM_CXICON),
                                           ::GetSystemMetrics(SM_CYICON), 0));
    smallIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLON), IMAGE_ICON,
                                                ::GetSystemMetrics(SM_CXSMICON),
                                                ::GetSystemMetrics(SM_CYSMICON), 0));
    ::SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));

    // The edges the controls follow, and the size the window never goes below.
    RECT window{};
    ::GetWindowRect(dialog, &window);
    initialSize = SIZE{window.right - window.left, window.bottom - window.top};
    for (const auto& [id, bottom] : {std::pair{IDC_FILE_GROUP, false},
                                     {IDC_INFO_GROUP, false},
                                     {IDC_VIEW_GROUP, true},
                                     {IDC_LYRICS, true},
                                     {IDC_LOG, true}}) {
        RECT rect{};
        ::GetWindowRect(Control(id), &rect);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        anchored.push_back({id, rect, bottom});
    }
    RECT client{};
    ::GetClientRect(dialog, &client);
    const int grip = ::GetSystemMetrics(SM_CXVSCROLL);
    sizeGrip = ::CreateWindowExW(0, L"SCROLLBAR", nullptr,
                                 WS_CHILD | WS_VISIBLE | SBS_SIZEGRIP | SBS_SIZEBOXBOTTOMRIGHTALIGN,
                                 client.right - grip, client.bottom - grip, grip, grip, dialog,
                                 nullptr, instance, nullptr);

    pathBox.Attach(Control(IDC_PATH));
    ::SendMessageW(Control(IDC_MODE), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"파일선택"));
    ::SendMessageW(Control(IDC_MODE), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"폴더선택"));
    ::SendMessageW(Control(IDC_MODE), CB_SETCURSEL, 0, 0);

    lyricList.Attach(Control(IDC_LYRICS));
    lyricImages = ::ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
    ::ImageList_AddIcon(lyricImages,
                        static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_LYRIC),
                                                        IMAGE_ICON, 16, 16, LR_SHARED)));
    lyricList.SetImageList(lyricImages);
    lyricList.AddExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    lyricList.InsertColumn(0, L"", LVCFMT_LEFT, 18);
    lyricList.InsertColumn(1, L"시간", LVCFMT_CENTER, 70);
    lyricList.InsertColumn(2, L"가사", LVCFMT_LEFT, 650);
    lyricList.EditorKindCallback = &LyricEditorKind;
    lyricList.LockColumns({0, 1});

    logList.Attach(Control(IDC_LOG));
    logImages = ::ImageList_LoadImageW(instance, MAKEINTRESOURCEW(IDB_LOG_IMAGES), 16, 6,
                                       RGB(255, 255, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
    logList.SetImageList(logImages);
    // Info tips carry a failed row's cause.
    logList.AddExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP |
                             LVS_EX_INFOTIP);
    logList.InsertColumn(0, L"", LVCFMT_LEFT, 18);
    logList.InsertColumn(1, L"로그출력시각", LVCFMT_CENTER, 90);
    logList.InsertColumn(2, L"로그내용", LVCFMT_LEFT, 630);
    logList.LockColumns({0, 1, 2});

    ::ShowWindow(Control(IDC_LOG), SW_HIDE);
    ::EnableWindow(Control(IDC_SAVE), FALSE);
    lyricRows = std::make_unique<ReportListView>(lyricList, dialog);

    HWND self = dialog;
    app.Connect([self] { ::PostMessageW(self, WM_RUN_EVENTS, 0, 0); });
    ready = true;
    // Started on a folder: folder mode, as choosing it shows it.
    if (app.Session().InitialMode() == DownloadMode::Folder) {
        ::SendMessageW(Control(IDC_MODE), CB_SETCURSEL, 1, 0);
        app.OnModeChanged();
    }
}

void CQuillonDlg::OnCommand(WORD id, WORD code) {
    if (!ready) return;
    switch (id) {
        case IDC_DOWNLOAD:
            if (code == BN_CLICKED) app.OnDownload();
            break;
        case IDC_SAVE:
            if (code == BN_CLICKED) app.OnSave();
            break;
        case IDCANCEL:
            OnClose();
            break;
        case IDOK:
            break;  // the window has no OK command: Enter outside a push button does nothing
        case IDC_PATH:
            if (code == EN_CHANGE) app.OnPathChanged();
            if (code == BrowseEdit::Browse) app.OnBrowse();
            break;
        case IDC_MODE:
            if (code == CBN_SELCHANGE) app.OnModeChanged();
            break;
        default:
            break;
    }
}

void CQuillonDlg::OnSysCommand(WPARAM command) {
    ReadControls();
    if (command == IDM_ABOUTBOX) RunAboutBox();
    if (command == IDM_SETTINGS) RunSettingsDialog();
    if (command == IDM_VIEW_RAW) app.OnViewRaw();
    // A folder option is stored as soon as it is chosen.
    for (const auto& [item, which] : FolderOptionItems)
        if (command == item)
            app.Session().SetFolderOption(which, !app.Session().FolderOption(which));
}

void CQuillonDlg::OnSize() {
    if (initialSize.cx == 0) return;
    RECT window{};
    ::GetWindowRect(dialog, &window);
    const int dw = (window.right - window.left) - initialSize.cx;
    const int dh = (window.bottom - window.top) - initialSize.cy;
    for (const Anchored& item : anchored) {
        const RECT& r = item.initial;
        ::SetWindowPos(Control(item.id), nullptr, r.left, r.top, r.right - r.left + dw,
                       r.bottom - r.top + (item.bottom ? dh : 0), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT client{};
    ::GetClientRect(dialog, &client);
    const int grip = ::GetSystemMetrics(SM_CXVSCROLL);
    ::SetWindowPos(sizeGrip, nullptr, client.right - grip, client.bottom - grip, grip, grip,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ::InvalidateRect(dialog, nullptr, TRUE);
}

void CQuillonDlg::OnClose() {
    app.OnClose();
    // A modal dialog ends its loop; one created without a loop of its own goes at once.
    if (modal) {
        ::EndDialog(dialog, IDCANCEL);
    } else {
        ::DestroyWindow(dialog);
    }
}

void CQuillonDlg::OnDestroy() {
    tip.Hide();
    app.OnDestroy();
    ready = false;
}

ControlValues CQuillonDlg::ReadControls() {
    ControlValues values;
    const LRESULT mode = ::SendMessageW(Control(IDC_MODE), CB_GETCURSEL, 0, 0);
    values.mode = mode == 1 ? DownloadMode::Folder : DownloadMode::SingleFile;
    const std::wstring path = ItemText(Control(IDC_PATH));
    values.pathText = Utf16(path);
    values.path = std::filesystem::path(path);
    values.second = ::IsDlgButtonChecked(dialog, IDC_SECOND_LINE) == BST_CHECKED;
    values.third = ::IsDlgButtonChecked(dialog, IDC_THIRD_LINE) == BST_CHECKED;
    return values;
}

LyricView& CQuillonDlg::LyricRows() {
    return *lyricRows;
}

bool CQuillonDlg::RowsWaiting() const {
    return lyricRows && lyricRows->Waiting();
}

void CQuillonDlg::ClearViews() {
    if (lyricRows) lyricRows->Forget();
    lyricList.DeleteAllRows();
    logList.DeleteAllRows();
}

void CQuillonDlg::ShowInfoFields(std::u16string_view title, std::u16string_view artist,
                                 std::u16string_view album) {
    ::SetDlgItemTextW(dialog, IDC_TITLE, Wide(title).c_str());
    ::SetDlgItemTextW(dialog, IDC_ARTIST, Wide(artist).c_str());
    ::SetDlgItemTextW(dialog, IDC_ALBUM, Wide(album).c_str());
}

void CQuillonDlg::ShowControls(const ControlState& state) {
    ::SetDlgItemTextW(dialog, IDC_DOWNLOAD, Wide(state.downloadCaption).c_str());
    ::EnableWindow(Control(IDC_DOWNLOAD), state.downloadEnabled);
    ::EnableWindow(Control(IDC_SAVE), state.saveEnabled);
    ::EnableWindow(Control(IDC_MODE), state.modeEnabled);
    ::EnableWindow(Control(IDC_PATH), state.pathEnabled);
}

void CQuillonDlg::ShowMode(DownloadMode, const ModeLayout& layout) {
    ::SetDlgItemTextW(dialog, IDC_DOWNLOAD, Wide(layout.downloadCaption).c_str());
    ::SetDlgItemTextW(dialog, IDC_VIEW_GROUP, Wide(layout.viewCaption).c_str());
    ::ShowWindow(Control(IDC_LYRICS), layout.lyricViewShown ? SW_SHOW : SW_HIDE);
    ::ShowWindow(Control(IDC_LOG), layout.lyricViewShown ? SW_HIDE : SW_SHOW);
}

void CQuillonDlg::ShowPath(std::u16string_view text) {
    // Setting the text is a path change: the box tells the window so (EN_CHANGE).
    ::SetDlgItemTextW(dialog, IDC_PATH, Wide(text).c_str());
}

void CQuillonDlg::ShowTipAt(TipAnchor anchor, std::u16string_view text, std::string_view cause) {
    // The cause goes on a line of its own below the message.
    std::wstring shown = Wide(text);
    if (!cause.empty()) shown += L'\n' + WideFromUtf8(cause);
    ShowTip(anchor == TipAnchor::Save ? IDC_SAVE : IDC_DOWNLOAD, shown);
}

void CQuillonDlg::ShowTip(int id, const std::wstring& text) {
    HWND control = Control(id);
    if (control == nullptr) return;
    if (!tip.IsCreated()) tip.Create(dialog);
    if (!tip.IsCreated()) return;
    RECT rect{};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    ::MessageBeep(0xFFFFFFFF);
    tip.SetColors(RGB(255, 255, 0), RGB(0, 0, 0));
    tip.Show(POINT{rect.left, rect.top}, text);
}

void CQuillonDlg::AddLogRow(int image, std::u16string_view time, std::u16string_view text,
                            std::string_view cause) {
    // The log follows its newest row, unless the user has scrolled up to read an older one: the
    // last row was in sight before this one came, or a scroll to it is pending.
    const HWND list = logList.Handle();
    const int count = logList.RowCount();
    const bool following = followPending || count == 0 ||
                           ::SendMessageW(list, LVM_GETTOPINDEX, 0, 0) +
                                   ::SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0) >=
                               count;
    const int row = logList.AppendRow(image);
    logList.SetCellText(row, 1, Wide(time));
    logList.SetCellText(row, 2, Wide(text));
    if (!cause.empty()) logList.SetRowTip(row, WideFromUtf8(cause));
    if (following && !followPending) {
        followPending = true;
        ::SetTimer(dialog, FollowTimer, FollowInterval, nullptr);
    }
}

void CQuillonDlg::FollowLog() {
    ::KillTimer(dialog, FollowTimer);
    if (!followPending) return;
    followPending = false;
    const int count = logList.RowCount();
    if (count > 0) ::SendMessageW(logList.Handle(), LVM_ENSUREVISIBLE, count - 1, FALSE);
}

void CQuillonDlg::AppendLogRow(int image, const std::wstring& text) {
    AddLogRow(image, LogTimeNow(), Utf16(text), {});
}

void CQuillonDlg::JobStarted(DownloadMode mode) {
    // Nothing else shows that a single query is under way, and it may take a minute.
    if (mode != DownloadMode::SingleFile) return;
    busy = true;
    ::SetCursor(::LoadCursorW(nullptr, IDC_APPSTARTING));
}

void CQuillonDlg::ShowCaption(std::u16string_view caption) {
    ::SetWindowTextW(dialog, Wide(caption).c_str());
}

void CQuillonDlg::JobEnded(int) {
    if (!busy) return;
    busy = false;
    POINT cursor{};
    ::GetCursorPos(&cursor);
    ::SetCursorPos(cursor.x, cursor.y);  // the window sets its cursor anew
}

std::optional<std::u16string> CQuillonDlg::AskOpenPath(DownloadMode mode,
                                                       std::u16string_view current) {
    std::optional<std::wstring> chosen;
    if (mode == DownloadMode::SingleFile) {
        // No file is preselected; the dialog opens where the current file lies.
        const std::filesystem::path path(Wide(current));
        chosen = ChooseFile(current.empty() ? std::wstring() : path.parent_path().wstring());
    } else {
        std::wstring start = Wide(current);
        if (start.empty()) start = std::filesystem::current_path().wstring();
        chosen = ChooseFolder(start);
    }
    if (!chosen || chosen->empty()) return std::nullopt;
    return Utf16(*chosen);
}

std::optional<quillon::SaveChoice> CQuillonDlg::AskSaveFile(std::u16string_view folder,
                                                            std::u16string_view name, int filter) {
    const std::optional<SaveChoice> choice = ChooseSaveFile(Wide(folder), Wide(name), filter);
    if (!choice) return std::nullopt;
    return quillon::SaveChoice{std::filesystem::path(choice->path), choice->filter};
}

void CQuillonDlg::OpenWithViewer(const std::filesystem::path& file) {
    OpenRawLyrics(file.wstring());
}

bool CQuillonDlg::AskYesNo(std::u16string_view question, bool yesByDefault) {
    return Ask(Wide(question), yesByDefault);
}

std::optional<std::wstring> CQuillonDlg::ChooseFile(const std::wstring& folder) {
    std::wstring file(32768, L'\0');
    OPENFILENAMEW open{};
    open.lStructSize = sizeof open;
    open.hwndOwner = dialog;
    open.lpstrFilter = L"MP3 음악 파일 (*.mp3)\0*.mp3\0모든 파일 (*.*)\0*.*\0";
    open.nFilterIndex = 1;
    open.lpstrFile = file.data();
    open.nMaxFile = static_cast<DWORD>(file.size());
    open.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    open.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!::GetOpenFileNameW(&open)) return std::nullopt;
    file.resize(std::wcslen(file.c_str()));
    return file;
}

std::optional<std::wstring> CQuillonDlg::ChooseFolder(const std::wstring& start) {
    BROWSEINFOW browse{};
    browse.hwndOwner = dialog;
    browse.lpszTitle = L"디렉토리 이름을 입력하세요:";
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    browse.lpfn = &BrowseProc;
    browse.lParam = reinterpret_cast<LPARAM>(start.c_str());
    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&browse);
    if (chosen == nullptr) return std::nullopt;
    wchar_t path[MAX_PATH] = {};
    const bool ok = ::SHGetPathFromIDListW(chosen, path);
    ::CoTaskMemFree(chosen);
    if (!ok) return std::nullopt;
    return std::wstring(path);
}

std::optional<CQuillonDlg::SaveChoice> CQuillonDlg::ChooseSaveFile(const std::wstring& folder,
                                                                   const std::wstring& name,
                                                                   int filter) {
    wchar_t file[260] = {};
    name.copy(file, std::min<std::size_t>(name.size(), 259));
    OPENFILENAMEW save{};
    save.lStructSize = sizeof save;
    save.hwndOwner = dialog;
    save.lpstrFilter =
        L"표준 ANSI (*.lrc)\0*.lrc\0유니코드 Big Endian (*.lrc)\0*.lrc\0"
        L"유니코드 Little Endian(*.lrc)\0*.lrc\0";
    save.nFilterIndex = static_cast<DWORD>(filter + 1);
    save.lpstrFile = file;
    save.nMaxFile = 260;
    save.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    save.lpstrDefExt = L"lrc";
    save.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    if (!::GetSaveFileNameW(&save)) return std::nullopt;
    return SaveChoice{file, static_cast<int>(save.nFilterIndex) - 1};
}

void CQuillonDlg::OpenRawLyrics(const std::wstring& path) {
    ::ShellExecuteW(dialog, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void CQuillonDlg::RunAboutBox() {
    // The homepage's link control is registered on request.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LINK_CLASS};
    ::InitCommonControlsEx(&controls);
    const AboutInfo about = app.Session().About();
    ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), dialog,
                      &AboutProc, reinterpret_cast<LPARAM>(&about));
}

bool CQuillonDlg::Ask(const std::wstring& question, bool yesByDefault) {
    const UINT style = MB_YESNO | MB_ICONQUESTION | (yesByDefault ? MB_DEFBUTTON1 : MB_DEFBUTTON2);
    return ::MessageBoxW(dialog, question.c_str(), L"Quillon", style) == IDYES;
}

void CQuillonDlg::RunSettingsDialog() {
    ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETTINGS), dialog,
                      &SettingsProc, reinterpret_cast<LPARAM>(this));
}

// The settings dialog shows what the application holds; OK stores the values only when every
// one is right, otherwise it says why and stays open with nothing changed.
INT_PTR CALLBACK CQuillonDlg::SettingsProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(box, DWLP_USER, lParam);
        const ServiceSettings values =
            reinterpret_cast<CQuillonDlg*>(lParam)->app.Session().CurrentSettings();
        for (const auto& [id, field] : SettingsFields)
            ::SetDlgItemTextW(box, id, Wide(values.*field).c_str());
        return TRUE;
    }
    auto* self = reinterpret_cast<CQuillonDlg*>(::GetWindowLongPtrW(box, DWLP_USER));
    if (self == nullptr || message != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
        case IDOK: {
            ServiceSettings values;
            for (const auto& [id, field] : SettingsFields)
                values.*field = Utf16(ItemText(::GetDlgItem(box, id)));
            if (const auto refusal = self->app.Session().ApplySettings(values)) {
                self->ShowRefusal(box, Wide(*refusal));
            } else {
                ::EndDialog(box, IDOK);
            }
            return TRUE;
        }
        case IDCANCEL:
            ::EndDialog(box, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

void CQuillonDlg::ShowRefusal(HWND box, const std::wstring& text) {
    ::MessageBoxW(box, text.c_str(), L"Quillon 설정", MB_OK | MB_ICONWARNING);
}

}  // namespace quillon::win32
