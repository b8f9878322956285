#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTest>
#include <string>
#include <utility>
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

using test::ExecWith;
using Questions = std::vector<std::pair<QString, int>>;

const QString kClearQuestion =
    QStringLiteral("現在選択されているﾌﾟﾘｾｯﾄをｸﾘｱします。よろしいですか？");
const QString kClearAllQuestion = QStringLiteral("全てのﾌﾟﾘｾｯﾄをｸﾘｱします。よろしいですか？");

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

// The editor's result and the preset that was current at its end.
using Outcome = std::pair<int, int>;

// An editor on the numbered presets, shown, with preset `current` (0-based) current.
class EditPresetDlgTest : public testing::Test {
protected:
    void Open(int current, const PresetArray& presets = NumberedPresets()) {
        original_ = presets;
        editor_.SetPresets(current, presets);
        editor_.show();
    }
    void Choose(int index) { QTest::mouseClick(editor_.presetButton(index), Qt::LeftButton); }
    // Runs the editor modally with the script; the presets it gives back go to `out`.
    Outcome Run(const std::function<void()>& script, PresetArray& out) {
        editor_.hide();
        const int result = ExecWith(editor_, script);
        return {result, editor_.GetPresets(out)};
    }
    QString Source() const { return editor_.sourceField()->text(); }
    QString Target() const { return editor_.targetField()->text(); }
    QString Caption() const { return editor_.captionField()->toPlainText(); }
    QStringList Fields() const { return {Source(), Target(), Caption()}; }

    test::ScriptedAsker asker_;
    CEditPresetDlg editor_{asker_.fn()};
    PresetArray original_;
};

TEST_F(EditPresetDlgTest, OpensOnTheCurrentPresetWithItsButtonDownInTheTemplateLayout) {
    Open(4);
    EXPECT_EQ(Fields(), QStringList({"/src/5", "/dst/5", "caption 5"}));
    EXPECT_FALSE(editor_.mergeModeCheck()->isChecked());
    EXPECT_TRUE(editor_.useExclusionsCheck()->isChecked());
    EXPECT_TRUE(editor_.presetButton(4)->isChecked());

    EXPECT_EQ(editor_.menuBar()->actions()[0]->menu()->actions()[0], editor_.clearAction());

    const DialogUnits units(DialogFont());
    const int menu = editor_.menuBar()->height();
    EXPECT_EQ(editor_.size(), QSize(units.x(295), units.y(343) + menu));
    const QRect browse = editor_.sourceBrowseButton()->geometry();
    EXPECT_EQ(browse.right(), units.x(16) + units.x(261) - 1);
    EXPECT_GT(browse.left(), editor_.sourceField()->geometry().right());
    const QRect client = editor_.rect();
    for (QWidget* button : std::initializer_list<QWidget*>{
             editor_.clearButton(), editor_.cancelButton(), editor_.okButton()}) {
        EXPECT_EQ(button->y(), units.y(311) + menu);
        EXPECT_TRUE(client.contains(button->geometry()));
    }
    EXPECT_EQ(editor_.presetButton(29)->geometry(),
              units.rect(248, 269, 24, 22).translated(0, menu));
}

TEST_F(EditPresetDlgTest, AChoiceStoresTheFieldsIntoThePresetTheyShowedAndCancelEscOrCloseDiscard) {
    Open(0);
    PresetArray out;
    EXPECT_EQ(Run(
                  [&] {
                      Choose(2);
                      editor_.sourceField()->selectAll();
                      QTest::keyClicks(editor_.sourceField(), "/typed");
                      QTest::mouseClick(editor_.mergeModeCheck(), Qt::LeftButton);
                      Choose(6);
                      EXPECT_EQ(Source(), QStringLiteral("/src/7"));
                      EXPECT_FALSE(editor_.mergeModeCheck()->isChecked());
                      Choose(2);
                      EXPECT_EQ(Source(), QStringLiteral("/typed"));
                      EXPECT_TRUE(editor_.mergeModeCheck()->isChecked());
                      EXPECT_EQ(Target(), QStringLiteral("/dst/3"));
                      QTest::mouseClick(editor_.cancelButton(), Qt::LeftButton);
                  },
                  out),
              Outcome(QDialog::Rejected, 2));
    // The working copy holds the edit; the caller takes nothing after Cancel.
    EXPECT_EQ(out[2].sourceFolder, "/typed");

    EXPECT_EQ(Run([&] { QTest::keyClick(editor_.sourceField(), Qt::Key_Escape); }, out).first,
              QDialog::Rejected);
    EXPECT_EQ(Run([&] { editor_.close(); }, out).first, QDialog::Rejected);
}

TEST_F(EditPresetDlgTest, OkAndReturnInAOneLineFieldStoreTheFieldsAndInTheCaptionReturnIsANewLine) {
    Open(5);
    PresetArray out;
    EXPECT_EQ(Run(
                  [&] {
                      editor_.targetField()->clear();
                      QTest::keyClicks(editor_.targetField(), "/new");
                      QTest::mouseClick(editor_.okButton(), Qt::LeftButton);
                  },
                  out),
              Outcome(QDialog::Accepted, 5));
    PresetArray expected = original_;
    expected[5].targetFolder = "/new";
    EXPECT_EQ(out, expected);

    EXPECT_EQ(Run(
                  [&] {
                      QPlainTextEdit* caption = editor_.captionField();
                      caption->clear();
                      QTest::keyClicks(caption, "first");
                      QTest::keyClick(caption, Qt::Key_Return);
                      QTest::keyClicks(caption, "second");
                      QTest::keyClick(caption, Qt::Key_Enter, Qt::KeypadModifier);
                      QTest::keyClicks(caption, "third");
                      EXPECT_TRUE(editor_.isVisible());
                      QTest::keyClick(editor_.sourceField(), Qt::Key_Return);
                  },
                  out),
              Outcome(QDialog::Accepted, 5));
    expected[5].caption = "first\nsecond\nthird";
    EXPECT_EQ(out, expected);
}

TEST_F(EditPresetDlgTest, CutOnTwoAndPasteOnNineMovesThePreset) {
    Open(1);
    EXPECT_FALSE(editor_.pasteAction()->isEnabled());  // nothing cut or copied yet
    PresetArray out;
    EXPECT_EQ(Run(
                  [&] {
                      editor_.cutAction()->trigger();
                      EXPECT_TRUE(editor_.pasteAction()->isEnabled());
                      EXPECT_EQ(Fields(), QStringList(3, QString()));
                      EXPECT_FALSE(editor_.useExclusionsCheck()->isChecked());
                      Choose(8);
                      editor_.pasteAction()->trigger();
                      QTest::mouseClick(editor_.okButton(), Qt::LeftButton);
                  },
                  out),
              Outcome(QDialog::Accepted, 8));
    EXPECT_EQ(out[8], original_[1]);
    EXPECT_EQ(out[1], Preset{});
    EXPECT_EQ(out[0], original_[0]);
}

TEST_F(EditPresetDlgTest, OneCopyPastesIntoSeveralPresets) {
    Open(0);
    editor_.copyAction()->trigger();
    EXPECT_EQ(Source(), QStringLiteral("/src/1"));  // copying leaves the fields
    for (int index : {3, 29}) {
        Choose(index);
        editor_.pasteAction()->trigger();
    }
    Choose(0);
    PresetArray out;
    editor_.GetPresets(out);
    EXPECT_EQ(out[3], original_[0]);
    EXPECT_EQ(out[29], original_[0]);
    EXPECT_EQ(out[4], original_[4]);
}

TEST_F(EditPresetDlgTest, ClearEmptiesTheFieldsOnlyOnYes) {
    Open(4);
    asker_.answers = {kIdNo, kIdYes};
    QTest::mouseClick(editor_.clearButton(), Qt::LeftButton);
    EXPECT_EQ(Source(), QStringLiteral("/src/5"));
    EXPECT_TRUE(editor_.useExclusionsCheck()->isChecked());
    editor_.clearAction()->trigger();  // the menu item asks the same
    EXPECT_EQ(Fields(), QStringList(3, QString()));
    EXPECT_FALSE(editor_.useExclusionsCheck()->isChecked());
    EXPECT_EQ(asker_.asked, Questions(2, {kClearQuestion, 4}));

    // Only the fields were cleared: the preset empties when they are stored.
    PresetArray out;
    editor_.GetPresets(out);
    EXPECT_EQ(out[4], original_[4]);
    Choose(5);
    editor_.GetPresets(out);
    EXPECT_EQ(out[4], Preset{});
}

TEST_F(EditPresetDlgTest, ClearAllThenOkEmptiesEveryPresetAndKeepsTheCurrent) {
    Open(7);
    asker_.answers = {kIdNo};
    editor_.clearAllAction()->trigger();
    EXPECT_EQ(Source(), QStringLiteral("/src/8"));
    PresetArray out;
    EXPECT_EQ(Run(
                  [&] {
                      asker_.answers = {kIdYes};
                      editor_.clearAllAction()->trigger();
                      EXPECT_EQ(Source(), QString());
                      EXPECT_TRUE(editor_.presetButton(7)->isChecked());
                      QTest::mouseClick(editor_.okButton(), Qt::LeftButton);
                  },
                  out),
              Outcome(QDialog::Accepted, 7));
    EXPECT_EQ(out, PresetArray{});
    EXPECT_EQ(asker_.asked, Questions(2, {kClearAllQuestion, 4}));
}

TEST_F(EditPresetDlgTest, SwapExchangesOnlyTheFolders) {
    PresetArray presets = NumberedPresets();
    presets[0].targetFolder.clear();
    Open(0, presets);
    QTest::mouseClick(editor_.swapButton(), Qt::LeftButton);
    EXPECT_EQ(Fields(), QStringList({"", "/src/1", "caption 1"}));
    EXPECT_TRUE(editor_.useExclusionsCheck()->isChecked());
    QTest::mouseClick(editor_.swapButton(), Qt::LeftButton);
    EXPECT_EQ(Fields(), QStringList({"/src/1", "", "caption 1"}));
}

TEST_F(EditPresetDlgTest, WithoutACurrentPresetTheFirstChoiceStoresNothing) {
    Open(-1);
    EXPECT_EQ(Fields(), QStringList(3, QString()));
    for (int i = 0; i < kPresetCount; ++i) {
        EXPECT_FALSE(editor_.presetButton(i)->isChecked()) << i;
    }
    QTest::keyClicks(editor_.sourceField(), "/stray");
    Choose(3);
    EXPECT_EQ(Source(), QStringLiteral("/src/4"));
    PresetArray out;
    EXPECT_EQ(editor_.GetPresets(out), 3);
    EXPECT_EQ(out, original_);
}

TEST_F(EditPresetDlgTest,
       BrowseStartsAtTheFieldsFolderAndPutsTheChoiceIntoTheFieldUnlessCancelled) {
    // The folder dialog is answered by the test.
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
    QTest::mouseClick(editor_.sourceBrowseButton(), Qt::LeftButton);
    EXPECT_EQ(Source(), chosen);  // without the trailing separator
    // A field that names no existing folder opens the dialog at its default place.
    QTest::mouseClick(editor_.targetBrowseButton(), Qt::LeftButton);
    EXPECT_EQ(Target(), chosen);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], std::make_pair(QStringLiteral("ｿｰｽﾌｫﾙﾀﾞを選択してください。"),
                                       QString::fromStdString(dir / "from")));
    EXPECT_EQ(calls[1],
              std::make_pair(QStringLiteral("ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞを選択してください。"), QString()));

    answer.clear();  // the picker cancelled
    QTest::mouseClick(editor_.targetBrowseButton(), Qt::LeftButton);
    EXPECT_EQ(Target(), chosen);
    EXPECT_EQ(calls.size(), 3u);

    PresetArray out;
    editor_.accept();
    editor_.GetPresets(out);
    EXPECT_EQ(out[0].sourceFolder, dir / "chosen");

    // The root comes back as itself.
    answer = QStringLiteral("/");
    const CFolderSelect picker(nullptr);
    EXPECT_EQ(picker.Browse(QStringLiteral("t"), QStringLiteral("/")), QStringLiteral("/"));
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[3].second, QStringLiteral("/"));
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
    EXPECT_EQ(Caption(), QString(255, QLatin1Char('c')) + QStringLiteral("\n1234"));
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

    PresetArray out;
    EXPECT_EQ(Run(
                  [&] {
                      Choose(1);
                      editor_.accept();
                  },
                  out),
              Outcome(QDialog::Accepted, 1));
    EXPECT_EQ(out[0].sourceFolder, longSource.substr(0, 297) + "xy");
    // The unedited fields keep their bytes, CR LF and all.
    EXPECT_EQ(out[0].caption, longCaption);
    EXPECT_EQ(out[0].targetFolder, presets[0].targetFolder);
    EXPECT_EQ(out[1], presets[1]);
}

}  // namespace
}  // namespace mirova::ui
