#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>

#include "ui/CStatusDlg.h"

namespace mirova::ui {
namespace {

TEST(StatusDlgTest, StartsEmptyShowsTheTextItIsGivenAndNoKeyNorTheCloseBoxClosesIt) {
    CStatusDlg unowned;
    EXPECT_EQ(unowned.ShowModeless(nullptr), 1);
    QTest::keyClick(&unowned, Qt::Key_Escape);
    QTest::keyClick(&unowned, Qt::Key_Return);
    EXPECT_FALSE(unowned.close());
    EXPECT_TRUE(unowned.isVisible());

    QWidget owner;
    owner.show();
    CStatusDlg dialog;
    EXPECT_EQ(dialog.ShowModeless(&owner), 1);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.text(), QString());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("ｽﾃｰﾀｽ"));
    dialog.SetStatusText("ﾌｧｲﾙﾘｽﾄを作成中");
    EXPECT_EQ(dialog.text(), QStringLiteral("ﾌｧｲﾙﾘｽﾄを作成中"));
    // It only informs: the owner stays usable.
    EXPECT_TRUE(owner.isEnabled());
}

}  // namespace
}  // namespace mirova::ui
