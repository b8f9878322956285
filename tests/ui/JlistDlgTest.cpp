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

std::vector<std::string> Rows(const QTreeWidget* view) {
    std::vector<std::string> rows;
    for (int row = 0; row < view->topLevelItemCount(); ++row) {
        rows.push_back(view->topLevelItem(row)->text(0).toStdString());
    }
    return rows;
}
// The in-place field of the current row, if one is open.
QLineEdit* Editor(const QTreeWidget* view) {
    return qobject_cast<QLineEdit*>(view->indexWidget(view->currentIndex()));
}
// Opens the field of a row with F2, or adds a row with a double-click below the last one.
QLineEdit* Edit(QTreeWidget* view, int row = -1) {
    if (row < 0) {
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                           QPoint(20, view->viewport()->height() - 4));
    } else {
        view->setCurrentItem(view->topLevelItem(row));
        QTest::keyClick(view, Qt::Key_F2);
    }
    return Editor(view);
}
// The Return that ends an edit is passed on by a queued call.
bool WaitForRow(const QTreeWidget* view, int row, const QString& text) {
    return QTest::qWaitFor([&] {
        return view->topLevelItemCount() > row && view->topLevelItem(row)->text(0) == text &&
               Editor(view) == nullptr;
    });
}
void Select(QTreeWidget* view, std::initializer_list<int> rows) {
    view->clearSelection();
    for (int row : rows) {
        view->topLevelItem(row)->setSelected(true);
    }
}
QPoint Centre(const QTreeWidget* view) {
    return view->viewport()->mapToGlobal(view->viewport()->rect().center());
}

// The dialog, shown without a modal loop on three names and four extensions.
class JlistDlgTest : public ::testing::Test {
protected:
    JlistDlgTest() {
        for (const char* name : {"~$", "Thumbs.db", "/.git/"}) {
            lists_.AddName(name);
        }
        for (const char* extension : {"tmp", "bak", "obj", "log"}) {
            lists_.AddExtension(extension);
        }
        dialog_.show();
    }
    ExclusionList lists_;
    test::ScriptedAsker asker_;
    CJlistDlg dialog_{lists_, asker_.fn()};
    QTreeWidget* names_ = dialog_.nameView();
    QTreeWidget* extensions_ = dialog_.extensionView();
};

TEST_F(JlistDlgTest, OpeningShowsBothListsInTheTemplateLayout) {
    EXPECT_EQ(dialog_.windowTitle(), QStringLiteral("除外リスト編集"));
    const DialogUnits units(DialogFont());
    EXPECT_EQ(dialog_.size(), units.size(296, 259));
    EXPECT_EQ(names_->geometry(), units.rect(9, 10, 169, 217));
    EXPECT_EQ(extensions_->geometry(), units.rect(186, 10, 101, 217));
    EXPECT_EQ(dialog_.okButton()->geometry(), QRect(units.x(237), units.y(237), 91, 23));
    EXPECT_EQ(names_->header()->sectionSize(0), 292);
    EXPECT_EQ(extensions_->header()->sectionSize(0), 172);
    EXPECT_THAT(Rows(names_), ElementsAre("~$", "Thumbs.db", "/.git/"));
    EXPECT_THAT(Rows(extensions_), ElementsAre("tmp", "bak", "obj", "log"));
    // The name rows carry the picture: a black outline on a transparent ground.
    const QImage picture =
        names_->topLevelItem(0)->icon(0).pixmap(16, 16).toImage().convertToFormat(
            QImage::Format_ARGB32);
    EXPECT_EQ(picture.pixelColor(0, 0), QColor(0, 0, 0));
    EXPECT_EQ(picture.pixelColor(15, 8), QColor(0, 0, 0));
    EXPECT_EQ(picture.pixelColor(8, 8).alpha(), 0);
    EXPECT_TRUE(extensions_->topLevelItem(0)->icon(0).isNull());
}

TEST_F(JlistDlgTest, OnlyADoubleClickBelowTheRowsAddsARowAndReturnAndEscEndOnlyTheEdit) {
    const QRect row = extensions_->visualItemRect(extensions_->topLevelItem(1));
    QTest::mouseDClick(extensions_->viewport(), Qt::LeftButton, Qt::NoModifier,
                       QPoint(10, row.center().y()));
    EXPECT_THAT(Rows(extensions_), ElementsAre("tmp", "bak", "obj", "log"));
    // A row's field opens where its text stands, after the room of a picture, in every row.
    QLineEdit* editor = Edit(names_, 0);
    ASSERT_NE(editor, nullptr);
    const int pictured = editor->x();
    EXPECT_GE(pictured, 16);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("changed"));
    QTest::keyClick(editor, Qt::Key_Escape);  // keeps the text
    EXPECT_EQ(Editor(names_), nullptr);
    for (QTreeWidget* view : {names_, extensions_}) {
        for (const int at : {0, -1}) {
            editor = Edit(view, at);
            ASSERT_NE(editor, nullptr) << at;
            EXPECT_EQ(editor->x(), pictured) << (view == names_ ? "names " : "extensions ") << at;
            QTest::keyClick(editor, Qt::Key_Escape);
        }
    }
    // Esc left both added rows empty, without a picture, and the dialog open.
    EXPECT_TRUE(dialog_.isVisible());
    EXPECT_THAT(Rows(names_), ElementsAre("~$", "Thumbs.db", "/.git/", ""));
    EXPECT_TRUE(names_->topLevelItem(3)->icon(0).isNull());
    editor = Edit(names_);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(names_->selectedItems(), QList<QTreeWidgetItem*>{names_->topLevelItem(4)});
    QTest::keyClicks(editor, QStringLiteral("obj"));
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(WaitForRow(names_, 4, QStringLiteral("obj")));
    EXPECT_TRUE(dialog_.isVisible());  // the Return belonged to the field
    // Return outside a field is OK; a field still open keeps its text.
    editor = Edit(extensions_, 1);
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("old"));
    dialog_.okButton()->click();
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_THAT(lists_.names(), ElementsAre("~$", "Thumbs.db", "/.git/", "", "obj"));
    EXPECT_THAT(lists_.extensions(), ElementsAre("tmp", "old", "obj", "log", ""));
    dialog_.show();  // every opening shows the lists as they are now
    EXPECT_THAT(Rows(extensions_), ElementsAre("tmp", "old", "obj", "log", ""));
    lists_.Clear();
    QTest::keyClick(extensions_, Qt::Key_Return);
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
    EXPECT_THAT(lists_.extensions(), ElementsAre("tmp", "old", "obj", "log", ""));
    EXPECT_TRUE(asker_.asked.empty());
}

TEST_F(JlistDlgTest, DeleteIsGrayedUnlessThePointedViewHasSelectedRowsAndDeletesOnlyThose) {
    Select(extensions_, {1});
    const struct {
        QPoint at;
        bool fromKeyboard;
        CJlistDlg::ContextList list;
    } rows[] = {
        {Centre(names_), false, CJlistDlg::ContextList::Names},
        {Centre(extensions_), false, CJlistDlg::ContextList::Extensions},
        {dialog_.okButton()->mapToGlobal(QPoint(5, 5)), false, CJlistDlg::ContextList::None},
        {Centre(extensions_), true, CJlistDlg::ContextList::None},
    };
    for (const auto& row : rows) {
        dialog_.PrepareContextMenu(row.at, row.fromKeyboard);
        EXPECT_EQ(dialog_.contextList(), row.list) << static_cast<int>(row.list);
        EXPECT_EQ(dialog_.deleteAction()->isEnabled(),
                  row.list == CJlistDlg::ContextList::Extensions);
    }
    // A real context menu over the extensions; it is modal: read and answered from its loop.
    Select(names_, {0, 2});
    Select(extensions_, {0, 2, 3});
    asker_.answers = {kIdYes};
    bool deleteEnabled = false;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_EQ(menu, dialog_.contextMenu());
        deleteEnabled = dialog_.deleteAction()->isEnabled();
        menu->setActiveAction(dialog_.deleteAction());
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QWidget* viewport = extensions_->viewport();
    const QPoint local = viewport->rect().center();
    QContextMenuEvent request(QContextMenuEvent::Mouse, local, viewport->mapToGlobal(local));
    QApplication::sendEvent(viewport, &request);
    EXPECT_TRUE(deleteEnabled);
    EXPECT_THAT(Rows(extensions_), ElementsAre("bak"));
    EXPECT_THAT(Rows(names_), ElementsAre("~$", "Thumbs.db", "/.git/"));
    // The same over the name view; No deletes nothing.
    dialog_.PrepareContextMenu(Centre(names_));
    asker_.answers = {kIdNo, kIdYes};
    dialog_.deleteAction()->trigger();
    EXPECT_THAT(Rows(names_), ElementsAre("~$", "Thumbs.db", "/.git/"));
    dialog_.deleteAction()->trigger();
    EXPECT_THAT(Rows(names_), ElementsAre("Thumbs.db"));
    const std::pair question(QStringLiteral("  本当に削除しますか？    "), kMbYesNo);
    EXPECT_THAT(asker_.asked, ElementsAre(question, question, question));
    dialog_.okButton()->click();
    EXPECT_THAT(lists_.names(), ElementsAre("Thumbs.db"));
    EXPECT_THAT(lists_.extensions(), ElementsAre("bak"));
}

TEST_F(JlistDlgTest, CancelEscAndTheCloseBoxKeepTheLists) {
    const std::function<void()> closes[] = {
        [&] { dialog_.cancelButton()->click(); },
        [&] { QTest::keyClick(&dialog_, Qt::Key_Escape); },
        [&] { dialog_.close(); },
    };
    for (const auto& close : closes) {
        dialog_.show();
        ASSERT_THAT(Rows(names_), ElementsAre("~$", "Thumbs.db", "/.git/"));
        Select(names_, {0, 1});
        dialog_.PrepareContextMenu(Centre(names_));
        asker_.answers = {kIdYes};
        dialog_.OnDelete();
        QTest::keyClicks(Edit(extensions_), QStringLiteral("new"));
        QTest::keyClick(Editor(extensions_), Qt::Key_Return);
        ASSERT_TRUE(WaitForRow(extensions_, 4, QStringLiteral("new")));
        ASSERT_EQ(names_->topLevelItemCount(), 1);
        close();
        EXPECT_EQ(dialog_.result(), QDialog::Rejected);
        EXPECT_FALSE(dialog_.isVisible());
        EXPECT_THAT(lists_.names(), ElementsAre("~$", "Thumbs.db", "/.git/"));
        EXPECT_THAT(lists_.extensions(), ElementsAre("tmp", "bak", "obj", "log"));
    }
}

TEST_F(JlistDlgTest, TheHundredAndFirstRowIsRefused) {
    dialog_.hide();
    lists_.Clear();
    for (int i = 0; i < CJlistDlg::kMaxRows; ++i) {
        lists_.AddExtension("e" + std::to_string(i));
    }
    dialog_.show();
    asker_.answers = {kIdOk};
    // With 100 rows the only empty area is right of the column.
    extensions_->header()->resizeSection(0, 40);
    QTest::mouseDClick(extensions_->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(60, 10));
    EXPECT_EQ(extensions_->topLevelItemCount(), 100);
    EXPECT_EQ(Editor(extensions_), nullptr);
    const std::pair refusal(QStringLiteral("除外リストには 100 個までしか登録できません。"), kMbOk);
    EXPECT_THAT(asker_.asked, ElementsAre(refusal));
    Edit(names_);  // the other view still takes rows
    EXPECT_EQ(names_->topLevelItemCount(), 1);
}

}  // namespace
}  // namespace mirova::ui
