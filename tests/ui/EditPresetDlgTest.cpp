#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTest>
#include <string>
#include <vector>

#include "TempDir.h"
#include "UiTesting.h"
#include "fileops/MessageBox.h"
#include "ui/BitmapButton.h"
#include "ui/CEditPresetDlg.h"
#include "ui/CFolderSelect.h"
#include "ui/Look.h"

namespace mirova::ui {
namespace {

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

int Bytes(const QString& text) {
    return static_cast<int>(text.toUtf8().size());
}

void Click(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton);
}

// An editor shown on the numbered presets; its questions go to the scripted asker.
class EditPresetDlgTest : public testing::Test {
protected:
    void Open(int current, const PresetArray& presets = NumberedPresets()) {
        original_ = presets;
        editor_.SetPresets(current, presets);
        editor_.show();
    }
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
    test::ScriptedAsker asker_;
    CEditPresetDlg editor_{asker_.fn()};
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
    for (QWidget* button : std::initializer_list<QWidget*>{
             editor_.clearButton(), editor_.cancelButton(), editor_.okButton()}) {
        EXPECT_EQ(button->y(), units.y(311) + menu);
        EXPECT_TRUE(editor_.rect().contains(button->geometry()));
    }
    EXPECT_EQ(editor_.presetButton(29)->geometry(),
              units.rect(248, 269, 24, 22).translated(0, menu));
}

TEST_F(EditPresetDlgTest, OkAndReturnOutsideTheCaptionStoreTheFieldsCancelEscAndCloseDiscard) {
    const struct {
        const char* way;
        std::function<void()> end;
        int result;
    } rows[] = {
        {"OK", [&] { Click(editor_.okButton()); }, QDialog::Accepted},
        {"Esc", [&] { QTest::keyClick(editor_.sourceField(), Qt::Key_Escape); }, QDialog::Rejected},
        {"Return", [&] { QTest::keyClick(editor_.sourceField(), Qt::Key_Return); },
         QDialog::Accepted},
        {"Cancel", [&] { Click(editor_.cancelButton()); }, QDialog::Rejected},
        {"Enter",
         [&] { QTest::keyClick(editor_.targetField(), Qt::Key_Enter, Qt::KeypadModifier); },
         QDialog::Accepted},
        {"close box", [&] { editor_.close(); }, QDialog::Rejected},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.way);
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
        row.end();
        EXPECT_FALSE(editor_.isVisible());
        EXPECT_EQ(editor_.result(), row.result);
        if (row.result == QDialog::Accepted) {
            PresetArray expected = original_;
            expected[5].targetFolder = "/new";
            expected[5].caption = "first\nsecond\n";
            EXPECT_EQ(Out(), expected);
            EXPECT_EQ(current_, 5);
        }
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
    EXPECT_EQ(Source(), QStringLiteral("/src/7"));
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

TEST_F(EditPresetDlgTest, CutEmptiesAPresetAndOneCutOrCopyPastesIntoSeveral) {
    Open(1);
    EXPECT_FALSE(editor_.pasteAction()->isEnabled());  // nothing cut or copied yet
    editor_.cutAction()->trigger();
    EXPECT_TRUE(editor_.pasteAction()->isEnabled());
    EXPECT_EQ(Fields(), QStringList(3, QString()));
    EXPECT_FALSE(editor_.useExclusionsCheck()->isChecked());
    for (int index : {8, 9}) {
        Choose(index);
        editor_.pasteAction()->trigger();
    }
    Choose(0);
    editor_.copyAction()->trigger();
    EXPECT_EQ(Source(), QStringLiteral("/src/1"));  // copying leaves the fields
    Choose(29);
    editor_.pasteAction()->trigger();
    editor_.accept();
    const PresetArray out = Out();
    EXPECT_EQ(current_, 29);
    EXPECT_EQ(out[1], Preset{});
    EXPECT_EQ(out[8], original_[1]);
    EXPECT_EQ(out[9], original_[1]);
    EXPECT_EQ(out[0], original_[0]);
    EXPECT_EQ(out[29], original_[0]);
    EXPECT_EQ(out[4], original_[4]);
}

TEST_F(EditPresetDlgTest, ClearAndClearAllAskFirstAndClearOnlyTheFieldsUntilTheyAreStored) {
    Open(4);
    asker_.answers = {kIdNo, kIdYes};
    Click(editor_.clearButton());
    EXPECT_EQ(Source(), QStringLiteral("/src/5"));
    EXPECT_TRUE(editor_.useExclusionsCheck()->isChecked());
    editor_.clearAction()->trigger();  // the menu item asks the same
    EXPECT_EQ(Fields(), QStringList(3, QString()));
    EXPECT_FALSE(editor_.useExclusionsCheck()->isChecked());
    EXPECT_EQ(Out()[4], original_[4]);
    Choose(7);
    EXPECT_EQ(Out()[4], Preset{});
    asker_.answers = {kIdNo};
    editor_.clearAllAction()->trigger();
    EXPECT_EQ(Source(), QStringLiteral("/src/8"));
    asker_.answers = {kIdYes};
    editor_.clearAllAction()->trigger();
    EXPECT_EQ(Source(), QString());
    EXPECT_TRUE(editor_.presetButton(7)->isChecked());
    editor_.accept();
    EXPECT_EQ(Out(), PresetArray{});
    EXPECT_EQ(current_, 7);
    const QString clear = QStringLiteral("現在選択されているﾌﾟﾘｾｯﾄをｸﾘｱします。よろしいですか？");
    const QString clearAll = QStringLiteral("全てのﾌﾟﾘｾｯﾄをｸﾘｱします。よろしいですか？");
    EXPECT_EQ(asker_.asked, (std::vector<std::pair<QString, int>>{
                                {clear, 4}, {clear, 4}, {clearAll, 4}, {clearAll, 4}}));
}

TEST_F(EditPresetDlgTest,
       BrowseStartsAtTheFieldsFolderAndPutsTheChoiceIntoTheFieldUnlessCancelled) {
    std::vector<std::pair<QString, QString>> calls;  // title, start
    QString answer;
    CFolderSelect::SetDialogHookForTesting(
        [&](QWidget*, const QString& title, const QString& start) {
            calls.emplace_back(title, start);
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
    answer = chosen + QStringLiteral("/");
    Click(editor_.sourceBrowseButton());
    // A field that names no existing folder opens the dialog at its default place.
    Click(editor_.targetBrowseButton());
    answer.clear();  // the picker cancelled
    Click(editor_.targetBrowseButton());
    EXPECT_EQ(Fields(), QStringList({chosen, chosen, QString()}));  // no trailing separator
    const QString source = QStringLiteral("ｿｰｽﾌｫﾙﾀﾞを選択してください。");
    const QString target = QStringLiteral("ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞを選択してください。");
    EXPECT_EQ(calls, (std::vector<std::pair<QString, QString>>{
                         {source, QString::fromStdString(dir / "from")},
                         {target, QString()},
                         {target, chosen}}));
    editor_.accept();
    EXPECT_EQ(Out()[0].sourceFolder, dir / "chosen");
    // The root comes back as itself.
    answer = QStringLiteral("/");
    EXPECT_EQ(CFolderSelect(nullptr).Browse(QStringLiteral("t"), QStringLiteral("/")), answer);
    EXPECT_EQ(calls.back().second, QStringLiteral("/"));
}

// The three text fields take at most 260 bytes of typed or pasted UTF-8 text.
TEST_F(EditPresetDlgTest, TypingAndPastingStopAt260Bytes) {
    Open(0, PresetArray{});
    // 258 bytes, then a character of three bytes that does not fit, then two that do.
    const QString start(258, QLatin1Char('x'));
    for (QWidget* field : std::initializer_list<QWidget*>{
             editor_.sourceField(), editor_.targetField(), editor_.captionField()}) {
        Type(field, start + QStringLiteral("あyz"));
    }
    EXPECT_EQ(Fields(), QStringList(3, start + QStringLiteral("yz")));
    // Japanese text stops at the last whole character: 86 characters of three bytes.
    editor_.sourceField()->clear();
    Type(editor_.sourceField(), QString(100, QChar(u'あ')));
    EXPECT_EQ(Bytes(Source()), 258);
    // A paste is cut to fit.
    editor_.sourceField()->setText(QString(250, QLatin1Char('a')));
    editor_.sourceField()->setCursorPosition(10);
    editor_.sourceField()->insert(QStringLiteral("0123456789ABCDEF"));
    EXPECT_EQ(Source(), QString(10, QLatin1Char('a')) + QStringLiteral("0123456789") +
                            QString(240, QLatin1Char('a')));
    EXPECT_EQ(editor_.sourceField()->cursorPosition(), 20);
    // The caption takes pastes through its own path; a line break counts one byte.
    editor_.captionField()->setPlainText(QString(255, QLatin1Char('c')));
    editor_.captionField()->moveCursor(QTextCursor::End);
    QApplication::clipboard()->setText(QStringLiteral("\n123456789"));
    editor_.captionField()->paste();
    EXPECT_EQ(editor_.captionField()->toPlainText(),
              QString(255, QLatin1Char('c')) + QStringLiteral("\n1234"));
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
    editor_.sourceField()->insert(QStringLiteral("xyz"));
    EXPECT_EQ(Source(), QString::fromStdString(longSource.substr(0, 297)) + QStringLiteral("xy"));
    editor_.captionField()->moveCursor(QTextCursor::End);
    Type(editor_.captionField(), QStringLiteral("more"));
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

}  // namespace
}  // namespace mirova::ui
