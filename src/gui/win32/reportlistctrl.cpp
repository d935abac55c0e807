#include "gui/win32/reportlistctrl.h"

#include <algorithm>

namespace quillon::win32 {
namespace {

constexpr UINT_PTR ListSubclass = 1;
constexpr UINT_PTR EditorSubclass = 2;

// The borderless editor over one cell. It ends when it loses the keyboard focus: Enter and
// Escape give the focus back to the list, Escape marking the edit as cancelled. The list's
// parent learns the end through LVN_ENDLABELEDITW; the editor then goes away.
struct CellEditor {
    HWND list;
    int row;
    int column;
    std::wstring initial;
    bool cancelled = false;
    bool finished = false;
};

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

void GrowEditor(HWND editor, const CellEditor& cell) {
    const std::wstring text = WindowText(editor);
    HDC dc = ::GetDC(editor);
    const HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(cell.list, WM_GETFONT, 0, 0)));
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(editor, dc);
    RECT box{};
    ::GetWindowRect(editor, &box);
    ::MapWindowPoints(nullptr, cell.list, reinterpret_cast<POINT*>(&box), 2);
    RECT client{};
    ::GetClientRect(cell.list, &client);
    const int needed = size.cx + 5;
    if (needed <= box.right - box.left) return;
    const int right = std::min<int>(box.left + needed, client.right);
    if (right > box.right)
        ::SetWindowPos(editor, nullptr, 0, 0, right - box.left, box.bottom - box.top,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FinishEdit(HWND editor, CellEditor& cell) {
    if (cell.finished) return;
    cell.finished = true;
    std::wstring text = WindowText(editor);
    NMLVDISPINFOW info{};
    info.hdr.hwndFrom = cell.list;
    info.hdr.idFrom = ReportListCtrl::EditorId;
    info.hdr.code = LVN_ENDLABELEDITW;
    info.item.mask = LVIF_TEXT;
    info.item.iItem = cell.row;
    info.item.iSubItem = cell.column;
    info.item.pszText = cell.cancelled ? nullptr : text.data();
    info.item.cchTextMax = static_cast<int>(text.size());
    ::SendMessageW(::GetParent(cell.list), WM_NOTIFY,
                   static_cast<WPARAM>(::GetDlgCtrlID(cell.list)), reinterpret_cast<LPARAM>(&info));
    ::DestroyWindow(editor);
}

LRESULT CALLBACK EditorProc(HWND editor, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                            DWORD_PTR data) {
    auto& cell = *reinterpret_cast<CellEditor*>(data);
    switch (message) {
        case WM_GETDLGCODE:
            // Every key comes here first: the dialog never presses its default button or
            // closes on Enter or Escape typed into the editor.
            return DLGC_WANTALLKEYS | ::DefSubclassProc(editor, message, wParam, lParam);
        case WM_KEYDOWN:
            if (wParam == VK_RETURN || wParam == VK_ESCAPE) return 0;
            break;
        case WM_CHAR:
            if (wParam == VK_ESCAPE || wParam == VK_RETURN) {
                cell.cancelled = wParam == VK_ESCAPE;
                ::SetFocus(cell.list);
                // When the list cannot take the focus (its window is not active), end here.
                if (!cell.finished) FinishEdit(editor, cell);
                return 0;
            } else {
                const LRESULT result = ::DefSubclassProc(editor, message, wParam, lParam);
                GrowEditor(editor, cell);
                return result;
            }
        case WM_KILLFOCUS:
            FinishEdit(editor, cell);
            break;
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(editor, &EditorProc, EditorSubclass);
            delete &cell;
            break;
        default:
            break;
    }
    return ::DefSubclassProc(editor, message, wParam, lParam);
}

}  // namespace

ReportListCtrl::~ReportListCtrl() {
    if (list != nullptr && ::IsWindow(list)) ::RemoveWindowSubclass(list, &ListProc, ListSubclass);
}

void ReportListCtrl::Attach(HWND window) {
    list = window;
    ::SetWindowSubclass(list, &ListProc, ListSubclass, reinterpret_cast<DWORD_PTR>(this));
}

int ReportListCtrl::InsertColumn(int index, const wchar_t* title, int format, int width,
                                 int subItem) {
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH;
    column.fmt = format;
    column.pszText = const_cast<wchar_t*>(title);
    column.cx = width;
    if (subItem >= 0) {
        column.mask |= LVCF_SUBITEM;
        column.iSubItem = subItem;
    }
    return static_cast<int>(
        ::SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column)));
}

DWORD ReportListCtrl::AddExtendedStyle(DWORD bits) {
    const auto previous =
        static_cast<DWORD>(::SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, previous | bits);
    return previous;
}

void ReportListCtrl::LockColumns(std::initializer_list<int> columns) {
    locked.assign(columns.begin(), columns.end());
}

void ReportListCtrl::SetImageList(HIMAGELIST images) {
    ::SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
}

int ReportListCtrl::RowCount() const {
    return static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

int ReportListCtrl::AppendRow(int image) {
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = RowCount();
    item.pszText = const_cast<wchar_t*>(L"");
    item.iImage = image;
    item.lParam = 0;
    return static_cast<int>(
        ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void ReportListCtrl::SetCellText(int row, int column, std::wstring_view text) {
    std::wstring value(text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = value.data();
    ::SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

std::wstring ReportListCtrl::CellText(int row, int column) const {
    if (row < 0 || row >= RowCount()) return {};
    std::wstring text(1024, L'\0');
    for (;;) {
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = text.data();
        item.cchTextMax = static_cast<int>(text.size());
        const auto length = static_cast<std::size_t>(
            ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
        if (length + 1 < text.size()) {
            text.resize(length);
            return text;
        }
        text.resize(text.size() * 2);
    }
}

void ReportListCtrl::DeleteAllRows() {
    // Drawn once, empty, rather than once per row that goes.
    SetRedraw(false);
    ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    SetRedraw(true);
    tips.clear();
}

void ReportListCtrl::SetRedraw(bool on) {
    ::SendMessageW(list, WM_SETREDRAW, on ? TRUE : FALSE, 0);
    if (on) ::InvalidateRect(list, nullptr, TRUE);
}

void ReportListCtrl::SetRowTip(int row, std::wstring_view tip) {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    const LPARAM key = nextTip++;
    item.lParam = key;
    if (::SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
        tips[key] = std::wstring(tip);
}

std::wstring ReportListCtrl::RowTip(int row) const {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return {};
    const auto it = tips.find(item.lParam);
    return it == tips.end() ? std::wstring() : it->second;
}

int ReportListCtrl::SelectionMark() const {
    return static_cast<int>(::SendMessageW(list, LVM_GETSELECTIONMARK, 0, 0));
}

HWND ReportListCtrl::ActiveEditor() const {
    return ::GetDlgItem(list, EditorId);
}

int ReportListCtrl::ColumnFormat(int column) const {
    LVCOLUMNW info{};
    info.mask = LVCF_FMT;
    ::SendMessageW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&info));
    return info.fmt & LVCFMT_JUSTIFYMASK;
}

bool ReportListCtrl::BeginCellEdit(int row, int column) {
    if (!::SendMessageW(list, LVM_ENSUREVISIBLE, row, TRUE)) return false;
    // Whatever may open an editor ends the one that is open: it ends when it loses the focus.
    if (ActiveEditor() != nullptr) ::SetFocus(list);
    const auto cellRect = [&] {
        RECT cell{};
        cell.top = column;
        // Column 0's bounds would be the whole row's; its label is the cell.
        cell.left = column == 0 ? LVIR_LABEL : LVIR_BOUNDS;
        ::SendMessageW(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell));
        return cell;
    };
    RECT cell = cellRect();
    RECT client{};
    ::GetClientRect(list, &client);
    if (cell.left < 0 || cell.left > client.right) {
        ::SendMessageW(list, LVM_SCROLL, cell.left, 0);
        cell = cellRect();
    }
    const int width = static_cast<int>(::SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
    const int right = std::min<int>(cell.left + width, client.right);
    const int bottom = cell.bottom - 1;

    const int format = ColumnFormat(column);
    const DWORD align = format == LVCFMT_RIGHT ? ES_RIGHT : format == LVCFMT_CENTER ? ES_CENTER : 0;
    auto* editor = new CellEditor{list, row, column, CellText(row, column)};
    HWND window = ::CreateWindowExW(0, L"EDIT", editor->initial.c_str(),
                                    WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL | align, cell.left,
                                    cell.top, right - cell.left, bottom - cell.top, list,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(EditorId)),
                                    ::GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) {
        delete editor;
        return false;
    }
    ::SetWindowSubclass(window, &EditorProc, EditorSubclass, reinterpret_cast<DWORD_PTR>(editor));
    ::SendMessageW(window, WM_SETFONT, ::SendMessageW(list, WM_GETFONT, 0, 0), FALSE);
    ::SetFocus(window);
    ::SendMessageW(window, EM_SETSEL, 0, -1);
    ::SendMessageW(window, EM_SCROLLCARET, 0, 0);
    return true;
}

void ReportListCtrl::BeginEditFromKeyboard() {
    if (EditorKindCallback == nullptr) return;
    const int row = SelectionMark();
    HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int columns = static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int column = 0; column < columns; ++column) {
        if (EditorKindCallback(column) == 0) {
            BeginCellEdit(row, column);
            return;
        }
    }
}

void ReportListCtrl::DeleteMarkedRow() {
    const int mark = SelectionMark();
    if (mark < 0) return;
    const int count = RowCount();
    ::SendMessageW(list, LVM_DELETEITEM, mark, 0);
    const int next = mark < count - 1 ? mark : mark - 1;
    if (next < 0) return;
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(list, LVM_SETITEMSTATE, next, reinterpret_cast<LPARAM>(&state));
    ::SendMessageW(list, LVM_SETSELECTIONMARK, 0, next);
}

void ReportListCtrl::Commit(const NMLVDISPINFOW& info) {
    if (info.item.iItem < 0 || info.item.pszText == nullptr) return;
    // A row that went away while the editor was open changes nothing.
    if (info.item.iItem >= RowCount()) return;
    SetCellText(info.item.iItem, info.item.iSubItem, info.item.pszText);
    if (info.item.iSubItem != 0) SetCellText(info.item.iItem, 0, CellText(info.item.iItem, 0));
    ::PostMessageW(::GetParent(list), EditCommitted, static_cast<WPARAM>(info.item.iItem),
                   static_cast<LPARAM>(info.item.iSubItem));
}

bool ReportListCtrl::OnNotify(const NMHDR* header, LRESULT& result) {
    if (header->hwndFrom != list) return false;
    result = 0;
    switch (header->code) {
        case NM_DBLCLK: {
            const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(header);
            if (::GetFocus() != list) ::SetFocus(list);
            if (EditorKindCallback != nullptr && activate->iItem >= 0 &&
                EditorKindCallback(activate->iSubItem) == 0)
                BeginCellEdit(activate->iItem, activate->iSubItem);
            return true;
        }
        case LVN_KEYDOWN: {
            const auto* key = reinterpret_cast<const NMLVKEYDOWN*>(header);
            if (key->wVKey == VK_DELETE) DeleteMarkedRow();
            if (key->wVKey == VK_F2) BeginEditFromKeyboard();
            return true;
        }
        case LVN_ENDLABELEDITW:
            Commit(*reinterpret_cast<const NMLVDISPINFOW*>(header));
            return true;
        case LVN_GETINFOTIPW: {
            auto* tip =
                const_cast<NMLVGETINFOTIPW*>(reinterpret_cast<const NMLVGETINFOTIPW*>(header));
            const std::wstring text = RowTip(tip->iItem);
            if (!text.empty() && tip->cchTextMax > 0) {
                const std::size_t room = static_cast<std::size_t>(tip->cchTextMax) - 1;
                const std::size_t length = std::min(room, text.size());
                text.copy(tip->pszText, length);
                tip->pszText[length] = L'\0';
            }
            return true;
        }
        case NM_CUSTOMDRAW: {
            auto* draw =
                const_cast<NMLVCUSTOMDRAW*>(reinterpret_cast<const NMLVCUSTOMDRAW*>(header));
            if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
                result = CDRF_NOTIFYITEMDRAW;
            } else if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
                result = CDRF_NOTIFYSUBITEMDRAW;
            } else if (draw->nmcd.dwDrawStage == (CDDS_ITEMPREPAINT | CDDS_SUBITEM)) {
                draw->clrText = static_cast<COLORREF>(::SendMessageW(list, LVM_GETTEXTCOLOR, 0, 0));
                draw->clrTextBk =
                    static_cast<COLORREF>(::SendMessageW(list, LVM_GETTEXTBKCOLOR, 0, 0));
                result = CDRF_DODEFAULT;
            }
            return true;
        }
        default:
            return false;
    }
}

LRESULT CALLBACK ReportListCtrl::ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR, DWORD_PTR data) {
    auto& self = *reinterpret_cast<ReportListCtrl*>(data);
    switch (message) {
        case WM_NOTIFY: {
            // The header asks its list before a column is resized.
            const auto* header = reinterpret_cast<const NMHEADERW*>(lParam);
            const UINT code = header->hdr.code;
            if (code == HDN_BEGINTRACKW || code == HDN_BEGINTRACKA ||
                code == HDN_DIVIDERDBLCLICKW || code == HDN_DIVIDERDBLCLICKA) {
                if (std::find(self.locked.begin(), self.locked.end(), header->iItem) !=
                    self.locked.end())
                    return TRUE;
            }
            break;
        }
        case WM_CONTEXTMENU:
            return 0;  // no menu is ever given
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(window, &ListProc, ListSubclass);
            self.list = nullptr;
            break;
        default:
            break;
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace quillon::win32
