#pragma once

#include <QIcon>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTableWidget>

#include <optional>

namespace quillon {

class ReportCellEdit;

// Rows of text in columns with an icon in column 0, in-place editing of the cells the owner
// allows, and Delete-key removal of the marked row.
class ReportListCtrl : public QTableWidget {
    Q_OBJECT

public:
    // Extended style bits understood by AddExtendedStyle.
    static constexpr quint32 GridLines = 0x0001;
    static constexpr quint32 FullRowSelect = 0x0020;
    static constexpr quint32 LabelTip = 0x4000;

    // Decides per column whether a cell can be edited: 0 opens a text editor, any other
    // value leaves the column read-only. Without a callback no column is editable.
    using EditorKindFn = int (*)(int column);
    EditorKindFn EditorKindCallback = nullptr;

    explicit ReportListCtrl(QWidget* parent = nullptr);
    ~ReportListCtrl() override;

    // Inserts a column (format: Qt::AlignLeft, Qt::AlignHCenter or Qt::AlignRight) and
    // returns its index, or -1. Column 0, which shows the images, is never narrower than
    // IconColumnWidth.
    int InsertColumn(int index, const QString& title, Qt::Alignment format, int width,
                     int subItem = -1);
    // Adds style bits and returns the previous ones; never clears a bit.
    quint32 AddExtendedStyle(quint32 bits);
    quint32 ExtendedStyle() const { return extendedStyle; }
    // The header refuses to resize these columns.
    void LockColumns(const QList<int>& columns);

    // The small images that rows show in column 0.
    void SetImageList(const QList<QIcon>& images);
    // The width column 0 needs to show a whole image with the style's margins around it.
    int IconColumnWidth() const;

    // The list operations the rest of the program uses.
    int RowCount() const { return rowCount(); }
    int AppendRow(int image);  // empty texts; returns the new row's index
    // Appends a row per entry of `texts` (each the texts of its columns), all with `image`, in
    // one go: the view hears of the new rows once rather than cell by cell.
    void AppendRows(int image, const QList<QStringList>& texts);
    void SetCellText(int row, int column, const QString& text);
    QString CellText(int row, int column) const;
    // A tip of the whole row, shown over any of its cells (with label tips on).
    void SetRowTip(int row, const QString& tip);
    QString RowTip(int row) const;
    void DeleteAllRows();
    // The marked row (the current row while it is selected), or -1.
    int SelectionMark() const;

    // Opens the in-place editor over (row, column); false when the row cannot be shown.
    bool BeginCellEdit(int row, int column);

    // The open editor, if any.
    ReportCellEdit* ActiveEditor() const { return editor.data(); }

signals:
    // A finished edit stored its text in (row, column).
    void CellCommitted(int row, int column);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class ReportCellEdit;

    // A finished edit: `text` is empty (no value) when it was cancelled.
    void EndCellEdit(int row, int column, const std::optional<QString>& text);
    void DeleteMarkedRow();
    void BeginEditFromKeyboard();
    Qt::Alignment ColumnFormat(int column) const;
    QTableWidgetItem* MakeItem(int column) const;
    // The cell's full text when it does not fit the cell, else an empty string.
    QString ClippedCellText(const QModelIndex& index) const;
    void UpdateRowHeight();
    void FitIconColumn();

    quint32 extendedStyle = 0;
    QList<Qt::Alignment> columnFormats;
    QList<QIcon> imageList;
    QPointer<ReportCellEdit> editor;
};

// The borderless editor over one cell. It ends when it loses the keyboard focus: Enter and
// Escape hand the focus back to the list, Escape marking the edit as cancelled. It deletes
// itself once it has ended.
class ReportCellEdit : public QLineEdit {
    Q_OBJECT

public:
    static constexpr int ControlId = 0x1234;

    ReportCellEdit(ReportListCtrl* list, int row, int column, const QString& text);

    int Row() const { return row; }
    int Column() const { return column; }
    bool IsCancelled() const { return cancelled; }

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class ReportListCtrl;

    void Grow();
    // Reports the end of the edit to the list once, then goes away.
    void Finish();
    // The list is going away: end without reporting.
    void Detach() { list = nullptr; }

    ReportListCtrl* list;
    int row;
    int column;
    bool cancelled = false;
    bool finished = false;
};

}  // namespace quillon
