#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "UiTesting.h"
#include "fileops/MessageBox.h"
#include "settings/ExclusionList.h"
#include "ui/BitmapButton.h"
#include "ui/CJlistDlg.h"
#include "ui/Look.h"

namespace mirova::ui {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class JlistDlgTest : public ::testing::Test {
protected:
    JlistDlgTest() {
        for (const char* name : {"~$", "Thumbs.db", "/.git/"}) {
            lists_.AddName(name);
        }
        for (const char* extension : {"tmp", "bak", "obj", "log"}) {
            lists_.AddExtension(extension);
        }
    }

    // The dialog, opened without a modal loop; its questions go to the scripted asker.
    CJlistDlg& Open() {
        dialog_ = std::make_unique<CJlistDlg>(lists_, asker_.fn());
        dialog_->show();
        return *dialog_;
    }

    static std::vector<std::string> Rows(const QTreeWidget* view) {
        std::vector<std::string> rows;
        for (int row = 0; row < view->topLevelItemCount(); ++row) {
            rows.push_back(view->topLevelItem(row)->text(0).toStdString());
        }
        return rows;
    }
    static QLineEdit* Editor(const QTreeWidget* view) {
        return qobject_cast<QLineEdit*>(view->indexWidget(view->currentIndex()));
    }
    // A double-click below the last row.
    static void DoubleClickEmptyArea(QTreeWidget* view) {
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                           QPoint(20, view->viewport()->height() - 4));
    }
    // The Return that ends an edit is passed on by a queued call.
    static bool WaitForRow(const QTreeWidget* view, int row, const QString& text) {
        return QTest::qWaitFor([&] {
            return view->topLevelItemCount() > row && view->topLevelItem(row)->text(0) == text &&
                   Editor(view) == nullptr;
        });
    }
    static void Select(QTreeWidget* view, std::initializer_list<int> rows) {
        view->clearSelection();
        for (int row : rows) {
            view->topLevelItem(row)->setSelected(true);
        }
    }
    static QPoint CentreOnScreen(const QTreeWidget* view) {
        return view->viewport()->mapToGlobal(view->viewport()->rect().center());
    }

    ExclusionList lists_;
    test::ScriptedAsker asker_;
    std::unique_ptr<CJlistDlg> dialog_;
};

TEST_F(JlistDlgTest, OpeningShowsBothListsInTheTemplateLayout) {
    CJlistDlg& dialog = Open();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("除外リスト編集"));
    const DialogUnits units(DialogFont());
    EXPECT_EQ(dialog.size(), units.size(296, 259));
    EXPECT_EQ(dialog.nameView()->geometry(), units.rect(9, 10, 169, 217));
    EXPECT_EQ(dialog.extensionView()->geometry(), units.rect(186, 10, 101, 217));
    EXPECT_EQ(dialog.okButton()->geometry(), QRect(units.x(237), units.y(237), 91, 23));

    EXPECT_EQ(dialog.nameView()->header()->sectionSize(0), 292);
    EXPECT_EQ(dialog.extensionView()->header()->sectionSize(0), 172);
    for (const QTreeWidget* view : {dialog.nameView(), dialog.extensionView()}) {
        EXPECT_EQ(view->selectionMode(), QAbstractItemView::ExtendedSelection);
        EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
        // The selection stays visible without the focus.
        EXPECT_EQ(view->palette().color(QPalette::Inactive, QPalette::Highlight),
                  view->palette().color(QPalette::Active, QPalette::Highlight));
    }

    EXPECT_THAT(Rows(dialog.nameView()), ElementsAre("~$", "Thumbs.db", "/.git/"));
    EXPECT_THAT(Rows(dialog.extensionView()), ElementsAre("tmp", "bak", "obj", "log"));
    // The name rows carry the picture: a black outline on a transparent ground.
    const QImage picture =
        dialog.nameView()->topLevelItem(0)->icon(0).pixmap(16, 16).toImage().convertToFormat(
            QImage::Format_ARGB32);
    EXPECT_EQ(picture.pixelColor(0, 0), QColor(0, 0, 0));
    EXPECT_EQ(picture.pixelColor(15, 8), QColor(0, 0, 0));
    EXPECT_EQ(picture.pixelColor(8, 8).alpha(), 0);
    EXPECT_TRUE(dialog.extensionView()->topLevelItem(0)->icon(0).isNull());

    // The look behind the controls, the lists white.
    const QImage image = test::Grab(&dialog);
    EXPECT_TRUE(
        test::HasPixelNear(image, QRect(units.x(180), units.y(100), 4, 4), kLookBackground));
    EXPECT_EQ(image.pixelColor(dialog.nameView()->geometry().center()), QColor(Qt::white));

    // Every opening shows the lists as they are now.
    dialog.hide();
    lists_.Clear();
    lists_.AddExtension("o");
    dialog.show();
    EXPECT_THAT(Rows(dialog.nameView()), IsEmpty());
    EXPECT_THAT(Rows(dialog.extensionView()), ElementsAre("o"));
}

TEST_F(JlistDlgTest, OnlyADoubleClickBelowTheRowsAddsAnEditedRowAndReturnEndsTheEdit) {
    CJlistDlg& dialog = Open();
    QTreeWidget* extensions = dialog.extensionView();
    const QRect row = extensions->visualItemRect(extensions->topLevelItem(1));
    QTest::mouseDClick(extensions->viewport(), Qt::LeftButton, Qt::NoModifier,
                       QPoint(10, row.center().y()));
    EXPECT_THAT(Rows(extensions), ElementsAre("tmp", "bak", "obj", "log"));

    QTreeWidget* names = dialog.nameView();
    DoubleClickEmptyArea(names);
    ASSERT_EQ(names->topLevelItemCount(), 4);
    QTreeWidgetItem* added = names->topLevelItem(3);
    EXPECT_TRUE(added->text(0).isEmpty());
    EXPECT_TRUE(added->icon(0).isNull());
    EXPECT_EQ(names->selectedItems(), QList<QTreeWidgetItem*>{added});
    QLineEdit* editor = Editor(names);
    ASSERT_NE(editor, nullptr);

    QTest::keyClicks(editor, QStringLiteral("obj"));
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(WaitForRow(names, 3, QStringLiteral("obj")));
    // The Return belonged to the field: the dialog is still open.
    EXPECT_TRUE(dialog.isVisible());

    // A row of the other view is edited in place with F2; a field still open when OK is
    // pressed keeps its text.
    extensions->setCurrentItem(extensions->topLevelItem(1));
    QTest::keyClick(extensions, Qt::Key_F2);
    editor = Editor(extensions);
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("old"));
    dialog.okButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_THAT(lists_.names(), ElementsAre("~$", "Thumbs.db", "/.git/", "obj"));
    EXPECT_THAT(lists_.extensions(), ElementsAre("tmp", "old", "obj", "log"));
    EXPECT_THAT(asker_.asked, IsEmpty());
}

TEST_F(JlistDlgTest, EveryRowKeepsTheRoomOfAPictureWhetherLoadedOrAddedInEitherView) {
    CJlistDlg& dialog = Open();
    // A row's in-place field opens where its text stands.
    const auto fieldLeft = [](QTreeWidget* view, bool added) {
        if (added) {
            DoubleClickEmptyArea(view);
        } else {
            view->setCurrentItem(view->topLevelItem(0));
            QTest::keyClick(view, Qt::Key_F2);
        }
        QLineEdit* editor = Editor(view);
        const int left = editor != nullptr ? editor->x() : -1;
        if (editor != nullptr) {
            QTest::keyClick(editor, Qt::Key_Escape);
        }
        return left;
    };
    // The loaded name rows show their picture before the text.
    const int pictured = fieldLeft(dialog.nameView(), false);
    EXPECT_GE(pictured, 16);
    for (QTreeWidget* view : {dialog.nameView(), dialog.extensionView()}) {
        for (const bool added : {false, true}) {
            EXPECT_EQ(fieldLeft(view, added), pictured)
                << (view == dialog.nameView() ? "name" : "extension") << " view, "
                << (added ? "added" : "loaded") << " row";
        }
    }
}

TEST_F(JlistDlgTest, EscInAFieldKeepsTheTextAndAnAddedRowStaysEmpty) {
    CJlistDlg& dialog = Open();
    QTreeWidget* names = dialog.nameView();
    names->setCurrentItem(names->topLevelItem(0));
    QTest::keyClick(names, Qt::Key_F2);
    QLineEdit* editor = Editor(names);
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("changed"));
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_EQ(Editor(names), nullptr);
    EXPECT_EQ(names->topLevelItem(0)->text(0), QStringLiteral("~$"));

    DoubleClickEmptyArea(dialog.extensionView());
    editor = Editor(dialog.extensionView());
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, QStringLiteral("gone"));
    QTest::keyClick(editor, Qt::Key_Escape);
    // The Esc belonged to the field: the dialog is still open, the row empty.
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_THAT(Rows(dialog.extensionView()), ElementsAre("tmp", "bak", "obj", "log", ""));

    // Return outside a field is OK: the empty row is stored as an empty entry.
    QTest::keyClick(dialog.extensionView(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_THAT(lists_.extensions(), ElementsAre("tmp", "bak", "obj", "log", ""));
    EXPECT_THAT(lists_.names(), ElementsAre("~$", "Thumbs.db", "/.git/"));
}

TEST_F(JlistDlgTest, DeleteIsGrayedUnlessThePointedViewHasSelectedRowsAndDeletesOnlyThose) {
    CJlistDlg& dialog = Open();
    Select(dialog.extensionView(), {1});

    dialog.PrepareContextMenu(CentreOnScreen(dialog.nameView()));
    EXPECT_EQ(dialog.contextList(), CJlistDlg::ContextList::Names);
    EXPECT_FALSE(dialog.deleteAction()->isEnabled());

    dialog.PrepareContextMenu(CentreOnScreen(dialog.extensionView()));
    EXPECT_TRUE(dialog.deleteAction()->isEnabled());

    // Over a button, and from the keyboard wherever the pointer is: no view.
    dialog.PrepareContextMenu(dialog.okButton()->mapToGlobal(QPoint(5, 5)));
    EXPECT_EQ(dialog.contextList(), CJlistDlg::ContextList::None);
    EXPECT_FALSE(dialog.deleteAction()->isEnabled());
    dialog.PrepareContextMenu(CentreOnScreen(dialog.extensionView()), true);
    EXPECT_EQ(dialog.contextList(), CJlistDlg::ContextList::None);
    EXPECT_FALSE(dialog.deleteAction()->isEnabled());

    // A real context menu over the extensions.
    Select(dialog.nameView(), {0, 2});
    Select(dialog.extensionView(), {0, 2, 3});
    asker_.answers = {kIdYes};

    // The menu is modal: it is read and answered from its own event loop.
    bool deleteEnabled = false;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_EQ(menu, dialog.contextMenu());
        deleteEnabled = dialog.deleteAction()->isEnabled();
        menu->setActiveAction(dialog.deleteAction());
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QWidget* viewport = dialog.extensionView()->viewport();
    const QPoint local = viewport->rect().center();
    QContextMenuEvent request(QContextMenuEvent::Mouse, local, viewport->mapToGlobal(local));
    QApplication::sendEvent(viewport, &request);

    EXPECT_TRUE(deleteEnabled);
    EXPECT_EQ(dialog.contextList(), CJlistDlg::ContextList::Extensions);
    EXPECT_THAT(Rows(dialog.extensionView()), ElementsAre("bak"));
    EXPECT_THAT(Rows(dialog.nameView()), ElementsAre("~$", "Thumbs.db", "/.git/"));

    // The same over the name view; No deletes nothing.
    dialog.PrepareContextMenu(CentreOnScreen(dialog.nameView()));
    ASSERT_TRUE(dialog.deleteAction()->isEnabled());
    asker_.answers = {kIdNo};
    dialog.deleteAction()->trigger();
    EXPECT_THAT(Rows(dialog.nameView()), ElementsAre("~$", "Thumbs.db", "/.git/"));
    asker_.answers = {kIdYes};
    dialog.deleteAction()->trigger();
    EXPECT_THAT(Rows(dialog.nameView()), ElementsAre("Thumbs.db"));
    const std::pair question(QStringLiteral("  本当に削除しますか？    "), kMbYesNo);
    EXPECT_THAT(asker_.asked, ElementsAre(question, question, question));

    dialog.okButton()->click();
    EXPECT_THAT(lists_.names(), ElementsAre("Thumbs.db"));
    EXPECT_THAT(lists_.extensions(), ElementsAre("bak"));
}

TEST_F(JlistDlgTest, CancelEscAndTheCloseBoxKeepTheLists) {
    CJlistDlg& dialog = Open();
    const std::function<void()> closes[] = {
        [&] { dialog.cancelButton()->click(); },
        [&] { QTest::keyClick(&dialog, Qt::Key_Escape); },
        [&] { dialog.close(); },
    };
    for (const auto& close : closes) {
        // Every opening shows the old rows again.
        dialog.show();
        ASSERT_THAT(Rows(dialog.nameView()), ElementsAre("~$", "Thumbs.db", "/.git/"));
        Select(dialog.nameView(), {0, 1});
        dialog.PrepareContextMenu(CentreOnScreen(dialog.nameView()));
        asker_.answers = {kIdYes};
        dialog.OnDelete();
        DoubleClickEmptyArea(dialog.extensionView());
        QTest::keyClicks(Editor(dialog.extensionView()), QStringLiteral("new"));
        QTest::keyClick(Editor(dialog.extensionView()), Qt::Key_Return);
        ASSERT_TRUE(WaitForRow(dialog.extensionView(), 4, QStringLiteral("new")));
        ASSERT_EQ(dialog.nameView()->topLevelItemCount(), 1);

        close();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_THAT(lists_.names(), ElementsAre("~$", "Thumbs.db", "/.git/"));
        EXPECT_THAT(lists_.extensions(), ElementsAre("tmp", "bak", "obj", "log"));
    }
}

TEST_F(JlistDlgTest, TheHundredAndFirstRowIsRefused) {
    lists_.Clear();
    for (int i = 0; i < CJlistDlg::kMaxRows; ++i) {
        lists_.AddExtension("e" + std::to_string(i));
    }
    CJlistDlg& dialog = Open();
    asker_.answers = {kIdOk};
    QTreeWidget* extensions = dialog.extensionView();
    // With 100 rows the only empty area is right of the column.
    extensions->header()->resizeSection(0, 40);
    QTest::mouseDClick(extensions->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(60, 10));
    EXPECT_EQ(extensions->topLevelItemCount(), 100);
    EXPECT_EQ(Editor(extensions), nullptr);
    ASSERT_EQ(asker_.asked.size(), 1u);
    EXPECT_EQ(
        asker_.asked[0],
        std::make_pair(QStringLiteral("除外リストには 100 個までしか登録できません。"), kMbOk));

    // The other view still takes rows.
    DoubleClickEmptyArea(dialog.nameView());
    EXPECT_EQ(dialog.nameView()->topLevelItemCount(), 1);
}

}  // namespace
}  // namespace mirova::ui
