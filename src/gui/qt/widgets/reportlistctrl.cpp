#include "gui/qt/widgets/reportlistctrl.h"

#include <QAbstractItemDelegate>
#include <QEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleOptionViewItem>
#include <QToolTip>

#include <algorithm>

namespace quillon {

namespace {

// Keys that belong to the editor alone: the dialog around the list must never see them, so
// Enter cannot press its default button and Escape cannot close it.
bool IsEditorOwnKey(const QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
        case Qt::Key_Delete:
            return true;
        default:
            return (event->modifiers() & Qt::ControlModifier) != 0;
    }
}

}  // namespace

ReportListCtrl::ReportListCtrl(QWidget* parent) : QTableWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    // Cells change only through ReportCellEdit, never through the view's own editors.
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    // Tab leaves the list for the next control of the dialog, as in any other list.
    setTabKeyNavigation(false);
    setWordWrap(false);
    setShowGrid(false);
    setCornerButtonEnabled(false);
    setContextMenuPolicy(Qt::PreventContextMenu);
    // Sideways by pixels so that a cell's left edge can be brought exactly to the left border.
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setIconSize(QSize(16, 16));

    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    UpdateRowHeight();

    QHeaderView* header = horizontalHeader();
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    // The icon column is as narrow as its 16-pixel images.
    header->setMinimumSectionSize(1);
    header->setContextMenuPolicy(Qt::PreventContextMenu);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

ReportListCtrl::~ReportListCtrl() {
    if (editor) {
        editor->Detach();
        delete editor.data();
    }
}

int ReportListCtrl::InsertColumn(int index, const QString& title, Qt::Alignment format, int width,
                                 int subItem) {
    Q_UNUSED(subItem);
    if (index < 0) return -1;
    const int at = std::min(index, columnCount());
    const Qt::Alignment horizontal = format & Qt::AlignHorizontal_Mask;
    insertColumn(at);
    auto* headerItem = new QTableWidgetItem(title);
    headerItem->setTextAlignment(horizontal | Qt::AlignVCenter);
    setHorizontalHeaderItem(at, headerItem);
    columnFormats.insert(at, horizontal);
    setColumnWidth(at, at == 0 ? std::max(width, IconColumnWidth()) : width);
    return at;
}

quint32 ReportListCtrl::AddExtendedStyle(quint32 bits) {
    const quint32 previous = extendedStyle;
    extendedStyle |= bits;
    setShowGrid((extendedStyle & GridLines) != 0);
    setSelectionBehavior((extendedStyle & FullRowSelect) != 0 ? QAbstractItemView::SelectRows
                                                              : QAbstractItemView::SelectItems);
    FitIconColumn();  // the grid line takes a pixel of the cell
    return previous;
}

void ReportListCtrl::LockColumns(const QList<int>& columns) {
    QHeaderView* header = horizontalHeader();
    for (int column : columns) {
        if (column >= 0 && column < header->count()) {
            header->setSectionResizeMode(column, QHeaderView::Fixed);
        }
    }
}

void ReportListCtrl::SetImageList(const QList<QIcon>& images) {
    imageList = images;
}

int ReportListCtrl::AppendRow(int image) {
    const int row = rowCount();
    insertRow(row);
    for (int column = 0; column < columnCount(); ++column) setItem(row, column, MakeItem(column));
    if (image >= 0 && image < imageList.size() && columnCount() > 0) {
        item(row, 0)->setIcon(imageList.at(image));
    }
    return row;
}

void ReportListCtrl::AppendRows(int image, const QList<QStringList>& texts) {
    if (texts.isEmpty() || columnCount() == 0) return;
    const int first = rowCount();
    setRowCount(first + static_cast<int>(texts.size()));
    {
        // The cells are filled quietly and announced together below.
        const QSignalBlocker quiet(model());
        for (int row = 0; row < texts.size(); ++row) {
            for (int column = 0; column < columnCount(); ++column) {
                QTableWidgetItem* cell = MakeItem(column);
                if (column < texts[row].size()) cell->setText(texts[row][column]);
                if (column == 0 && image >= 0 && image < imageList.size())
                    cell->setIcon(imageList.at(image));
                setItem(first + row, column, cell);
            }
        }
    }
    emit model()->dataChanged(model()->index(first, 0),
                              model()->index(rowCount() - 1, columnCount() - 1));
}

void ReportListCtrl::SetCellText(int row, int column, const QString& text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) return;
    if (QTableWidgetItem* cell = item(row, column)) {
        cell->setText(text);
        return;
    }
    QTableWidgetItem* cell = MakeItem(column);
    cell->setText(text);
    setItem(row, column, cell);
}

void ReportListCtrl::SetRowTip(int row, const QString& tip) {
    if (row < 0 || row >= rowCount() || columnCount() == 0 || item(row, 0) == nullptr) return;
    item(row, 0)->setData(Qt::ToolTipRole, tip);
}

QString ReportListCtrl::RowTip(int row) const {
    const QTableWidgetItem* cell = row >= 0 && row < rowCount() ? item(row, 0) : nullptr;
    return cell != nullptr ? cell->data(Qt::ToolTipRole).toString() : QString();
}

QString ReportListCtrl::CellText(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell != nullptr ? cell->text() : QString();
}

void ReportListCtrl::DeleteAllRows() {
    setRowCount(0);
}

int ReportListCtrl::SelectionMark() const {
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return -1;
    // A current row that is not selected (the view sets one when it merely gets the focus) is
    // not a mark.
    return selectionModel()->rowIntersectsSelection(current.row(), current.parent()) ? current.row()
                                                                                     : -1;
}

bool ReportListCtrl::BeginCellEdit(int row, int column) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) return false;

    // Whatever may open an editor ends the one that is open.
    if (editor) editor->Finish();

    updateGeometries();

    // The row must be at least partly visible; only the vertical position is changed here.
    const int top = rowViewportPosition(row);
    if (top + rowHeight(row) <= 0 || top >= viewport()->height()) {
        const int sideways = horizontalScrollBar()->value();
        scrollTo(model()->index(row, column), QAbstractItemView::EnsureVisible);
        horizontalScrollBar()->setValue(sideways);
    }

    // Bring the cell's left edge to the left border when it is out of sight.
    const int clientRight = viewport()->width();
    int left = columnViewportPosition(column);
    if (left < 0 || left > clientRight) {
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + left);
        left = columnViewportPosition(column);
    }

    const int right = std::min(left + columnWidth(column), clientRight);
    const QRect geometry(left, rowViewportPosition(row), std::max(right - left, 0),
                         rowHeight(row) - 1);

    auto* edit = new ReportCellEdit(this, row, column, CellText(row, column));
    edit->setAlignment(ColumnFormat(column) | Qt::AlignVCenter);
    edit->setGeometry(geometry);
    editor = edit;
    edit->show();
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
    return true;
}

void ReportListCtrl::EndCellEdit(int row, int column, const std::optional<QString>& text) {
    if (row < 0 || !text.has_value()) return;
    // The rows may have been replaced while the editor was open; then no cell changes, but
    // the end of the edit is still announced.
    SetCellText(row, column, *text);
    emit CellCommitted(row, column);
}

void ReportListCtrl::DeleteMarkedRow() {
    const int mark = SelectionMark();
    if (mark < 0) return;
    const int count = rowCount();
    const int column = std::max(currentColumn(), 0);
    removeRow(mark);
    const int next = mark < count - 1 ? mark : mark - 1;
    if (next < 0) {
        selectionModel()->clear();
        return;
    }
    QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::ClearAndSelect;
    if (selectionBehavior() == QAbstractItemView::SelectRows) flags |= QItemSelectionModel::Rows;
    selectionModel()->setCurrentIndex(model()->index(next, column), flags);
}

void ReportListCtrl::BeginEditFromKeyboard() {
    if (EditorKindCallback == nullptr) return;
    const int row = SelectionMark();
    const int columns = horizontalHeader()->count();
    for (int column = 0; column < columns; ++column) {
        if (EditorKindCallback(column) == 0) {
            BeginCellEdit(row, column);
            return;
        }
    }
}

void ReportListCtrl::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        DeleteMarkedRow();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_F2) {
        BeginEditFromKeyboard();
        event->accept();
        return;
    }
    // The list offers no clipboard commands.
    if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::Cut) ||
        event->matches(QKeySequence::Paste)) {
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

void ReportListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableWidget::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton) return;
    if (!hasFocus()) setFocus(Qt::MouseFocusReason);
    if (EditorKindCallback == nullptr) return;
    const QPoint pos = event->position().toPoint();
    const int column = columnAt(pos.x());
    if (column < 0 || EditorKindCallback(column) != 0) return;
    const QModelIndex index = indexAt(pos);
    BeginCellEdit(index.isValid() ? index.row() : -1, column);
}

bool ReportListCtrl::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip && (extendedStyle & LabelTip) != 0) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        QString full = ClippedCellText(index);
        // A row's own tip (why a failure happened) follows the text the cell could not show.
        const QString rowTip = index.isValid() ? RowTip(index.row()) : QString();
        if (!rowTip.isEmpty()) full += (full.isEmpty() ? QString() : QStringLiteral("\n")) + rowTip;
        if (full.isEmpty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(help->globalPos(), full, viewport(), visualRect(index));
        }
        return true;
    }
    return QTableWidget::viewportEvent(event);
}

void ReportListCtrl::changeEvent(QEvent* event) {
    QTableWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) UpdateRowHeight();
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        FitIconColumn();
}

void ReportListCtrl::FitIconColumn() {
    if (columnCount() > 0 && columnWidth(0) < IconColumnWidth())
        setColumnWidth(0, IconColumnWidth());
}

int ReportListCtrl::IconColumnWidth() const {
    // What the style lays out around a cell's image: its margins on both sides, and the grid
    // line that the cell gives up on its right.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasDecoration;
    option.decorationSize = iconSize();
    option.text.clear();
    const QSize needed = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this);
    return std::max(needed.width(), iconSize().width()) + (showGrid() ? 1 : 0);
}

Qt::Alignment ReportListCtrl::ColumnFormat(int column) const {
    return column >= 0 && column < columnFormats.size() ? columnFormats.at(column)
                                                        : Qt::Alignment(Qt::AlignLeft);
}

QTableWidgetItem* ReportListCtrl::MakeItem(int column) const {
    auto* cell = new QTableWidgetItem();
    cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    cell->setTextAlignment(ColumnFormat(column) | Qt::AlignVCenter);
    return cell;
}

QString ReportListCtrl::ClippedCellText(const QModelIndex& index) const {
    if (!index.isValid()) return {};
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    const QSize needed = itemDelegateForIndex(index)->sizeHint(option, index);
    return needed.width() > option.rect.width() ? CellText(index.row(), index.column()) : QString();
}

void ReportListCtrl::UpdateRowHeight() {
    // Rows as compact as the text and the 16-pixel images allow.
    const int height = std::max(QFontMetrics(font()).height() + 3, iconSize().height() + 2);
    verticalHeader()->setDefaultSectionSize(height);
}

ReportCellEdit::ReportCellEdit(ReportListCtrl* owner, int editedRow, int editedColumn,
                               const QString& text)
    : QLineEdit(owner->viewport()), list(owner), row(editedRow), column(editedColumn) {
    setObjectName(QStringLiteral("ReportCellEdit"));
    setFrame(false);
    setFont(owner->font());
    setText(text);
    connect(this, &QLineEdit::textEdited, this, &ReportCellEdit::Grow);
}

bool ReportCellEdit::event(QEvent* event) {
    // Claim these keys before any shortcut of the dialog can take them.
    if (event->type() == QEvent::ShortcutOverride &&
        IsEditorOwnKey(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void ReportCellEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            cancelled = true;
            [[fallthrough]];
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Handing the focus back ends the edit; when the list cannot take it (its window is
            // not active) end it here.
            if (list != nullptr) list->setFocus(Qt::OtherFocusReason);
            Finish();
            event->accept();
            return;
        default:
            break;
    }
    QLineEdit::keyPressEvent(event);
    if (IsEditorOwnKey(event)) event->accept();
}

void ReportCellEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // The editor's own context menu borrows the focus and gives it back.
    if (event->reason() == Qt::PopupFocusReason) return;
    Finish();
}

void ReportCellEdit::Grow() {
    if (list == nullptr) return;
    const int needed = QFontMetrics(list->font()).horizontalAdvance(text()) + 5;
    if (needed <= width()) return;
    const int right = std::min(x() + needed, list->viewport()->width());
    if (right - x() > width()) resize(right - x(), height());
}

void ReportCellEdit::Finish() {
    if (finished) return;
    finished = true;
    ReportListCtrl* owner = list;
    list = nullptr;
    if (owner != nullptr && owner->editor == this) owner->editor = nullptr;
    const std::optional<QString> result = cancelled ? std::nullopt : std::optional<QString>(text());
    hide();
    deleteLater();
    if (owner != nullptr) owner->EndCellEdit(row, column, result);
}

}  // namespace quillon
