// The preset editor and the exclusion-list editor, driven as the user drives them.
#include <gmock/gmock.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "TempDir.h"
#include "fileops/MessageBox.h"
#include "settings/ExclusionList.h"
#include "ui/BitmapButton.h"
#include "ui/CEditPresetDlg.h"
#include "ui/CFolderSelect.h"
#include "ui/CJlistDlg.h"
#include "ui/Look.h"

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace mirova::ui {
namespace {

using ::testing::_;
using ::testing::ElementsAre;
using ::testing::Return;

// Asks the user: the text and box type of a question in, the pressed button out; a question
// no test expects fails it.
using Asker = testing::StrictMock<testing::MockFunction<int(const QString& text, int type)>>;

// Distinct values for every preset: "/src/N", "/dst/N", "caption N", merge on odd numbers.
PresetArray NumberedPresets() {
    PresetArray presets;
    for (int i = 0; i < kPresetCount; ++i) {
        const std::string n = std::to_string(i + 1);
        presets[static_cast<std::size_t>(i)] = {"/src/" + n, "/dst/" + n, "caption " + n, i % 2,
                                                1 - i % 2};
    }
    return presets;
}

// Types text as key presses that carry it (QTest::keyClicks only knows Latin-1).
void Type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// An editor shown on the numbered presets; its questions go to the scripted asker.
class EditPresetDlgTest : public testing::Test {
protected:
    void Open(int current, const PresetArray& presets = NumberedPresets()) {
        original_ = presets;
        editor_.SetPresets(current, presets);
        editor_.show();
    }
    static void Click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }
    static int Bytes(const QString& text) { return static_cast<int>(text.toUtf8().size()); }
    void Choose(int index) { Click(editor_.presetButton(index)); }
    // The working presets; `current_` gets the preset that is current.
    PresetArray Out() {
        PresetArray out;
        current_ = editor_.GetPresets(out);
        return out;
    }
    QString Source() const { return editor_.sourceField()->text(); }
    QStringList Fields() const {
        return {Source(), editor_.targetField()->text(), editor_.captionField()->toPlainText()};
    }
    Asker ask_;
    CEditPresetDlg editor_{ask_.AsStdFunction()};
    PresetArray original_;
    int current_ = -2;
};

TEST_F(EditPresetDlgTest, OpensOnTheCurrentPresetWithItsButtonDownInTheTemplateLayout) {
    Open(4);
    EXPECT_EQ(Fields(), QStringList({"/src/5", "/dst/5", "caption 5"}));
    EXPECT_FALSE(editor_.mergeModeCheck()->isChecked());
    EXPECT_TRUE(editor_.useExclusionsCheck()->isChecked());
    EXPECT_TRUE(editor_.presetButton(4)->isChecked());
    const DialogUnits units(DialogFont());
    const int menu = editor_.menuBar()->height();
    EXPECT_EQ(editor_.size(), QSize(units.x(295), units.y(343) + menu));
    const QRect browse = editor_.sourceBrowseButton()->geometry();
    EXPECT_EQ(browse.right(), units.x(16) + units.x(261) - 1);
    EXPECT_GT(browse.left(), editor_.sourceField()->geometry().right());
    for (BitmapButton* button :
         {editor_.clearButton(), editor_.cancelButton(), editor_.okButton()}) {
        EXPECT_EQ(button->y(), units.y(311) + menu);
        EXPECT_TRUE(editor_.rect().contains(button->geometry()));
    }
    EXPECT_EQ(editor_.presetButton(29)->geometry(),
              units.rect(248, 269, 24, 22).translated(0, menu));
}

TEST_F(EditPresetDlgTest, OkAndReturnOutsideTheCaptionStoreTheFieldsCancelEscAndCloseDiscard) {
    const std::pair<std::function<void()>, int> rows[] = {
        {[&] { Click(editor_.okButton()); }, QDialog::Accepted},
        {[&] { QTest::keyClick(editor_.sourceField(), Qt::Key_Escape); }, QDialog::Rejected},
        {[&] { QTest::keyClick(editor_.sourceField(), Qt::Key_Return); }, QDialog::Accepted},
        {[&] { Click(editor_.cancelButton()); }, QDialog::Rejected},
        {[&] { QTest::keyClick(editor_.targetField(), Qt::Key_Enter, Qt::KeypadModifier); },
         QDialog::Accepted},
        {[&] { editor_.close(); }, QDialog::Rejected},
    };
    for (const auto& [end, result] : rows) {
        SCOPED_TRACE(&end - &rows[0].first);  // OK, Esc, Return, Cancel, Enter, close box
        Open(5);
        editor_.targetField()->setFocus();  // a focused button would take Return for itself
        editor_.targetField()->clear();
        QTest::keyClicks(editor_.targetField(), "/new");
        // In the caption Return and Enter are line breaks.
        QPlainTextEdit* caption = editor_.captionField();
        caption->clear();
        QTest::keyClicks(caption, "first");
        QTest::keyClick(caption, Qt::Key_Return);
        QTest::keyClicks(caption, "second");
        QTest::keyClick(caption, Qt::Key_Enter, Qt::KeypadModifier);
        ASSERT_TRUE(editor_.isVisible());
        end();
        EXPECT_FALSE(editor_.isVisible());
        EXPECT_EQ(editor_.result(), result);
        PresetArray expected = original_;
        if (result == QDialog::Accepted) {
            expected[5].targetFolder = "/new";
            expected[5].caption = "first\nsecond\n";
        }
        EXPECT_EQ(Out(), expected);
        EXPECT_EQ(current_, 5);
    }
}

TEST_F(EditPresetDlgTest, AChoiceStoresTheFieldsIntoThePresetTheyShowedAndSwapOnlyTheFolders) {
    Open(-1);
    EXPECT_EQ(Fields(), QStringList(3, QString()));
    for (int i = 0; i < kPresetCount; ++i) {
        EXPECT_FALSE(editor_.presetButton(i)->isChecked()) << i;
    }
    QTest::keyClicks(editor_.sourceField(), "/stray");
    Choose(2);
    EXPECT_EQ(Out(), original_);
    EXPECT_EQ(current_, 2);
    editor_.sourceField()->selectAll();
    QTest::keyClicks(editor_.sourceField(), "/typed");
    Click(editor_.mergeModeCheck());
    Choose(6);
    EXPECT_EQ(Source(), "/src/7");
    EXPECT_FALSE(editor_.mergeModeCheck()->isChecked());
    Choose(2);
    EXPECT_EQ(Fields(), QStringList({"/typed", "/dst/3", "caption 3"}));
    EXPECT_TRUE(editor_.mergeModeCheck()->isChecked());
    // Swap exchanges only the folders, an empty one too.
    editor_.targetField()->clear();
    Click(editor_.swapButton());
    EXPECT_EQ(Fields(), QStringList({"", "/typed", "caption 3"}));
    EXPECT_TRUE(editor_.mergeModeCheck()->isChecked());
    Click(editor_.swapButton());
    EXPECT_EQ(Fields(), QStringList({"/typed", "", "caption 3"}));
}

// Cut empties a preset, one cut or copy pastes into several; Clear and Clear All ask first, and
// Clear empties only the fields until they are stored.
TEST_F(EditPresetDlgTest, CutCopyPasteAndTheClearsAfterAYes) {
    Open(1);
    EXPECT_FALSE(editor_.pasteAction()->isEnabled());  // nothing cut or copied yet
    editor_.cutAction()->trigger();
    EXPECT_TRUE(editor_.pasteAction()->isEnabled());
    EXPECT_EQ(Fields(), QStringList(3, QString()));
    for (int index : {8, 9}) {
        Choose(index);
        editor_.pasteAction()->trigger();
    }
    Choose(0);
    editor_.copyAction()->trigger();
    EXPECT_EQ(Source(), "/src/1");  // copying leaves the fields
    Choose(29);
    editor_.pasteAction()->trigger();
    Choose(4);
    EXPECT_CALL(ask_, Call(_, kMbYesNo))
        .WillOnce(Return(kIdNo))
        .WillOnce(Return(kIdYes))
        .WillOnce(Return(kIdNo))
        .WillOnce(Return(kIdYes));
    Click(editor_.clearButton());
    EXPECT_EQ(Source(), "/src/5");
    editor_.clearAction()->trigger();  // the menu item asks the same
    EXPECT_EQ(Fields(), QStringList(3, QString()));
    EXPECT_FALSE(editor_.useExclusionsCheck()->isChecked());
    EXPECT_EQ(Out()[4], original_[4]);
    Choose(7);
    PresetArray expected = original_;
    expected[1] = expected[4] = {};
    expected[8] = expected[9] = original_[1];
    expected[29] = original_[0];
    EXPECT_EQ(Out(), expected);
    editor_.clearAllAction()->trigger();
    EXPECT_EQ(Source(), "/src/8");
    editor_.clearAllAction()->trigger();
    EXPECT_EQ(Source(), QString());
    EXPECT_TRUE(editor_.presetButton(7)->isChecked());
    editor_.accept();
    EXPECT_EQ(Out(), PresetArray{});
    EXPECT_EQ(current_, 7);
}

TEST_F(EditPresetDlgTest,
       BrowseStartsAtTheFieldsFolderAndPutsTheChoiceIntoTheFieldUnlessCancelled) {
    std::vector<QString> starts;
    QString answer;
    CFolderSelect::SetDialogHookForTesting([&](QWidget*, const QString&, const QString& start) {
        starts.push_back(start);
        return answer;
    });
    const auto unhook = qScopeGuard([] { CFolderSelect::SetDialogHookForTesting(nullptr); });
    const test::TempDir dir;
    dir.createFolder("from");
    dir.createFolder("chosen");
    PresetArray presets;
    presets[0].sourceFolder = dir / "from";
    presets[0].targetFolder = dir / "missing";
    Open(0, presets);
    const QString chosen = QString::fromStdString(dir / "chosen");
    answer = chosen + "/";
    Click(editor_.sourceBrowseButton());
    Click(editor_.targetBrowseButton());  // no such folder: the picker opens at its default place
    answer.clear();                       // the picker cancelled
    Click(editor_.targetBrowseButton());
    EXPECT_EQ(Fields(), QStringList({chosen, chosen, QString()}));  // no trailing separator
    EXPECT_THAT(starts, ElementsAre(QString::fromStdString(dir / "from"), QString(), chosen));
    answer = "/";  // the root comes back as itself
    EXPECT_EQ(CFolderSelect(nullptr).Browse("t", "/"), "/");
    EXPECT_EQ(starts.back(), "/");
}

// The three text fields take at most 260 bytes of typed or pasted UTF-8 text.
TEST_F(EditPresetDlgTest, TypingAndPastingStopAt260Bytes) {
    Open(0, PresetArray{});
    // 258 bytes, then a character of three bytes that does not fit, then two that do.
    const QString start(258, QLatin1Char('x'));
    for (QWidget* field : std::initializer_list<QWidget*>{
             editor_.sourceField(), editor_.targetField(), editor_.captionField()}) {
        Type(field, start + "あyz");
    }
    EXPECT_EQ(Fields(), QStringList(3, start + "yz"));
    // Japanese text stops at the last whole character: 86 characters of three bytes.
    editor_.sourceField()->clear();
    Type(editor_.sourceField(), QString(100, QChar(u'あ')));
    EXPECT_EQ(Bytes(Source()), 258);
    // A paste is cut to fit.
    editor_.sourceField()->setText(QString(250, QLatin1Char('a')));
    editor_.sourceField()->setCursorPosition(10);
    editor_.sourceField()->insert("0123456789ABCDEF");
    EXPECT_EQ(Source(), QString(10, 'a') + "0123456789" + QString(240, 'a'));
    EXPECT_EQ(editor_.sourceField()->cursorPosition(), 20);
    // The caption takes pastes through its own path; a line break counts one byte.
    editor_.captionField()->setPlainText(QString(255, QLatin1Char('c')));
    editor_.captionField()->moveCursor(QTextCursor::End);
    QApplication::clipboard()->setText("\n123456789");
    editor_.captionField()->paste();
    EXPECT_EQ(editor_.captionField()->toPlainText(), QString(255, 'c') + "\n1234");
}

TEST_F(EditPresetDlgTest, ATextFromElsewhereStaysWholeUnlessLengthenedAndUnlessEdited) {
    PresetArray presets;
    const std::string longSource = "/" + std::string(299, 's');
    const std::string longCaption = std::string(150, 'c') + "\r\n" + std::string(148, 'd');
    // The target holds Shift-JIS "あ" from an old file name: bytes that are not UTF-8.
    presets[0] = {longSource, "/data/\x82\xa0", longCaption, 0, 0};
    presets[1] = {longSource, longSource, longCaption, 1, 1};
    Open(0, presets);
    EXPECT_EQ(Bytes(Source()), 300);
    // Lengthening it is refused, also after shortening it; shortening is not, and neither is
    // replacing some of it by as many bytes.
    editor_.sourceField()->end(false);
    QTest::keyClicks(editor_.sourceField(), "x");
    EXPECT_EQ(Bytes(Source()), 300);
    QTest::keyClick(editor_.sourceField(), Qt::Key_Backspace);
    QTest::keyClicks(editor_.sourceField(), "x");
    EXPECT_EQ(Bytes(Source()), 299);
    editor_.sourceField()->cursorBackward(true, 2);
    editor_.sourceField()->insert("xyz");
    EXPECT_EQ(Source(), QString::fromStdString(longSource.substr(0, 297)) + "xy");
    editor_.captionField()->moveCursor(QTextCursor::End);
    Type(editor_.captionField(), "more");
    Choose(1);
    editor_.accept();
    const PresetArray out = Out();
    EXPECT_EQ(current_, 1);
    EXPECT_EQ(out[0].sourceFolder, longSource.substr(0, 297) + "xy");
    // The unedited fields keep their bytes, CR LF and all.
    EXPECT_EQ(out[0].caption, longCaption);
    EXPECT_EQ(out[0].targetFolder, presets[0].targetFolder);
    EXPECT_EQ(out[1], presets[1]);
}

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
    Asker ask_;
    CJlistDlg dialog_{lists_, ask_.AsStdFunction()};
    QTreeWidget* names_ = dialog_.nameView();
    QTreeWidget* extensions_ = dialog_.extensionView();
};

TEST_F(JlistDlgTest, OpeningShowsBothListsInTheTemplateLayout) {
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
    const QImage picture = names_->topLevelItem(0)->icon(0).pixmap(16, 16).toImage();
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
    QTest::keyClicks(editor, "changed");
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
    QTest::keyClicks(editor, "obj");
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(WaitForRow(names_, 4, "obj"));
    EXPECT_TRUE(dialog_.isVisible());  // the Return belonged to the field
    // Return outside a field is OK; a field still open keeps its text.
    editor = Edit(extensions_, 1);
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "old");
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
}

TEST_F(JlistDlgTest, DeleteIsGrayedUnlessThePointedViewHasSelectedRowsAndDeletesOnlyThose) {
    Select(extensions_, {1});
    using List = CJlistDlg::ContextList;
    const std::tuple<QPoint, bool, List> rows[] = {
        {Centre(names_), false, List::Names},
        {Centre(extensions_), false, List::Extensions},
        {dialog_.okButton()->mapToGlobal(QPoint(5, 5)), false, List::None},
        {Centre(extensions_), true, List::None},
    };
    for (const auto& [at, fromKeyboard, list] : rows) {
        dialog_.PrepareContextMenu(at, fromKeyboard);
        EXPECT_EQ(dialog_.contextList(), list) << static_cast<int>(list);
        EXPECT_EQ(dialog_.deleteAction()->isEnabled(), list == List::Extensions);
    }
    // A real context menu over the extensions; it is modal: read and answered from its loop.
    Select(names_, {0, 2});
    Select(extensions_, {0, 2, 3});
    EXPECT_CALL(ask_, Call(_, kMbYesNo))
        .WillOnce(Return(kIdYes))
        .WillOnce(Return(kIdNo))
        .WillOnce(Return(kIdYes));
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
    dialog_.deleteAction()->trigger();
    EXPECT_THAT(Rows(names_), ElementsAre("~$", "Thumbs.db", "/.git/"));
    dialog_.deleteAction()->trigger();
    EXPECT_THAT(Rows(names_), ElementsAre("Thumbs.db"));
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
    EXPECT_CALL(ask_, Call(_, kMbYesNo)).Times(3).WillRepeatedly(Return(kIdYes));
    for (const auto& close : closes) {
        dialog_.show();
        Select(names_, {0, 1});
        dialog_.PrepareContextMenu(Centre(names_));
        dialog_.OnDelete();
        ASSERT_EQ(names_->topLevelItemCount(), 1);
        close();
        EXPECT_EQ(dialog_.result(), QDialog::Rejected);
        EXPECT_FALSE(dialog_.isVisible());
        EXPECT_THAT(lists_.names(), ElementsAre("~$", "Thumbs.db", "/.git/"));
    }
}

TEST_F(JlistDlgTest, TheHundredAndFirstRowIsRefused) {
    dialog_.hide();
    lists_.Clear();
    for (int i = 0; i < CJlistDlg::kMaxRows; ++i) {
        lists_.AddExtension("e" + std::to_string(i));
    }
    dialog_.show();
    EXPECT_CALL(ask_, Call(_, kMbOk)).WillOnce(Return(kIdOk));
    // With 100 rows the only empty area is right of the column.
    extensions_->header()->resizeSection(0, 40);
    QTest::mouseDClick(extensions_->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(60, 10));
    EXPECT_EQ(extensions_->topLevelItemCount(), 100);
    EXPECT_EQ(Editor(extensions_), nullptr);
    Edit(names_);  // the other view still takes rows
    EXPECT_EQ(names_->topLevelItemCount(), 1);
}

}  // namespace
}  // namespace mirova::ui
