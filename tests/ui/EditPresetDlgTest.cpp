#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "TempDir.h"
#include "UiTesting.h"
#include "ui/BitmapButton.h"
#include "ui/CEditPresetDlg.h"
#include "ui/CFolderSelect.h"
#include "ui/Look.h"

namespace mirova::ui {
namespace {

using test::ExecWith;

constexpr int kYes = 6;
constexpr int kNo = 7;
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

// Answers the editor's questions from a script and records them.
struct ScriptedAsker {
    std::deque<int> answers;
    std::vector<std::pair<QString, int>> asked;

    CEditPresetDlg::AskUser fn() {
        return [this](const QString& text, int type) {
            asked.emplace_back(text, type);
            if (answers.empty()) {
                ADD_FAILURE() << "unexpected question: " << text.toStdString();
                return kNo;
            }
            const int answer = answers.front();
            answers.pop_front();
            return answer;
        };
    }
};

// Types text as key presses that carry it (QTest::keyClicks only knows Latin-1).
void Type(QWidget* widget, const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString one = text.mid(i, length);
        i += length - 1;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, one);
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, one);
        QApplication::sendEvent(widget, &release);
    }
}

int Bytes(const QString& text) {
    return static_cast<int>(text.toUtf8().size());
}

// An editor on the numbered presets, shown, with preset `current` (0-based) current.
class EditPresetDlgTest : public testing::Test {
protected:
    void Open(int current, const PresetArray& presets = NumberedPresets()) {
        original_ = presets;
        editor_.SetPresets(current, presets);
        editor_.show();
    }
    void Choose(int index) { QTest::mouseClick(editor_.presetButton(index), Qt::LeftButton); }
    // Runs the editor modally with the script, returns its result and the presets it gives back.
    std::pair<int, int> Run(const std::function<void()>& script, PresetArray& out) {
        editor_.hide();
        const int result = ExecWith(editor_, script);
        return {result, editor_.GetPresets(out)};
    }
    QString Source() const { return editor_.sourceField()->text(); }
    QString Target() const { return editor_.targetField()->text(); }
    QString Caption() const { return editor_.captionField()->toPlainText(); }

    ScriptedAsker asker_;
    CEditPresetDlg editor_{asker_.fn()};
    PresetArray original_;
};

TEST_F(EditPresetDlgTest, ShowsTheCurrentPresetWithItsButtonDown) {
    Open(4);
    EXPECT_EQ(editor_.windowTitle(), QStringLiteral("プリセットの編集"));
    EXPECT_EQ(Source(), QStringLiteral("/src/5"));
    EXPECT_EQ(Target(), QStringLiteral("/dst/5"));
    EXPECT_EQ(Caption(), QStringLiteral("caption 5"));
    EXPECT_FALSE(editor_.mergeModeCheck()->isChecked());
    EXPECT_TRUE(editor_.useExclusionsCheck()->isChecked());
    EXPECT_TRUE(editor_.presetButton(4)->isChecked());
    EXPECT_EQ(editor_.presetButton(0)->text(), QStringLiteral("１"));
    EXPECT_EQ(editor_.presetButton(9)->text(), QStringLiteral("10"));
}

TEST_F(EditPresetDlgTest, AChoiceStoresTheFieldsIntoThePresetTheyShowedAndCancelDiscardsAll) {
    Open(0);
    PresetArray out;
    const auto [result, current] = Run(
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
        out);
    EXPECT_EQ(result, QDialog::Rejected);
    // The working copy holds the edit; the caller, which takes nothing after Cancel, keeps its.
    EXPECT_EQ(out[2].sourceFolder, "/typed");
    EXPECT_EQ(current, 2);
    EXPECT_EQ(original_[2].sourceFolder, "/src/3");
}

TEST_F(EditPresetDlgTest, EscapeAndTheCloseBoxCancel) {
    Open(0);
    PresetArray out;
    EXPECT_EQ(Run([&] { QTest::keyClick(editor_.sourceField(), Qt::Key_Escape); }, out).first,
              QDialog::Rejected);
    EXPECT_EQ(Run([&] { editor_.close(); }, out).first, QDialog::Rejected);
}

TEST_F(EditPresetDlgTest, OkStoresTheFieldsOfTheCurrentPreset) {
    Open(5);
    PresetArray out;
    const auto [result, current] = Run(
        [&] {
            editor_.targetField()->clear();
            QTest::keyClicks(editor_.targetField(), "/new");
            QTest::mouseClick(editor_.okButton(), Qt::LeftButton);
        },
        out);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(current, 5);
    PresetArray expected = original_;
    expected[5].targetFolder = "/new";
    EXPECT_EQ(out, expected);
}

TEST_F(EditPresetDlgTest, ReturnInAOneLineFieldIsOkAndInTheCaptionANewLine) {
    Open(1);
    PresetArray out;
    const auto [result, current] = Run(
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
        out);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(out[1].caption, "first\nsecond\nthird");
}

TEST_F(EditPresetDlgTest, CutOnTwoAndPasteOnNineMovesThePreset) {
    Open(1);
    PresetArray out;
    const auto [result, current] = Run(
        [&] {
            editor_.cutAction()->trigger();
            EXPECT_EQ(Source(), QString());
            EXPECT_EQ(Caption(), QString());
            EXPECT_FALSE(editor_.useExclusionsCheck()->isChecked());
            Choose(8);
            editor_.pasteAction()->trigger();
            QTest::mouseClick(editor_.okButton(), Qt::LeftButton);
        },
        out);
    ASSERT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(current, 8);
    EXPECT_EQ(out[8], original_[1]);
    EXPECT_EQ(out[1], Preset{});
    EXPECT_EQ(out[0], original_[0]);
}

TEST_F(EditPresetDlgTest, OneCopyPastesIntoSeveralPresets) {
    Open(0);
    editor_.copyAction()->trigger();
    EXPECT_EQ(Source(), QStringLiteral("/src/1"));  // copying leaves the fields
    for (int index : {3, 11, 29}) {
        Choose(index);
        editor_.pasteAction()->trigger();
    }
    Choose(0);
    PresetArray out;
    editor_.GetPresets(out);
    for (int index : {0, 3, 11, 29}) {
        EXPECT_EQ(out[static_cast<std::size_t>(index)], original_[0]) << index;
    }
    EXPECT_EQ(out[4], original_[4]);
}

TEST_F(EditPresetDlgTest, PasteIsDisabledUntilTheFirstCutOrCopy) {
    Open(0);
    EXPECT_FALSE(editor_.pasteAction()->isEnabled());
    EXPECT_TRUE(editor_.cutAction()->isEnabled());
    EXPECT_TRUE(editor_.copyAction()->isEnabled());
    editor_.copyAction()->trigger();
    EXPECT_TRUE(editor_.pasteAction()->isEnabled());

    ScriptedAsker asker;
    CEditPresetDlg other(asker.fn());
    other.SetPresets(0, NumberedPresets());
    other.cutAction()->trigger();
    EXPECT_TRUE(other.pasteAction()->isEnabled());
}

TEST_F(EditPresetDlgTest, MenusCarryTheirItemsInOrder) {
    Open(0);
    const QList<QAction*> menus = editor_.menuBar()->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("ファイル(&F)"));
    EXPECT_EQ(menus[1]->text(), QStringLiteral("編集(&E)"));
    const QList<QAction*> file = menus[0]->menu()->actions();
    ASSERT_EQ(file.size(), 3);
    EXPECT_EQ(file[0], editor_.clearAction());
    EXPECT_EQ(file[0]->text(), QStringLiteral("プリセットデータクリア(&C)"));
    EXPECT_TRUE(file[1]->isSeparator());
    EXPECT_EQ(file[2]->text(), QStringLiteral("全プリセットデータクリア(&A)"));
    const QList<QAction*> edit = menus[1]->menu()->actions();
    ASSERT_EQ(edit.size(), 3);
    EXPECT_EQ(edit[0]->text(), QStringLiteral("プリセット切り取り(&T)"));
    EXPECT_EQ(edit[1]->text(), QStringLiteral("プリセットコピー(&C)"));
    EXPECT_EQ(edit[2]->text(), QStringLiteral("プリセット貼り付け(&P)"));
}

TEST_F(EditPresetDlgTest, ClearEmptiesTheFieldsOnlyOnYes) {
    Open(4);
    asker_.answers = {kNo, kYes};
    QTest::mouseClick(editor_.clearButton(), Qt::LeftButton);
    EXPECT_EQ(Source(), QStringLiteral("/src/5"));
    EXPECT_TRUE(editor_.useExclusionsCheck()->isChecked());
    editor_.clearAction()->trigger();  // the menu item asks the same
    EXPECT_EQ(Source(), QString());
    EXPECT_EQ(Target(), QString());
    EXPECT_EQ(Caption(), QString());
    EXPECT_FALSE(editor_.useExclusionsCheck()->isChecked());
    ASSERT_EQ(asker_.asked.size(), 2u);
    EXPECT_EQ(asker_.asked[0], std::make_pair(kClearQuestion, 4));
    EXPECT_EQ(asker_.asked[1], std::make_pair(kClearQuestion, 4));

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
    asker_.answers = {kNo};
    editor_.clearAllAction()->trigger();
    EXPECT_EQ(Source(), QStringLiteral("/src/8"));
    PresetArray out;
    const auto [result, current] = Run(
        [&] {
            asker_.answers = {kYes};
            editor_.clearAllAction()->trigger();
            EXPECT_EQ(Source(), QString());
            EXPECT_TRUE(editor_.presetButton(7)->isChecked());
            QTest::mouseClick(editor_.okButton(), Qt::LeftButton);
        },
        out);
    ASSERT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(current, 7);
    EXPECT_EQ(out, PresetArray{});
    ASSERT_EQ(asker_.asked.size(), 2u);
    EXPECT_EQ(asker_.asked[1], std::make_pair(kClearAllQuestion, 4));
}

TEST_F(EditPresetDlgTest, SwapExchangesOnlyTheFolders) {
    PresetArray presets = NumberedPresets();
    presets[0].targetFolder.clear();
    Open(0, presets);
    QTest::mouseClick(editor_.swapButton(), Qt::LeftButton);
    EXPECT_EQ(Source(), QString());
    EXPECT_EQ(Target(), QStringLiteral("/src/1"));
    EXPECT_EQ(Caption(), QStringLiteral("caption 1"));
    EXPECT_TRUE(editor_.useExclusionsCheck()->isChecked());
    QTest::mouseClick(editor_.swapButton(), Qt::LeftButton);
    EXPECT_EQ(Source(), QStringLiteral("/src/1"));
    EXPECT_EQ(Target(), QString());
}

TEST_F(EditPresetDlgTest, WithoutACurrentPresetTheFirstChoiceStoresNothing) {
    Open(-1);
    EXPECT_EQ(Source(), QString());
    EXPECT_EQ(Caption(), QString());
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

// The browse buttons with the folder dialog answered by the test.
class EditPresetBrowseTest : public EditPresetDlgTest {
protected:
    struct Call {
        QString title;
        QString start;
    };
    void Answer(const QString& chosen) {
        CFolderSelect::SetDialogHookForTesting(
            [this, chosen](QWidget*, const QString& title, const QString& start) {
                calls_.push_back({title, start});
                return chosen;
            });
    }
    void TearDown() override { CFolderSelect::SetDialogHookForTesting(nullptr); }

    test::TempDir dir_;
    std::vector<Call> calls_;
};

TEST_F(EditPresetBrowseTest, StartsAtTheFieldsFolderAndPutsTheChoiceIntoTheField) {
    dir_.createFolder("from");
    dir_.createFolder("chosen");
    PresetArray presets;
    presets[0].sourceFolder = dir_ / "from";
    presets[0].targetFolder = dir_ / "missing";
    Open(0, presets);
    const QString chosen = QString::fromStdString(dir_ / "chosen");
    Answer(chosen + QStringLiteral("/"));
    QTest::mouseClick(editor_.sourceBrowseButton(), Qt::LeftButton);
    EXPECT_EQ(Source(), chosen);  // without the trailing separator
    // A field that names no existing folder opens the dialog at its default place.
    QTest::mouseClick(editor_.targetBrowseButton(), Qt::LeftButton);
    EXPECT_EQ(Target(), chosen);
    ASSERT_EQ(calls_.size(), 2u);
    EXPECT_EQ(calls_[0].title, QStringLiteral("ｿｰｽﾌｫﾙﾀﾞを選択してください。"));
    EXPECT_EQ(calls_[0].start, QString::fromStdString(dir_ / "from"));
    EXPECT_EQ(calls_[1].title, QStringLiteral("ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞを選択してください。"));
    EXPECT_EQ(calls_[1].start, QString());

    PresetArray out;
    editor_.accept();
    editor_.GetPresets(out);
    EXPECT_EQ(out[0].sourceFolder, dir_ / "chosen");
}

TEST_F(EditPresetBrowseTest, CancellingThePickerKeepsTheField) {
    Open(2);
    Answer(QString());
    QTest::mouseClick(editor_.targetBrowseButton(), Qt::LeftButton);
    EXPECT_EQ(Target(), QStringLiteral("/dst/3"));
    EXPECT_EQ(calls_.size(), 1u);
}

TEST_F(EditPresetBrowseTest, TheRootComesBackAsItself) {
    Answer(QStringLiteral("/"));
    const CFolderSelect picker(nullptr);
    EXPECT_EQ(picker.Browse(QStringLiteral("t"), QStringLiteral("/")), QStringLiteral("/"));
    ASSERT_EQ(calls_.size(), 1u);
    EXPECT_EQ(calls_[0].start, QStringLiteral("/"));
}

// The three text fields take at most 260 bytes of typed UTF-8 text.
TEST_F(EditPresetDlgTest, TypingStopsAt260Bytes) {
    Open(0);
    // 258 bytes, then a character of three bytes that does not fit, then two that do.
    const QString start(258, QLatin1Char('x'));
    for (QWidget* field : std::initializer_list<QWidget*>{
             editor_.sourceField(), editor_.targetField(), editor_.captionField()}) {
        if (auto* line = qobject_cast<QLineEdit*>(field)) {
            line->clear();
        } else {
            editor_.captionField()->clear();
        }
        Type(field, start + QStringLiteral("あyz"));
    }
    const QString expected = start + QStringLiteral("yz");
    EXPECT_EQ(Source(), expected);
    EXPECT_EQ(Target(), expected);
    EXPECT_EQ(Caption(), expected);

    // Japanese text stops at the last whole character: 86 characters of three bytes.
    editor_.sourceField()->clear();
    Type(editor_.sourceField(), QString(100, QChar(u'あ')));
    EXPECT_EQ(Bytes(Source()), 258);
}

TEST_F(EditPresetDlgTest, APasteIsCutToFit) {
    Open(0);
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

TEST_F(EditPresetDlgTest, ALongerTextFromElsewhereStaysWholeUnlessLengthened) {
    PresetArray presets;
    const std::string longSource = "/" + std::string(299, 's');
    const std::string longCaption = std::string(150, 'c') + "\r\n" + std::string(148, 'd');
    presets[0] = {longSource, "/t", longCaption, 0, 0};
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
    const auto [result, current] = Run(
        [&] {
            Choose(1);
            editor_.accept();
        },
        out);
    ASSERT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(out[0].sourceFolder, longSource.substr(0, 297) + "xy");
    // The unedited caption keeps its bytes, CR LF included.
    EXPECT_EQ(out[0].caption, longCaption);
    EXPECT_EQ(out[1], presets[1]);
}

TEST_F(EditPresetDlgTest, FieldsNotEditedKeepBytesThatAreNotUtf8) {
    PresetArray presets;
    presets[0].sourceFolder = "/data/\x82\xa0";  // Shift-JIS "あ" from an old file name
    Open(0, presets);
    Choose(1);
    PresetArray out;
    editor_.GetPresets(out);
    EXPECT_EQ(out[0].sourceFolder, presets[0].sourceFolder);
}

TEST_F(EditPresetDlgTest, LayoutFollowsTheTemplate) {
    Open(0);
    const DialogUnits units(DialogFont());
    const int menu = editor_.menuBar()->height();
    EXPECT_EQ(editor_.size(), QSize(units.x(295), units.y(343) + menu));
    const QRect client = editor_.rect();
    const QRect source = editor_.sourceField()->geometry();
    const QRect browse = editor_.sourceBrowseButton()->geometry();
    EXPECT_EQ(browse.size(), QSize(43, 23));
    EXPECT_GT(browse.left(), source.right());
    EXPECT_EQ(browse.right(), units.x(16) + units.x(261) - 1);
    EXPECT_GT(editor_.targetBrowseButton()->x(), editor_.targetField()->geometry().right());
    const QRect swap = editor_.swapButton()->geometry();
    EXPECT_EQ(swap.size(), QSize(160, 23));
    EXPECT_GT(swap.top(), source.bottom());
    EXPECT_LT(swap.bottom(), editor_.targetField()->y());
    for (QWidget* button : std::initializer_list<QWidget*>{
             editor_.clearButton(), editor_.cancelButton(), editor_.okButton()}) {
        EXPECT_EQ(button->y(), units.y(311) + menu);
        EXPECT_TRUE(client.contains(button->geometry()));
    }
    EXPECT_LT(editor_.clearButton()->x(), editor_.cancelButton()->x());
    EXPECT_LT(editor_.cancelButton()->x(), editor_.okButton()->x());
    EXPECT_EQ(editor_.presetButton(29)->geometry(),
              units.rect(248, 269, 24, 22).translated(0, menu));
}

}  // namespace
}  // namespace mirova::ui
