#include "gui/qt/widgets/reportlistctrl.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include <memory>

namespace quillon {
namespace {

QString U(const char* text) {
    return QString::fromUtf8(text);
}

// A dialog with a default button and a shortcut, a lyric view set up as the main window sets it
// up, and one more control to click into.
class ReportListTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog = std::make_unique<QDialog>();
        dialog->resize(460, 300);
        auto* ok = new QPushButton(U("확인"), dialog.get());
        ok->setDefault(true);
        ok->setGeometry(10, 260, 80, 30);
        QObject::connect(ok, &QPushButton::clicked, [this] { ++dialogReactions; });
        auto* save = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), dialog.get());
        QObject::connect(save, &QShortcut::activated, [this] { ++dialogReactions; });
        other = new QLineEdit(dialog.get());
        other->setGeometry(100, 260, 100, 30);

        list = new ReportListCtrl(dialog.get());
        list->setGeometry(10, 10, 400, 240);
        list->AddExtendedStyle(ReportListCtrl::GridLines | ReportListCtrl::FullRowSelect);
        list->InsertColumn(0, QString(), Qt::AlignLeft, 18);
        list->InsertColumn(1, U("시간"), Qt::AlignHCenter, 70);
        list->InsertColumn(2, U("가사"), Qt::AlignLeft, 650);
        list->EditorKindCallback = [](int column) { return column == 2 ? 0 : 2; };
        list->LockColumns({0, 1});
        for (const char* line : {"첫째 줄", "둘째 줄", "셋째 줄", "넷째 줄"}) {
            const int row = list->AppendRow(0);
            list->SetCellText(row, 1, QStringLiteral("00:0%1.00").arg(row));
            list->SetCellText(row, 2, U(line));
        }
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    }

    QRect Cell(int row, int column) const {
        return QRect(list->columnViewportPosition(column), list->rowViewportPosition(row),
                     list->columnWidth(column), list->rowHeight(row));
    }
    // A click first, as a user's double-click starts with one.
    void DoubleClick(QPoint pos) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, pos);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, pos);
    }
    void DoubleClickCell(int row, int column) {
        DoubleClick(Cell(row, column).topLeft() + QPoint(5, 5));
    }
    ReportCellEdit* Editor() const { return list->ActiveEditor(); }
    // Key by key with its text, as an input method delivers Hangul.
    static void Type(QWidget* target, const QString& text) {
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, target, Qt::Key_unknown, QString(c), {});
    }
    // Lets finished editors delete themselves.
    static void Settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    std::unique_ptr<QDialog> dialog;
    QLineEdit* other = nullptr;
    ReportListCtrl* list = nullptr;
    int dialogReactions = 0;
};

TEST_F(ReportListTest, DoubleClickOpensBorderlessEditorExactlyOverTheCellClippedToTheList) {
    DoubleClickCell(1, 2);
    ReportCellEdit* editor = Editor();
    ASSERT_NE(editor, nullptr);
    const QRect cell = Cell(1, 2);
    EXPECT_EQ(
        editor->geometry(),
        QRect(cell.left(), cell.top(), list->viewport()->width() - cell.left(), cell.height() - 1));
    EXPECT_FALSE(editor->hasFrame());
    EXPECT_TRUE(editor->hasFocus());
    EXPECT_EQ(editor->selectedText(), U("둘째 줄"));
}

TEST_F(ReportListTest, EnterStoresEscapeDropsAndNoEditingKeyReachesTheDialog) {
    QSignalSpy committed(list, &ReportListCtrl::CellCommitted);
    DoubleClickCell(2, 2);
    Type(Editor(), U("새 가사"));
    QTest::keyClick(Editor(), Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(Editor(), Qt::Key_Home);
    QTest::keyClick(Editor(), Qt::Key_Delete);
    QTest::keyClick(Editor(), Qt::Key_Return);
    Settle();
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(list->CellText(2, 2), U(" 가사"));
    EXPECT_EQ(list->RowCount(), 4);
    ASSERT_EQ(committed.count(), 1);
    EXPECT_EQ(committed.at(0), (QVariantList{2, 2}));

    DoubleClickCell(1, 2);
    Type(Editor(), U("버릴 글"));
    QTest::keyClick(Editor(), Qt::Key_Escape);
    Settle();
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(list->CellText(1, 2), U("둘째 줄"));
    EXPECT_EQ(committed.count(), 1);
    EXPECT_EQ(dialogReactions, 0);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(ReportListTest, LosingTheFocusCommitsAndUnchangedOrEmptyTextIsStillStored) {
    QSignalSpy committed(list, &ReportListCtrl::CellCommitted);
    DoubleClickCell(0, 2);
    Type(Editor(), U("바뀐 줄"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, Cell(3, 2).topLeft() + QPoint(5, 5));
    EXPECT_EQ(list->CellText(0, 2), U("바뀐 줄"));
    EXPECT_EQ(list->SelectionMark(), 3);

    DoubleClickCell(1, 2);
    QTest::mouseClick(other, Qt::LeftButton);
    EXPECT_EQ(list->CellText(1, 2), U("둘째 줄"));

    DoubleClickCell(2, 2);
    QTest::keyClick(Editor(), Qt::Key_Backspace);
    QTest::keyClick(Editor(), Qt::Key_Enter);
    EXPECT_EQ(list->CellText(2, 2), QString());
    EXPECT_EQ(committed.count(), 3);

    // Rows replaced while the editor was open: no cell changes, the commit is still announced.
    ASSERT_TRUE(list->BeginCellEdit(3, 2));
    list->DeleteAllRows();
    list->SetCellText(list->AppendRow(0), 2, U("새 줄"));
    QTest::keyClick(Editor(), Qt::Key_Return);
    EXPECT_EQ(list->RowCount(), 1);
    EXPECT_EQ(list->CellText(0, 2), U("새 줄"));
    EXPECT_EQ(committed.last(), (QVariantList{3, 2}));
}

TEST_F(ReportListTest, OnlyTheLyricCellOfAMarkedOrClickedRowOpensAnEditor) {
    DoubleClickCell(1, 1);
    DoubleClickCell(1, 0);
    DoubleClick(QPoint(150, list->viewport()->height() - 5));  // below the last row
    EXPECT_EQ(Editor(), nullptr);

    // Taking the focus makes a current row but marks none.
    other->setFocus();
    list->setFocus(Qt::TabFocusReason);
    QTest::keyClick(list, Qt::Key_F2);
    EXPECT_EQ(Editor(), nullptr);

    list->setCurrentCell(2, 0);
    QTest::keyClick(list, Qt::Key_F2);
    ASSERT_NE(Editor(), nullptr);
    EXPECT_EQ(Editor()->Row(), 2);
    EXPECT_EQ(Editor()->Column(), 2);
    QTest::keyClick(Editor(), Qt::Key_Escape);

    list->EditorKindCallback = nullptr;  // as the log view
    DoubleClickCell(1, 2);
    QTest::keyClick(list, Qt::Key_F2);
    EXPECT_EQ(Editor(), nullptr);
}

TEST_F(ReportListTest, TheListScrollsSidewaysUntilTheCellsLeftEdgeIsVisible) {
    QScrollBar* bar = list->horizontalScrollBar();
    const int lyricStart = list->columnWidth(0) + 70;
    bar->setValue(lyricStart + 62);  // the lyric cell starts 62 px left of the list
    ASSERT_TRUE(list->BeginCellEdit(0, 2));
    EXPECT_EQ(bar->value(), lyricStart);
    EXPECT_EQ(Editor()->x(), 0);
    QTest::keyClick(Editor(), Qt::Key_Escape);

    bar->setValue(0);
    list->setColumnWidth(1, 600);  // now it starts right of the list
    ASSERT_TRUE(list->BeginCellEdit(0, 2));
    EXPECT_EQ(bar->value(), list->columnWidth(0) + 600);
    EXPECT_EQ(Editor()->x(), 0);
}

TEST_F(ReportListTest, TheEditorGrowsWithTheTextButNeverPastTheListNorShrinks) {
    list->setColumnWidth(2, 100);
    DoubleClickCell(0, 2);
    ReportCellEdit* editor = Editor();
    ASSERT_EQ(editor->width(), 100);
    QTest::keyClick(editor, Qt::Key_End);
    const QString longer = U("첫째 줄이 조금 길어졌다");
    Type(editor, longer.mid(4));
    EXPECT_EQ(editor->width(), QFontMetrics(list->font()).horizontalAdvance(longer) + 5);
    EXPECT_GT(editor->width(), 100);

    Type(editor, QString(60, QLatin1Char('W')));
    EXPECT_EQ(editor->x() + editor->width(), list->viewport()->width());
    const int widest = editor->width();
    for (int i = 0; i < 40; ++i) QTest::keyClick(editor, Qt::Key_Backspace);
    EXPECT_EQ(editor->width(), widest);
}

TEST_F(ReportListTest, DeleteRemovesTheMarkedRowAndSelectsTheOneNowInItsPlace) {
    list->setCurrentCell(1, 0);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(list->CellText(1, 2), U("셋째 줄"));
    EXPECT_EQ(list->SelectionMark(), 1);

    list->setCurrentCell(2, 0);  // the last row
    QTest::keyClick(list, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(list->RowCount(), 2);
    EXPECT_EQ(list->SelectionMark(), 1);

    list->clearSelection();
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(list->RowCount(), 2);

    list->removeRow(1);
    list->setCurrentCell(0, 0);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(list->RowCount(), 0);
    EXPECT_EQ(list->SelectionMark(), -1);
}

TEST_F(ReportListTest, LockedColumnsCannotBeResizedByDragging) {
    QHeaderView* header = list->horizontalHeader();
    auto drag = [header](int column) {
        const int edge = header->sectionViewportPosition(column) + header->sectionSize(column) - 1;
        const int y = header->height() / 2;
        QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(edge, y));
        QTest::mouseMove(header->viewport(), QPoint(edge + 40, y));
        QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(edge + 40, y));
    };
    const int iconColumn = list->columnWidth(0);
    drag(0);
    drag(1);
    EXPECT_EQ(list->columnWidth(0), iconColumn);
    EXPECT_EQ(list->columnWidth(1), 70);
    list->setColumnWidth(2, 100);
    drag(2);  // the one column the user may resize
    EXPECT_EQ(list->columnWidth(2), 140);
}

TEST_F(ReportListTest, TheIconColumnShowsWholeImagesAtAnyFontSize) {
    // An opaque image: every one of its 256 pixels must reach the screen in each row.
    QPixmap red(16, 16);
    red.fill(Qt::red);
    list->SetImageList({QIcon(red)});
    for (const int points : {8, 20}) {
        QFont font = list->font();
        font.setPointSize(points);
        list->setFont(font);
        list->DeleteAllRows();
        list->AppendRow(0);
        list->AppendRow(0);
        list->clearSelection();
        list->setCurrentIndex({});
        QCoreApplication::processEvents();
        const QImage shot = list->viewport()->grab().toImage();
        const qreal ratio = shot.devicePixelRatio();
        for (int row = 0; row < 2; ++row) {
            int whole = 0;
            const QRect cell = Cell(row, 0);
            for (int y = cell.top(); y <= cell.bottom(); ++y)
                for (int x = cell.left(); x <= cell.right(); ++x)
                    whole += shot.pixelColor(QPoint(x, y) * ratio) == QColor(Qt::red);
            EXPECT_EQ(whole, 256) << points << " pt, row " << row << ", column width "
                                  << list->columnWidth(0);
        }
    }
    EXPECT_GE(list->columnWidth(0), 18);
}

TEST_F(ReportListTest, RightClickHeaderClickAndClipboardKeysChangeNothing) {
    const QPoint at = Cell(1, 2).center();
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &menu);
    EXPECT_TRUE(menu.isAccepted());  // not passed on to the dialog
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    list->setCurrentCell(1, 0);
    QHeaderView* header = list->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(2) + 20, header->height() / 2));
    EXPECT_EQ(list->selectedItems().size(), 3);

    QApplication::clipboard()->setText(U("그대로"));
    for (Qt::Key key : {Qt::Key_C, Qt::Key_X, Qt::Key_V})
        QTest::keyClick(list, key, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), U("그대로"));
    EXPECT_EQ(list->CellText(1, 2), U("둘째 줄"));
    EXPECT_EQ(list->CellText(3, 2), U("넷째 줄"));
    EXPECT_EQ(list->SelectionMark(), 1);
}

TEST_F(ReportListTest, LabelTipsShowTheFullTextOfClippedCellsOnly) {
    EXPECT_EQ(list->AddExtendedStyle(ReportListCtrl::LabelTip), 0x21u);
    list->setColumnWidth(2, 60);
    list->SetCellText(0, 2, U("이 줄은 칸보다 훨씬 길어서 잘린다"));
    auto tipAt = [this](int row) {
        const QPoint pos = Cell(row, 2).center();
        QHelpEvent help(QEvent::ToolTip, pos, list->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(list->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    list->SetCellText(1, 2, U("짧다"));
    EXPECT_EQ(tipAt(1), QString());
    EXPECT_EQ(tipAt(0), list->CellText(0, 2));
    QToolTip::hideText();
}

}  // namespace
}  // namespace quillon
