#include "gui/qt/widgets/tipwnd.h"

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace quillon {
namespace {

QString U(const char* text) {
    return QString::fromUtf8(text);
}

// The shadow percentage of pixel (x, y) of a tip whose body is w x h, or 100 outside the band.
int ShadowPercent(int x, int y, int w, int h) {
    if (x >= w && x < w + 6 && y >= 5 && y < h + 5) {
        const int outwards = 50 + 8 * std::max(x - w, y - (h - 1));
        return std::max(outwards, 98 - 8 * (y - 5));
    }
    if (x >= 6 && x < w && y >= h && y < h + 5)
        return std::max(50 + 8 * (y - (h - 1)), 98 - 8 * (x - 6));
    return 100;
}

TEST(DarkenTipShadowTest, DarkensTheBandByItsPercentagesTruncatingAndLeavesTheRest) {
    const int w = 20, h = 20;
    QImage beneath(w + 6, h + 6, QImage::Format_RGB32);
    beneath.fill(qRgb(255, 101, 7));
    const QImage shadow = DarkenTipShadow(beneath, w, h);
    ASSERT_EQ(shadow.size(), beneath.size());
    const struct {
        int x, y;
        QRgb rgb;
    } table[] = {
        {20, 19, qRgb(127, 50, 3)},   // next to the body's right edge: 50 %
        {21, 19, qRgb(147, 58, 4)},   // one pixel outwards: 58 %
        {25, 24, qRgb(229, 90, 6)},   // outer corner: 90 %
        {20, 5, qRgb(249, 98, 6)},    // top end of the right band: 98 %
        {20, 8, qRgb(188, 74, 5)},    // fading in: 74 %
        {19, 20, qRgb(147, 58, 4)},   // bottom band: 58 %
        {6, 20, qRgb(249, 98, 6)},    // left end of the bottom band: 98 %
        {20, 4, qRgb(255, 101, 7)},   // above the band
        {5, 22, qRgb(255, 101, 7)},   // left of the band
        {10, 25, qRgb(255, 101, 7)},  // last row
        {3, 3, qRgb(255, 101, 7)},    // body
    };
    for (const auto& e : table) EXPECT_EQ(shadow.pixel(e.x, e.y), e.rgb) << e.x << "," << e.y;

    QImage grey(w + 6, 12, QImage::Format_RGB32);  // a body only 6 pixels high
    grey.fill(qRgb(200, 150, 99));
    const QImage darkened = DarkenTipShadow(grey, w, 6);
    for (int y = 0; y < grey.height(); ++y) {
        for (int x = 0; x < grey.width(); ++x) {
            const int p = ShadowPercent(x, y, w, 6);
            EXPECT_EQ(darkened.pixel(x, y), qRgb(200 * p / 100, 150 * p / 100, 99 * p / 100))
                << x << "," << y;
        }
    }
}

// A tip whose idea of the cursor position the test sets.
class TestTip : public TipWnd {
public:
    QPoint cursor{-10000, -10000};

protected:
    QPoint CursorPosition() const override { return cursor; }
};

class TipWndTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog = std::make_unique<QDialog>();
        dialog->setGeometry(100, 200, 600, 200);
        dialog->setStyleSheet(QStringLiteral("QDialog { background-color: #336699 }"));
        button = new QPushButton(U("가사 다운로드"), dialog.get());
        button->setGeometry(200, 20, 120, 40);
        edit = new QLineEdit(dialog.get());
        edit->setGeometry(20, 100, 200, 30);
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
        edit->setFocus();
        ASSERT_TRUE(tip.Create(dialog.get()));
        tip.SetColors(QColor(255, 255, 0), Qt::black);
    }
    void TearDown() override {
        tip.Hide();
        QApplication::setActiveWindow(dialog.get());
    }
    void ShowAtButton() {
        tip.Show(button->geometry().topLeft(), U("가사를 가져올 음악 파일을 선택해 주세요."));
    }

    std::unique_ptr<QDialog> dialog;
    QPushButton* button = nullptr;
    QLineEdit* edit = nullptr;
    TestTip tip;
};

TEST_F(TipWndTest, MeasuresTheTextWithMarginsAndShadow) {
    const QFontMetrics metrics(QApplication::font("QStatusBar"));
    const QString message = U("서버에서 가사 정보 취득에 실패했습니다.");
    const QRect one = tip.CalcTipRect(message);
    EXPECT_EQ(one.topLeft(), QPoint(0, 0));
    EXPECT_EQ(one.height(), metrics.height() + 14);  // one line: no word was wrapped
    EXPECT_EQ(one.width(), metrics.horizontalAdvance(message) + 20);

    const QString widest = U("세 번째 줄이 가장 넓다");
    const QRect three = tip.CalcTipRect(U("첫 줄\n\n") + widest);
    EXPECT_EQ(three.height(), tip.CalcTipRect(QStringLiteral("a\nb\nc")).height());
    EXPECT_GT(three.height(), one.height() + metrics.height());
    EXPECT_EQ(three.width(), tip.CalcTipRect(widest).width());
}

TEST_F(TipWndTest, PlacesTheBottomLeftOnTheAnchorAndKeepsTheTipOnTheScreen) {
    const QRect screen(0, 0, 1024, 768);
    const QRect size(0, 0, 200, 40);
    EXPECT_EQ(tip.PlaceTipRect(QPoint(100, 300), size, screen), QRect(100, 260, 200, 40));
    EXPECT_EQ(tip.PlaceTipRect(QPoint(100, 25), size, screen), QRect(100, 0, 200, 40));
    EXPECT_EQ(tip.PlaceTipRect(QPoint(900, 300), size, screen), QRect(824, 260, 200, 40));
    EXPECT_EQ(tip.PlaceTipRect(QPoint(-6, 300), size, screen), QRect(0, 260, 200, 40));
}

TEST_F(TipWndTest, ShowsAboveTheControlOverADarkenedPictureOfWhatLiesBeneath) {
    ShowAtButton();
    const QPoint anchor = dialog->mapToGlobal(button->geometry().topLeft() + QPoint(-6, 0));
    EXPECT_TRUE(tip.isVisible());
    EXPECT_EQ(tip.geometry(), tip.PlaceTipRect(anchor, tip.CalcTipRect(tip.Text()),
                                               QGuiApplication::primaryScreen()->geometry()));
    const auto* timer = tip.findChild<QTimer*>(QStringLiteral("TipTimer"));
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());

    const QImage picture = tip.grab().toImage();
    const int w = tip.width() - 6, h = tip.height() - 6;
    EXPECT_EQ(picture.pixel(0, 0), qRgb(0, 0, 0));  // the frame
    EXPECT_EQ(picture.pixel(w - 1, h - 1), qRgb(0, 0, 0));
    EXPECT_EQ(picture.pixel(w - 3, h - 3), qRgb(255, 255, 0));
    if (!tip.Shadow().isNull()) {  // the platform let the screen be read
        const int p = ShadowPercent(w + 1, h + 1, w, h);
        EXPECT_EQ(picture.pixel(w + 1, h + 1),
                  qRgb(0x33 * p / 100, 0x66 * p / 100, 0x99 * p / 100));
    }
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), dialog.get());
    EXPECT_EQ(QApplication::focusWidget(), edit);
}

TEST_F(TipWndTest, AnyKeyPressButEnterAndAnyMouseButtonPressHideIt) {
    ShowAtButton();
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter);
    QTest::keyRelease(edit, Qt::Key_A);
    EXPECT_TRUE(tip.isVisible());
    QTest::keyClick(edit, Qt::Key_A);
    EXPECT_FALSE(tip.isVisible());

    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        ShowAtButton();
        QTest::mousePress(dialog.get(), b, {}, QPoint(5, 5));
        EXPECT_FALSE(tip.isVisible());
        QTest::mouseRelease(dialog.get(), b, {}, QPoint(5, 5));
    }
    ShowAtButton();
    QTest::mouseClick(&tip, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(tip.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), edit);
    EXPECT_EQ(QApplication::activeWindow(), dialog.get());
}

TEST_F(TipWndTest, LeavesAfterFiveSecondsUnlessTheMouseRestsOnItOrAtOnceWhenInactive) {
    ShowAtButton();
    for (int tick = 1; tick < 10; ++tick) tip.Tick();
    EXPECT_TRUE(tip.isVisible());
    tip.Tick();
    EXPECT_FALSE(tip.isVisible());

    ShowAtButton();
    tip.cursor = tip.geometry().topLeft() + QPoint(tip.width() - 7, tip.height() - 7);
    for (int tick = 0; tick < 14; ++tick) tip.Tick();
    EXPECT_TRUE(tip.isVisible());
    tip.cursor = tip.geometry().bottomRight();  // on the shadow
    tip.Tick();
    EXPECT_FALSE(tip.isVisible());

    ShowAtButton();
    tip.cursor = tip.geometry().center();
    QApplication::setActiveWindow(nullptr);
    tip.Tick();
    EXPECT_FALSE(tip.isVisible());
}

}  // namespace
}  // namespace quillon
