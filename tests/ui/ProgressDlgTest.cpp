#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QWidget>
#include <memory>
#include <vector>

#include "ui/BitmapButton.h"
#include "ui/CProgressDlg.h"
#include "ui/CStatusDlg.h"

namespace mirova::ui {
namespace {

BitmapButton* CancelButton(CProgressDlg& dialog) {
    return dialog.findChild<BitmapButton*>();
}

TEST(StatusDlgTest, ShowsTheTextItIsGivenAndNoKeyNorTheCloseBoxClosesIt) {
    QWidget owner;
    owner.show();
    for (QWidget* given : {static_cast<QWidget*>(nullptr), &owner}) {
        CStatusDlg dialog;
        EXPECT_EQ(dialog.ShowModeless(given), 1);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QTest::keyClick(&dialog, Qt::Key_Return);
        EXPECT_FALSE(dialog.close());
        EXPECT_TRUE(dialog.isVisible());
        dialog.SetStatusText("ﾌｧｲﾙﾘｽﾄを作成中");
        EXPECT_EQ(dialog.text(), QStringLiteral("ﾌｧｲﾙﾘｽﾄを作成中"));
        EXPECT_TRUE(owner.isEnabled());  // it only informs
    }
}

TEST(ProgressDlgTest, ShowsItsStatusLineAndThePercentageOfEachStepWrappingAfterTheEnd) {
    CProgressDlg dialog;
    dialog.SetStatusLine("/home/user/写真/IMG_0412.JPG");
    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        texts << label->text();
    }
    EXPECT_TRUE(texts.contains(QStringLiteral("/home/user/写真/IMG_0412.JPG")))
        << texts.join("|").toStdString();
    EXPECT_EQ(dialog.percentText(), QStringLiteral(" 0 %"));
    dialog.SetBarRange(0, 3);
    dialog.SetBarStep(1);
    std::vector<int> before;
    QStringList shown;
    for (int i = 0; i < 5; ++i) {
        before.push_back(dialog.StepBar());
        shown << dialog.percentText();
    }
    EXPECT_EQ(before, (std::vector<int>{0, 1, 2, 3, 1}));
    EXPECT_EQ(shown, QStringList({"33%", "66%", "100%", "33%", "66%"}));
    EXPECT_EQ(dialog.barPosition(), 2);
    // An empty range shows 0% instead of dividing by zero.
    dialog.SetBarRange(5, 5);
    dialog.StepBar();
    EXPECT_EQ(dialog.percentText(), QStringLiteral("0%"));
}

TEST(ProgressDlgTest, CancelEscAndTheCloseBoxOnlyRequestCancelOnceAndEnterDoesNothing) {
    CProgressDlg dialog;
    dialog.ShowModeless(nullptr);
    EXPECT_FALSE(dialog.TakeCancelRequest());
    // Presses before a take count once.
    QTest::mouseClick(CancelButton(dialog), Qt::LeftButton);
    QTest::mouseClick(CancelButton(dialog), Qt::LeftButton);
    EXPECT_TRUE(dialog.TakeCancelRequest());
    EXPECT_FALSE(dialog.TakeCancelRequest());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.TakeCancelRequest());
    EXPECT_FALSE(dialog.close());
    EXPECT_TRUE(dialog.TakeCancelRequest());
    QTest::keyClick(&dialog, Qt::Key_Return);
    QTest::keyClick(&dialog, Qt::Key_Enter);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.TakeCancelRequest());
}

TEST(ProgressDlgTest, DisablesItsOwnerOrTheVisibleMainWindowWhileItExistsUnlessAlreadyDisabled) {
    QWidget owner;
    owner.show();
    for (QWidget* given : {&owner, static_cast<QWidget*>(nullptr)}) {
        auto dialog = std::make_unique<CProgressDlg>();
        dialog->ShowModeless(given);
        EXPECT_FALSE(owner.isEnabled());
        EXPECT_TRUE(dialog->isEnabled());
        dialog.reset();
        EXPECT_TRUE(owner.isEnabled());
    }
    owner.setEnabled(false);
    auto dialog = std::make_unique<CProgressDlg>();
    dialog->ShowModeless(&owner);
    dialog->EnableOwnerAgain();
    dialog.reset();
    EXPECT_FALSE(owner.isEnabled());

    // A child of its owner stays usable.
    owner.setEnabled(true);
    QPointer<CProgressDlg> child = new CProgressDlg(&owner);
    child->ShowModeless(&owner);
    EXPECT_FALSE(owner.isEnabled());
    QTest::mouseClick(CancelButton(*child), Qt::LeftButton);
    EXPECT_TRUE(child->TakeCancelRequest());
    delete child;
    EXPECT_TRUE(owner.isEnabled());
}

}  // namespace
}  // namespace mirova::ui
