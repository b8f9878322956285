#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QTest>
#include <vector>

#include "UiTesting.h"
#include "ui/BitmapButton.h"
#include "ui/CMessageBox.h"
#include "ui/Look.h"

namespace mirova::ui {
namespace {

using test::ExecWith;

const QString kSyncQuestion = QStringLiteral(
    "ﾀｰｹﾞｯﾄに 3 個の更新ﾌｧｲﾙ/ﾌｫﾙﾀﾞ、1 個の余剰ﾌｧｲﾙ、0 個の余剰ﾌｫﾙﾀﾞが有ります。\n"
    "ｱｯﾌﾟﾃﾞｰﾄを実行すると余剰ﾌｧｲﾙ・ﾌｫﾙﾀﾞは削除され更新ﾌｧｲﾙが上書きされます。\n"
    "ｱｯﾌﾟﾃﾞｰﾄを実行しますか？");

// The box is as large as its text plus the margins, never below 150 x 120.
void ExpectSizedToText(const CMessageBox& box) {
    const QRect text = box.textLabel()->geometry();
    EXPECT_EQ(box.width(), qMax(150, text.left() + text.width() + 20));
    EXPECT_EQ(box.height(), qMax(120, text.top() + text.height() + 70));
}

TEST(MessageBoxTest, IsSizedToItsTextFromTheSmallestBoxUpWrappingWithin500Pixels) {
    CMessageBox saved(QStringLiteral("保存終了"), 0);
    EXPECT_EQ(saved.size(), QSize(150, 120));
    EXPECT_EQ(saved.okButton()->geometry(), QRect((150 - 91) / 2, 120 - 30, 91, 23));
    EXPECT_FALSE(saved.okButton()->isHidden());
    EXPECT_TRUE(saved.yesButton()->isHidden());
    EXPECT_TRUE(saved.noButton()->isHidden());

    QString text;
    for (int i = 0; i < 40; ++i) {
        text += QStringLiteral("folder%1 ").arg(i);
    }
    CMessageBox box(text.trimmed(), 0);
    const QRect label = box.textLabel()->geometry();
    const int lineHeight = QFontMetrics(DialogFont()).height();
    EXPECT_LE(label.width(), 500);
    EXPECT_GT(label.width(), 400);
    EXPECT_GE(label.height(), 2 * lineHeight);
    ExpectSizedToText(box);
    EXPECT_LE(box.width(), label.left() + 500 + 20);
    EXPECT_EQ(box.okButton()->y(), box.height() - 30);

    // A word wider than that widens the box.
    CMessageBox wide(QString(120, QLatin1Char('W')), 0);
    EXPECT_GT(wide.textLabel()->width(), 500);
    ExpectSizedToText(wide);
}

TEST(MessageBoxTest, LineBreaksStartNewLinesAndYesNoArePairedInTheMiddle) {
    CMessageBox box(kSyncQuestion, 4);
    const QRect label = box.textLabel()->geometry();
    const int lineHeight = QFontMetrics(DialogFont()).height();
    EXPECT_GE(label.height(), 3 * lineHeight);
    EXPECT_LE(label.width(), 500);
    ExpectSizedToText(box);

    const QRect yes = box.yesButton()->geometry();
    const QRect no = box.noButton()->geometry();
    EXPECT_EQ(yes.size(), QSize(91, 23));
    EXPECT_EQ(yes.left(), (box.width() - 2 * 91 - 10) / 2);
    EXPECT_EQ(no.left(), yes.left() + 91 + 10);
    EXPECT_EQ(yes.top(), box.height() - 30);
    EXPECT_LE(std::abs(yes.left() - (box.width() - 1 - no.right())), 1);
    EXPECT_TRUE(box.okButton()->isHidden());
}

TEST(MessageBoxTest, TheSizeIsTheOuterOneTheFrameOfTheWindowManagerIsTakenFromTheClientArea) {
    for (const int type : {0, 4}) {
        CMessageBox box(kSyncQuestion, type);
        const QSize outer = box.size();  // before it is shown, a box has no frame
        box.show();                      // the offscreen platform frames it with 2 pixels
        const QRect frame = box.frameGeometry();
        ASSERT_GT(frame.width(), box.width()) << "no frame to take";
        EXPECT_EQ(frame.size(), outer) << "type " << type;

        // The buttons keep their places from the bottom and the middle of the client area.
        const std::vector<const BitmapButton*> shown =
            type == 4 ? std::vector<const BitmapButton*>{box.yesButton(), box.noButton()}
                      : std::vector<const BitmapButton*>{box.okButton()};
        const int left = shown.front()->x();
        const int right = shown.back()->geometry().right();
        EXPECT_LE(std::abs(left - (box.width() - 1 - right)), 1) << "type " << type;
        for (const BitmapButton* button : shown) {
            EXPECT_EQ(button->y(), box.height() - 30) << "type " << type;
        }
    }
}

TEST(MessageBoxTest, YesNoBoxOpensWithNoButtonFocusedAndEndsOnlyWithYesOrNo) {
    for (const int answer : {6, 7}) {  // Yes, No
        CMessageBox box(kSyncQuestion, 4);
        bool active = false;
        bool anyFocused = true;
        bool openAfterKeys = false;
        const int result = ExecWith(box, [&] {
            // Focus is handed out when the window becomes active.
            active = QTest::qWaitForWindowActive(&box);
            anyFocused = box.yesButton()->hasFocus() || box.noButton()->hasFocus() ||
                         box.okButton()->hasFocus();
            QTest::keyClick(&box, Qt::Key_Escape);
            QTest::keyClick(&box, Qt::Key_Return);
            QTest::keyClick(&box, Qt::Key_Enter);
            box.close();
            openAfterKeys = box.isVisible();
            QTest::mouseClick(answer == 6 ? box.yesButton() : box.noButton(), Qt::LeftButton);
        });
        EXPECT_TRUE(active);
        EXPECT_FALSE(anyFocused);
        EXPECT_TRUE(openAfterKeys);
        EXPECT_EQ(result, answer);
    }
}

TEST(MessageBoxTest, OkBoxEndsWithOneOnOkEnterEscOrTheCloseBox) {
    const std::function<void(CMessageBox&)> ways[] = {
        [](CMessageBox& box) { QTest::mouseClick(box.okButton(), Qt::LeftButton); },
        [](CMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); },
        [](CMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); },
        [](CMessageBox& box) { box.close(); },
    };
    for (const auto& way : ways) {
        CMessageBox box(QStringLiteral("保存終了"), 0);
        EXPECT_EQ(ExecWith(box, [&] { way(box); }), 1);
    }
}

TEST(AboutDlgTest, ShowsTheVersionAndEndsWithOk) {
    CAboutDlg about;
    bool versionShown = false;
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        versionShown = versionShown || label->text() == QStringLiteral("Mirova Ver3.0.01");
    }
    EXPECT_TRUE(versionShown);
    auto* ok = about.findChild<BitmapButton*>();
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->size(), QSize(91, 23));
    EXPECT_EQ(ExecWith(about, [&] { QTest::mouseClick(ok, Qt::LeftButton); }), 1);
}

TEST(IconsTest, AreThirtyTwoPixelsAndDrawn) {
    for (const QPixmap& icon : {WarningIcon(), ProgramIcon()}) {
        EXPECT_EQ(icon.deviceIndependentSize(), QSizeF(32, 32));
        const QImage image = icon.toImage();
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
        EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() * 3 / 4).alpha(), 255);
    }
    // The warning: a yellow triangle with a black mark in its middle.
    const QImage warning = WarningIcon().toImage();
    const QColor mark = warning.pixelColor(warning.width() / 2, warning.height() / 2);
    EXPECT_LT(mark.lightness(), 40);
    const QColor yellow = warning.pixelColor(warning.width() / 2 - 6, warning.height() * 3 / 4);
    EXPECT_GT(yellow.red(), 200);
    EXPECT_GT(yellow.green(), 180);
    EXPECT_LT(yellow.blue(), 60);
}

}  // namespace
}  // namespace mirova::ui
