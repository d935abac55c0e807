#pragma once

#include <windows.h>

#include <commctrl.h>

#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::win32 {

// A list view in report view with in-place editing of the cells its owner allows, Delete-key
// removal of the marked row, columns that refuse resizing, and a tip per row. It takes over a
// list view of a dialog; the dialog hands it the list's WM_NOTIFY messages (OnNotify), as a
// framework reflects them.
class ReportListCtrl {
public:
    // Posted to the parent after every committed edit: wParam = row, lParam = column.
    static constexpr UINT EditCommitted = WM_USER + 200;
    static constexpr int EditorId = 0x1234;

    // Decides per column whether a cell can be edited: 0 opens a text editor, any other value
    // leaves the column read-only. Without a callback no column is editable.
    using EditorKindFn = int (*)(int column);
    EditorKindFn EditorKindCallback = nullptr;

    ReportListCtrl() = default;
    ~ReportListCtrl();
    ReportListCtrl(const ReportListCtrl&) = delete;
    ReportListCtrl& operator=(const ReportListCtrl&) = delete;

    // Takes over a list view (subclassing it).
    void Attach(HWND list);
    HWND Handle() const { return list; }

    // Inserts a column (LVCFMT_LEFT, LVCFMT_CENTER or LVCFMT_RIGHT); its index, or -1.
    int InsertColumn(int index, const wchar_t* title, int format, int width, int subItem = -1);
    // Adds extended style bits; returns the previous ones. Never clears a bit.
    DWORD AddExtendedStyle(DWORD bits);
    // The header refuses to resize these columns.
    void LockColumns(std::initializer_list<int> columns);
    void SetImageList(HIMAGELIST images);

    int RowCount() const;
    int AppendRow(int image);  // empty texts; returns the new row's index
    void SetCellText(int row, int column, std::wstring_view text);
    std::wstring CellText(int row, int column) const;
    void DeleteAllRows();
    // Off: the list keeps its rows out of sight while many change; on again: drawn once.
    void SetRedraw(bool on);
    // A tip shown over the row's cells (with info tips on); empty for none.
    void SetRowTip(int row, std::wstring_view tip);
    std::wstring RowTip(int row) const;
    // The list view's selection mark, or -1.
    int SelectionMark() const;

    // Opens the in-place editor over (row, column); false when the row cannot be shown.
    bool BeginCellEdit(int row, int column);
    // The open editor, or nullptr.
    HWND ActiveEditor() const;

    // The list's notifications, as its parent receives them; true when handled, with `result`.
    bool OnNotify(const NMHDR* header, LRESULT& result);

private:
    static LRESULT CALLBACK ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);
    void DeleteMarkedRow();
    void BeginEditFromKeyboard();
    void Commit(const NMLVDISPINFOW& info);
    int ColumnFormat(int column) const;

    HWND list = nullptr;
    std::vector<int> locked;
    std::map<LPARAM, std::wstring> tips;
    LPARAM nextTip = 1;
};

}  // namespace quillon::win32
