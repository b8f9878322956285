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

TEST(ProgressDlgTest, ShowsItsUtf8StatusLineAndThePercentageOfEachStepWrappingAfterTheEnd) {
    CProgressDlg dialog;
    dialog.SetStatusLine("/home/user/写真/IMG_0412.JPG");
    bool found = false;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        found = found || label->text() == QStringLiteral("/home/user/写真/IMG_0412.JPG");
    }
    EXPECT_TRUE(found);

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

    CProgressDlg hundred;
    hundred.SetBarRange(0, 100);
    hundred.SetBarStep(1);
    for (int i = 0; i < 100; ++i) {
        hundred.StepBar();
    }
    EXPECT_EQ(hundred.percentText(), QStringLiteral("100%"));
    EXPECT_EQ(hundred.StepBar(), 100);
    EXPECT_EQ(hundred.percentText(), QStringLiteral("1%"));
    EXPECT_EQ(hundred.barPosition(), 1);

    // An empty range shows 0% instead of dividing by zero.
    hundred.SetBarRange(5, 5);
    hundred.StepBar();
    EXPECT_EQ(hundred.percentText(), QStringLiteral("0%"));
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
    EXPECT_TRUE(dialog.isVisible());

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

TEST(ProgressDlgTest, DisablesItsOwnerOrTheVisibleMainWindowWhileItExistsUnlessAlreadyDisabled) {
    QWidget owner;
    owner.show();
    for (QWidget* given : {&owner, static_cast<QWidget*>(nullptr)}) {
        auto dialog = std::make_unique<CProgressDlg>();
        dialog->ShowModeless(given);
        EXPECT_FALSE(owner.isEnabled());
        EXPECT_TRUE(dialog->isEnabled());
        dialog->SetBarRange(0, 2);
        dialog->SetBarStep(1);
        dialog->StepBar();  // a stopped operation ends the same way
        dialog.reset();
        EXPECT_TRUE(owner.isEnabled());
    }

    owner.setEnabled(false);
    auto dialog = std::make_unique<CProgressDlg>();
    dialog->ShowModeless(&owner);
    dialog->EnableOwnerAgain();
    EXPECT_FALSE(owner.isEnabled());
    dialog.reset();
    EXPECT_FALSE(owner.isEnabled());

    // A child of its owner stays usable.
    owner.setEnabled(true);
    QPointer<CProgressDlg> child = new CProgressDlg(&owner);
    child->ShowModeless(&owner);
    EXPECT_FALSE(owner.isEnabled());
    EXPECT_TRUE(CancelButton(*child)->isEnabled());
    QTest::mouseClick(CancelButton(*child), Qt::LeftButton);
    EXPECT_TRUE(child->TakeCancelRequest());
    delete child;
    EXPECT_TRUE(owner.isEnabled());
}

}  // namespace
}  // namespace mirova::ui
