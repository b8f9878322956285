#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QWidget>
#include <memory>
#include <vector>

#include "ui/BitmapButton.h"
#include "ui/CProgressDlg.h"

namespace mirova::ui {
namespace {

BitmapButton* CancelButton(CProgressDlg& dialog) {
    return dialog.findChild<BitmapButton*>();
}

TEST(ProgressDlgTest, ShowsThePercentageOfEachStep) {
    CProgressDlg dialog;
    EXPECT_EQ(dialog.percentText(), QStringLiteral(" 0 %"));
    dialog.SetBarRange(0, 3);
    dialog.SetBarStep(1);
    std::vector<int> before;
    std::vector<QString> shown;
    for (int i = 0; i < 3; ++i) {
        before.push_back(dialog.StepBar());
        shown.push_back(dialog.percentText());
    }
    EXPECT_EQ(before, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(shown, (std::vector<QString>{QStringLiteral("33%"), QStringLiteral("66%"),
                                           QStringLiteral("100%")}));
    EXPECT_EQ(dialog.barPosition(), 3);
}

TEST(ProgressDlgTest, BarAndPercentageWrapAfterTheEnd) {
    CProgressDlg dialog;
    dialog.SetBarRange(0, 100);
    dialog.SetBarStep(1);
    for (int i = 0; i < 100; ++i) {
        dialog.StepBar();
    }
    EXPECT_EQ(dialog.percentText(), QStringLiteral("100%"));
    EXPECT_EQ(dialog.StepBar(), 100);
    EXPECT_EQ(dialog.percentText(), QStringLiteral("1%"));
    EXPECT_EQ(dialog.barPosition(), 1);
}

TEST(ProgressDlgTest, AnEmptyRangeShowsZero) {
    CProgressDlg dialog;
    dialog.SetBarRange(5, 5);
    dialog.SetBarStep(1);
    dialog.StepBar();
    EXPECT_EQ(dialog.percentText(), QStringLiteral("0%"));
}

TEST(ProgressDlgTest, StatusLineTakesUtf8Text) {
    CProgressDlg dialog;
    dialog.SetStatusLine("/home/user/写真/IMG_0412.JPG");
    bool found = false;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        found = found || label->text() == QStringLiteral("/home/user/写真/IMG_0412.JPG");
    }
    EXPECT_TRUE(found);
}

TEST(ProgressDlgTest, CancelPressesBeforeATakeCountOnce) {
    CProgressDlg dialog;
    dialog.ShowModeless(nullptr);
    EXPECT_FALSE(dialog.TakeCancelRequest());
    QTest::mouseClick(CancelButton(dialog), Qt::LeftButton);
    QTest::mouseClick(CancelButton(dialog), Qt::LeftButton);
    EXPECT_TRUE(dialog.TakeCancelRequest());
    EXPECT_FALSE(dialog.TakeCancelRequest());
    EXPECT_TRUE(dialog.isVisible());
}

TEST(ProgressDlgTest, EscAndTheCloseBoxOnlyRequestCancelAndEnterDoesNothing) {
    CProgressDlg dialog;
    dialog.ShowModeless(nullptr);

    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.TakeCancelRequest());

    EXPECT_FALSE(dialog.close());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.TakeCancelRequest());

    QTest::keyClick(&dialog, Qt::Key_Return);
    QTest::keyClick(&dialog, Qt::Key_Enter);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.TakeCancelRequest());
}

TEST(ProgressDlgTest, DisablesItsOwnerWhileItExists) {
    QWidget owner;
    owner.show();
    auto dialog = std::make_unique<CProgressDlg>();
    dialog->ShowModeless(&owner);
    EXPECT_FALSE(owner.isEnabled());
    EXPECT_TRUE(dialog->isEnabled());
    dialog->SetBarRange(0, 2);
    dialog->SetBarStep(1);
    dialog->StepBar();  // a stopped operation ends the same way
    dialog.reset();
    EXPECT_TRUE(owner.isEnabled());
}

TEST(ProgressDlgTest, TakesTheVisibleMainWindowWhenGivenNoOwner) {
    QWidget owner;
    owner.show();
    auto dialog = std::make_unique<CProgressDlg>();
    dialog->ShowModeless(nullptr);
    EXPECT_FALSE(owner.isEnabled());
    dialog.reset();
    EXPECT_TRUE(owner.isEnabled());
}

TEST(ProgressDlgTest, LeavesAnOwnerThatWasAlreadyDisabledDisabled) {
    QWidget owner;
    owner.show();
    owner.setEnabled(false);
    auto dialog = std::make_unique<CProgressDlg>();
    dialog->ShowModeless(&owner);
    dialog->EnableOwnerAgain();
    EXPECT_FALSE(owner.isEnabled());
    dialog.reset();
    EXPECT_FALSE(owner.isEnabled());
}

TEST(ProgressDlgTest, StaysUsableWhenItsOwnerIsAlsoItsParent) {
    QWidget owner;
    owner.show();
    QPointer<CProgressDlg> dialog = new CProgressDlg(&owner);
    dialog->ShowModeless(&owner);
    EXPECT_FALSE(owner.isEnabled());
    EXPECT_TRUE(CancelButton(*dialog)->isEnabled());
    QTest::mouseClick(CancelButton(*dialog), Qt::LeftButton);
    EXPECT_TRUE(dialog->TakeCancelRequest());
    delete dialog;
    EXPECT_TRUE(owner.isEnabled());
}

}  // namespace
}  // namespace mirova::ui
