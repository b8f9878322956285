// The windows and editors of the desktop program, driven as the user drives them.
#include <gmock/gmock.h>
#include <ranges>

#include <QtTest>
#include <QtWidgets>

#include "TempDir.h"
#include "TextFit.h"
#include "fileops/MessageBox.h"
#include "settings/ExclusionList.h"
#include "ui/BitmapButton.h"
#include "ui/CEditPresetDlg.h"
#include "ui/CFolderSelect.h"
#include "ui/CJlistDlg.h"
#include "ui/CMessageBox.h"
#include "ui/CProgressDlg.h"
#include "ui/CResultsDlg.h"
#include "ui/CStatusDlg.h"
#include "ui/ChangeRecordModel.h"
#include "ui/DialogParts.h"
#include "ui/Look.h"

// Readable failure messages for the Qt values the tests compare (found by argument lookup).
inline void PrintTo(const QColor& colour, std::ostream* out) {
    *out << colour.name().toStdString();
}
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace mirova::ui {
namespace {
using namespace ::testing;

// What a widget or a picture shows, as pixels comparable with each other.
const auto Image = [](const auto& p) { return p.toImage().convertToFormat(QImage::Format_RGB32); };
const auto Grab = [](QWidget* widget) { return Image(widget->grab()); };

// Whether any pixel inside the area has the colour, within a tolerance per channel.
bool HasPixelNear(const QImage& image, const QRect& area, const QColor& colour, int tolerance) {
    const QImage part = image.copy(area.intersected(image.rect()));
    return std::ranges::any_of(std::views::iota(0, part.width() * part.height()), [&](int i) {
        const QColor p = part.pixelColor(i % part.width(), i / part.width());
        return std::max({std::abs(p.red() - colour.red()), std::abs(p.green() - colour.green()),
                         std::abs(p.blue() - colour.blue())}) <= tolerance;
    });
}

// Japanese glyphs, units rounded half up; the window's colour behind labels and read-only fields.
TEST(LookTest, TheDialogFontAndUnitsAndTheColoursBehindAndInsideTheControls) {
    EXPECT_THAT(QFontInfo(DialogFont()).family(),
                AnyOf(QString("ＭＳ Ｐゴシック"), QString("Noto Sans CJK JP")));
    const DialogUnits units(DialogFont());
    EXPECT_EQ(units.x(2), (units.baseWidth() + 1) / 2);
    EXPECT_EQ(units.y(4), (units.baseHeight() + 1) / 2);
    QWidget window;
    window.setFixedSize(320, 250);
    ApplyLook(&window);
    const auto put = [&]<typename Control>(Control* control, const QRect& where) {
        control->setParent(&window);
        control->setGeometry(where);
        return control;
    };
    put(new QLabel("ﾌｫﾙﾀﾞ Folder"), {10, 10, 200, 20});
    put(new QCheckBox("ｴﾗｰで停止しない"), {10, 40, 200, 20});
    put(new QGroupBox("ﾓｰﾄﾞ"), {10, 70, 140, 60});
    put(new QLineEdit, {10, 140, 200, 24});
    put(new QLineEdit("/home"), {10, 170, 200, 24})->setReadOnly(true);
    put(new QPlainTextEdit("写真"), {220, 140, 90, 60})->setReadOnly(true);
    QLineEdit* madeReadOnly = put(new QLineEdit, {10, 210, 200, 24});
    window.show();
    madeReadOnly->setReadOnly(true);  // after the window has given it its colours
    const QImage image = Grab(&window);
    // Behind the short texts, in the group box, the corner, the read-only fields; in the edit
    // field.
    const int background[][2] = {{205, 20},  {205, 50},  {140, 74},  {80, 112},
                                 {300, 235}, {180, 182}, {290, 190}, {180, 222}};
    for (const auto& [x, y] : background) {
        EXPECT_EQ(image.pixelColor(x, y), kLookBackground) << x << ", " << y;
    }
    EXPECT_EQ(image.pixelColor(100, 152), QColor(Qt::white));
    // Black label, check box and read-only field texts.
    for (const QRect& text : {QRect(10, 10, 200, 20), {40, 40, 170, 20}, {12, 172, 60, 20}}) {
        EXPECT_TRUE(HasPixelNear(image, text, kLookText, 40)) << text.y();
    }
}

TEST(LookTest, WindowsKeepTheLayoutOfTheirTemplatesAndShowEveryTextWhole) {
    ExclusionList lists;
    lists.AddName("Thumbs.db");
    const auto never = [](const QString&, int) { return 7; };
    CEditPresetDlg editor(never);
    CJlistDlg exclusions(lists, never);
    CAboutDlg about;
    CProgressDlg progress;
    progress.SetStatusLine("/home/user/写真/2023/旅行/IMG_0412.JPG");
    CStatusDlg status;
    status.SetStatusText("ﾌｧｲﾙﾘｽﾄを作成中");
    CMessageBox question("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？\n除外リストを有効にする", 4);
    // Template sizes in dialog units; none for a box sized to its text.
    const std::pair<QWidget*, QSize> windows[] = {{&editor, {295, 343}}, {&exclusions, {296, 259}},
                                                  {&about, {235, 52}},   {&progress, {}},
                                                  {&status, {}},         {&question, {}}};
    for (const auto& [window, templateSize] : windows) {
        SCOPED_TRACE(window->metaObject()->className());
        window->show();
        EXPECT_EQ(test::ClippedTexts(window).join("; "), "");
        for (const QWidget* control : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            EXPECT_TRUE(window->rect().contains(control->geometry()))
                << control->metaObject()->className();
        }
        EXPECT_EQ(Grab(window).pixelColor(window->width() - 3, window->height() - 3),
                  kLookBackground);  // the look of the windows
        if (!templateSize.isEmpty()) {
            // Square units (the font is twice as high as wide): the template's width to height.
            const auto* menu = window->findChild<QMenuBar*>();
            const double height = window->height() - (menu != nullptr ? menu->height() : 0);
            const double wanted = double(templateSize.width()) / templateSize.height();
            EXPECT_NEAR(window->width() / height, wanted, 0.05 * wanted);
        }
    }
    QTest::keyClick(&status, Qt::Key_Escape);  // the status window only informs: nothing closes it
    QTest::keyClick(&status, Qt::Key_Return);
    EXPECT_FALSE(status.close());
    EXPECT_TRUE(status.isVisible());
    // The preset buttons of the editor in their grid; the columns of the two lists.
    const DialogUnits units(DialogFont());
    EXPECT_EQ(editor.presetButton(29)->geometry(),
              units.rect(248, 269, 24, 22).translated(0, editor.menuBar()->height()));
    EXPECT_EQ(exclusions.extensionView()->header()->sectionSize(0), 172);
}

// A button is sized by its first caption's pictures, drawn once; pressed is normal moved 1 pixel.
TEST(BitmapButtonTest, TakesTheSizeOfItsPicturesDrawnToTheDesignAndShowsThatOfItsState) {
    const std::pair<QString, QSize> rows[] = {
        {"OK", {91, 23}}, {"参照", {43, 23}}, {"ｿｰｽ・ﾀｰｹﾞｯﾄの入れ替え", {160, 23}}};
    for (const auto& [caption, size] : rows) {
        SCOPED_TRACE(caption.toStdString());
        QWidget window;
        ApplyLook(&window);
        auto* button = new BitmapButton(caption, &window);
        button->setGeometry(12, 34, 75, 14);
        EXPECT_EQ(button->geometry(), QRect(QPoint(12, 34), size));
        const ButtonPictures& pictures = PicturesFor(caption);
        EXPECT_EQ(&pictures, &PicturesFor(caption));
        const QImage normal = Image(pictures.normal), pressed = Image(pictures.pressed),
                     disabled = Image(pictures.disabled);
        EXPECT_EQ(normal.pixelColor(0, 0), QColor(213, 213, 254));  // outside the rounded corner
        EXPECT_EQ(normal.pixelColor(4, size.height() / 2), QColor(102, 102, 204));
        EXPECT_TRUE(HasPixelNear(normal, normal.rect(), QColor(255, 255, 255), 8));
        EXPECT_TRUE(HasPixelNear(disabled, disabled.rect(), QColor(204, 204, 204), 8));
        EXPECT_FALSE(HasPixelNear(disabled, disabled.rect(), QColor(102, 102, 204), 8));
        EXPECT_EQ(pressed.copy(1, 1, size.width() - 1, size.height() - 1),
                  normal.copy(0, 0, size.width() - 1, size.height() - 1));
        new BitmapButton("ｷｬﾝｾﾙ", &window);
        window.show();
        button->setFocus();
        EXPECT_EQ(Grab(button), normal);
        QSignalSpy clicked(button, &QAbstractButton::clicked);
        QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 10));
        EXPECT_EQ(Grab(button), pressed);
        QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(20, 10));
        EXPECT_EQ(clicked.count(), 1);
        button->setText("ｷｬﾝｾﾙ");
        EXPECT_EQ(button->size(), size);
        button->setEnabled(false);
        EXPECT_EQ(Grab(button), disabled);
    }
}

// Text wrapped at 500 pixels plus margins, at least 150 x 120; a question waits for Yes or No.
TEST(MessageBoxTest, IsSizedToItsTextInsideItsFrameAndOnlyAnOkBoxEndsOnAKeyOrTheCloseBox) {
    const QString question = "更新ﾌｧｲﾙが有ります。\n上書きされます。\n実行しますか？";
    const struct {
        QString text;
        int type, minLines, minWidth, maxWidth;
        std::vector<Qt::Key> keys;  // then the close box, unless one key
    } rows[] = {{"保存終了", 0, 1, 0, 500, {Qt::Key_Return}},
                {QString("folderNN ").repeated(40).trimmed(), 0, 2, 401, 500, {Qt::Key_Enter}},
                {QString(120, 'W'), 0, 1, 501, 5000, {Qt::Key_Escape}},
                {"保存\n終了", 0, 2, 0, 500, {}},
                {question, 4, 3, 0, 500, {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.left(20).toStdString());
        CMessageBox box(row.text, row.type);
        const QRect text = box.textLabel()->geometry();
        EXPECT_GE(text.height(), row.minLines * QFontMetrics(DialogFont()).height());
        EXPECT_THAT(text.width(), AllOf(Ge(row.minWidth), Le(row.maxWidth)));
        const QSize outer(qMax(150, text.left() + text.width() + 20),
                          qMax(120, text.top() + text.height() + 70));
        EXPECT_EQ(box.size(), outer);  // before it is shown, a box has no frame
        box.show();                    // the offscreen platform frames it with 2 pixels
        EXPECT_EQ(box.frameGeometry().size(), outer);
        const bool yesNo = row.type == 4;
        EXPECT_EQ(box.okButton()->isHidden(), yesNo);
        EXPECT_EQ(box.yesButton()->isHidden() + box.noButton()->isHidden(), yesNo ? 0 : 2);
        const QRect left = (yesNo ? box.yesButton() : box.okButton())->geometry();
        const QRect right = (yesNo ? box.noButton() : box.okButton())->geometry();
        EXPECT_EQ(left, QRect(left.x(), box.height() - 30, 91, 23));
        EXPECT_EQ(right.topLeft(), QPoint(yesNo ? left.right() + 11 : left.x(), left.y()));
        EXPECT_LE(std::abs(left.left() - (box.width() - 1 - right.right())), 1);
        if (yesNo) {
            ASSERT_TRUE(QTest::qWaitForWindowActive(&box));  // focus is handed out then
            EXPECT_FALSE(box.yesButton()->hasFocus() || box.noButton()->hasFocus());
        }
        for (const Qt::Key key : row.keys) {
            QTest::keyClick(&box, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        }
        if (row.keys.size() != 1) {
            box.close();
        }
        EXPECT_EQ(box.isVisible(), yesNo);
        if (yesNo) {
            QTest::mouseClick(box.noButton(), Qt::LeftButton);
        }
        EXPECT_EQ(box.result(), yesNo ? 7 : 1);
    }
}

// Steps wrap; a cancel request is taken once; an owner already disabled is left disabled.
TEST(ProgressDlgTest, ShowsEachStepCancelOnlyRequestsCancelAndTheOwnerIsDisabledWhileItLives) {
    QWidget tip(nullptr, Qt::ToolTip);
    tip.show();
    EXPECT_EQ(DefaultOwner(nullptr), nullptr);  // a tooltip never owns a window
    QWidget owner;
    owner.show();
    auto dialog = std::make_unique<CProgressDlg>();
    dialog->ShowModeless(nullptr);
    EXPECT_FALSE(owner.isEnabled());
    dialog->SetStatusLine("/home/user/写真/IMG_0412.JPG");
    EXPECT_THAT(dialog->findChildren<QLabel*>(),
                Contains(Property(&QLabel::text, QString("/home/user/写真/IMG_0412.JPG"))));
    dialog->SetBarRange(0, 3);
    dialog->SetBarStep(1);
    QStringList shown;  // the position before each step, the percentage after it
    for (int i = 0; i < 5; ++i) {
        shown << QString::number(dialog->StepBar()) << dialog->percentText();
    }
    EXPECT_EQ(shown.join(' '), "0 33% 1 66% 2 100% 3 33% 1 66%");
    EXPECT_EQ(dialog->barPosition(), 2);
    dialog->SetBarRange(5, 5);  // an empty range shows 0% instead of dividing by zero
    dialog->StepBar();
    EXPECT_EQ(dialog->percentText(), "0%");
    EXPECT_FALSE(dialog->TakeCancelRequest());
    QTest::mouseClick(dialog->findChild<BitmapButton*>(), Qt::LeftButton);
    QTest::mouseClick(dialog->findChild<BitmapButton*>(), Qt::LeftButton);
    EXPECT_TRUE(dialog->TakeCancelRequest());
    EXPECT_FALSE(dialog->TakeCancelRequest());
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_TRUE(dialog->TakeCancelRequest());
    EXPECT_FALSE(dialog->close());
    EXPECT_TRUE(dialog->TakeCancelRequest());
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    QTest::keyClick(dialog.get(), Qt::Key_Enter);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->TakeCancelRequest());
    dialog.reset();
    EXPECT_TRUE(owner.isEnabled());
    owner.setEnabled(false);
    dialog = std::make_unique<CProgressDlg>();
    dialog->ShowModeless(&owner);
    dialog->EnableOwnerAgain();
    dialog.reset();
    EXPECT_FALSE(owner.isEnabled());
    owner.setEnabled(true);
    QPointer<CProgressDlg> child = new CProgressDlg(&owner);
    child->ShowModeless(&owner);
    EXPECT_FALSE(owner.isEnabled());
    QTest::mouseClick(child->findChild<BitmapButton*>(), Qt::LeftButton);
    EXPECT_TRUE(child->TakeCancelRequest());
    delete child;
    EXPECT_TRUE(owner.isEnabled());
}

using Model = ChangeRecordModel;
constexpr std::int64_t kTime = 1796000000;

// 9,996 new copies of 0 to 9,995 bytes, a deleted file and folder, a line break, a failure.
TEST(ResultsDlgTest, ShowsTheLatestRecordSortsFiltersAndOpensTheFolderOfAnItem) {
    const test::TempDir dir;
    const auto in = [&](const char* path) { return QString::fromStdString(dir / path); };
    dir.createFolder("dst/d3");
    std::string text = "# Mirova 0.1.0 change record\n# run: sync\n# preset: 3 nightly photos\n";
    text += "# source: " + dir / "src" + "\n# target: " + dir / "dst" + "\n";
    text += "# suppress deletion: off\n# exclusions: off\n# started: 2026-12-07 02:00:00\n";
    const auto add = [&](const ChangeItem& item) { text += ItemLine(item) + "\n"; };
    using enum ChangeAction;
    using enum ChangeSide;
    for (int i = 0; i < 9996; ++i) {
        const std::string path = "d" + std::to_string(i % 10) + "/f" + std::to_string(i) + ".dat";
        add({CopyNew, Target, path, {}, {true, std::uint64_t(i), kTime + i}, {}});
    }
    add({DeleteFile, Target, "old/gone.txt", {true, 120, kTime}, {}, {}});
    add({DeleteFolder, Target, "old", {true, 0, kTime}, {}, {}});
    add({CopyChanged, Source, "line\nbreak.txt", {true, 5, kTime}, {true, 9, kTime + 60}, {}});
    add({Failed, Target, "c.txt", {}, {}, "c.txt が作成できません。"});
    text += "# end: failures 1; deleted files 1, deleted folders 1, ";
    text += "copied 9997 (49955019 bytes), created folders 0\n";
    dir.createFile("log/Changes-261207-020000.txt", text);
    std::vector<QString> opened;
    CResultsDlg::SetFolderOpenerForTesting([&](const QString& f) { opened.push_back(f); });
    const auto unhook = qScopeGuard([] { CResultsDlg::SetFolderOpenerForTesting(nullptr); });
    CResultsDlg dialog;  // the newest record of the log folder
    dialog.show();
    QTableView* view = dialog.view();
    const auto cell = [&](int row, int column, int role = Qt::DisplayRole) {
        return dialog.proxy()->index(row, column).data(role).toString();
    };
    EXPECT_EQ(view->model()->rowCount(), 10000);
    EXPECT_EQ(dialog.countsLabel()->text(),
              "削除 1  ﾌｫﾙﾀﾞ削除 1  新規ｺﾋﾟｰ 9,996  更新ｺﾋﾟｰ 1  ﾌｫﾙﾀﾞ作成 0  失敗 1");
    EXPECT_EQ(dialog.factsLabel()->text(),
              QString("ｱｯﾌﾟﾃﾞｰﾄ  ﾌﾟﾘｾｯﾄ 3「nightly photos」  %1 → %2  2026/12/07 02:00:00 開始")
                  .arg(in("src"), in("dst")));
    EXPECT_EQ(dialog.endLabel()->text(), "終了: ｴﾗｰ 1 件  ｺﾋﾟｰ 9,997 個 (49,955,019 ﾊﾞｲﾄ)");
    EXPECT_EQ(cell(0, Model::kAction) + cell(0, Model::kSide), "新規ｺﾋﾟｰﾀｰｹﾞｯﾄ");
    EXPECT_EQ(cell(9995, Model::kTimeAfter), Model::TimeText(kTime + 9995));
    EXPECT_EQ(cell(9995, Model::kSizeBefore), QString());
    // The line break as the record writes it; the failure with its message.
    EXPECT_EQ(cell(9998, Model::kSide) + cell(9998, Model::kPath), "ｿｰｽline\\x0Abreak.txt");
    EXPECT_EQ(cell(9999, Model::kPath) + "|" + cell(9999, Model::kPath, Qt::ToolTipRole),
              "c.txt : c.txt が作成できません。|c.txt が作成できません。");
    // The three items without a state after the change first, then 0, 1, ... 9, 9, 10.
    view->sortByColumn(Model::kSizeAfter, Qt::AscendingOrder);
    QStringList sizes;
    for (int row = 0; row < 16; ++row) {
        sizes << cell(row, Model::kSizeAfter);
    }
    EXPECT_EQ(sizes.join(' '), "   0 1 2 3 4 5 6 7 8 9 9 10 11");
    view->sortByColumn(Model::kSizeAfter, Qt::DescendingOrder);
    EXPECT_EQ(cell(0, Model::kSizeAfter), "9,995");
    QTest::keyClicks(dialog.filterField(), "F123");
    EXPECT_EQ(dialog.proxy()->rowCount(), 11);  // f123 and f1230 to f1239
    // A double-click opens the folder of the one row the filter leaves.
    for (const QString path : {"break", "c.txt", "f123.dat", "gone"}) {
        dialog.filterField()->clear();
        QTest::keyClicks(dialog.filterField(), path);
        ASSERT_EQ(dialog.proxy()->rowCount(), 1);
        const QPoint at = view->visualRect(dialog.proxy()->index(0, Model::kPath)).center();
        // What a real double-click delivers: a click, then the second press as a double-click.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
    }
    // A source item's folder is in the source; "old" went with its file: the target is shown.
    EXPECT_THAT(opened, ElementsAre(in("src"), in("dst"), in("dst/d3"), in("dst")));
    dialog.filterField()->clear();
    EXPECT_EQ(dialog.proxy()->rowCount(), 10000);
    dialog.Load("");  // without a record the table is empty
    EXPECT_EQ(view->model()->rowCount(), 0);
    EXPECT_FALSE(dialog.countsLabel()->isVisible());
}

// Asks the user (text and box type in, the button out); an unexpected question fails the test.
using Asker = StrictMock<MockFunction<int(const QString& text, int type)>>;

// Distinct values for every preset: "/src/N", "/dst/N", "caption N", merge on odd numbers.
PresetArray NumberedPresets() {
    PresetArray presets;
    for (int i = 0; i < kPresetCount; ++i) {
        const std::string n = std::to_string(i + 1);
        presets[i] = {"/src/" + n, "/dst/" + n, "caption " + n, i % 2, 1 - i % 2};
    }
    return presets;
}

// An editor shown on the numbered presets; its questions go to the asker.
class EditPresetDlgTest : public Test {
protected:
    void Open(int current, const PresetArray& presets = NumberedPresets()) {
        original_ = presets;
        editor_.SetPresets(current, presets);
        editor_.show();
    }
    static void Click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }
    void Choose(int index) { Click(editor_.presetButton(index)); }
    // The working presets; `current_` gets the preset that is current.
    PresetArray Out() {
        PresetArray out;
        current_ = editor_.GetPresets(out);
        return out;
    }
    QString Source() const { return editor_.sourceField()->text(); }
    // The three texts, then "merge" and "exclusions" if checked.
    QString Fields() const {
        return QStringList{Source(), editor_.targetField()->text(),
                           editor_.captionField()->toPlainText(),
                           editor_.mergeModeCheck()->isChecked() ? "merge" : "",
                           editor_.useExclusionsCheck()->isChecked() ? "exclusions" : ""}
            .join('|');
    }
    Asker ask_;
    CEditPresetDlg editor_{ask_.AsStdFunction()};
    PresetArray original_;
    int current_ = -2;
};

TEST_F(EditPresetDlgTest, OkAndReturnOutsideTheCaptionStoreTheFieldsCancelEscAndCloseDiscard) {
    const std::pair<std::function<void()>, bool> rows[] = {
        {[&] { Click(editor_.okButton()); }, true},
        {[&] { QTest::keyClick(editor_.sourceField(), Qt::Key_Escape); }, false},
        {[&] { QTest::keyClick(editor_.sourceField(), Qt::Key_Return); }, true},
        {[&] { Click(editor_.cancelButton()); }, false},
        {[&] { QTest::keyClick(editor_.targetField(), Qt::Key_Enter, Qt::KeypadModifier); }, true},
        {[&] { editor_.close(); }, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);  // OK, Esc, Return, Cancel, Enter, close box
        Open(5);
        editor_.targetField()->setFocus();  // a focused button would take Return for itself
        editor_.targetField()->clear();
        QTest::keyClicks(editor_.targetField(), "/new");
        // In the caption (typed into at its start) Return and Enter are line breaks.
        QTest::keyClicks(editor_.captionField(), "first");
        QTest::keyClick(editor_.captionField(), Qt::Key_Return);
        QTest::keyClick(editor_.captionField(), Qt::Key_Enter, Qt::KeypadModifier);
        row.first();
        EXPECT_FALSE(editor_.isVisible());
        EXPECT_EQ(editor_.result(), row.second ? QDialog::Accepted : QDialog::Rejected);
        PresetArray expected = original_;
        if (row.second) {
            expected[5] = {"/src/6", "/new", "first\n\ncaption 6", 1, 0};
        }
        EXPECT_EQ(Out(), expected);
        EXPECT_EQ(current_, 5);
    }
}

// One cut or copy pastes into several; Clear and Clear All ask; Clear empties only the fields.
TEST_F(EditPresetDlgTest, AChoiceStoresTheFieldsSwapTakesTheFoldersAndCutCopyPasteAndClearWork) {
    Open(-1);
    EXPECT_EQ(Fields(), "||||");
    EXPECT_EQ(editor_.presetButton(0)->group()->checkedButton(), nullptr);  // no preset button down
    QTest::keyClicks(editor_.sourceField(), "/stray");
    Choose(2);
    EXPECT_EQ(Out(), original_);
    EXPECT_EQ(current_, 2);
    editor_.sourceField()->selectAll();
    QTest::keyClicks(editor_.sourceField(), "/typed");
    Click(editor_.mergeModeCheck());
    Choose(6);
    EXPECT_EQ(Fields(), "/src/7|/dst/7|caption 7||exclusions");
    Choose(2);
    EXPECT_EQ(Fields(), "/typed|/dst/3|caption 3|merge|exclusions");
    editor_.targetField()->clear();  // an empty folder is swapped too
    Click(editor_.swapButton());
    EXPECT_EQ(Fields(), "|/typed|caption 3|merge|exclusions");
    Click(editor_.swapButton());
    EXPECT_EQ(Fields(), "/typed||caption 3|merge|exclusions");
    Open(1);
    EXPECT_EQ(Fields(), "/src/2|/dst/2|caption 2|merge|");
    EXPECT_TRUE(editor_.presetButton(1)->isChecked());
    EXPECT_FALSE(editor_.pasteAction()->isEnabled());  // nothing cut or copied yet
    editor_.cutAction()->trigger();
    EXPECT_TRUE(editor_.pasteAction()->isEnabled());
    EXPECT_EQ(Fields(), "||||");
    for (int index : {8, 9}) {
        Choose(index);
        editor_.pasteAction()->trigger();
    }
    Choose(0);
    editor_.copyAction()->trigger();
    EXPECT_EQ(Fields(), "/src/1|/dst/1|caption 1||exclusions");  // copying leaves the fields
    Choose(29);
    editor_.pasteAction()->trigger();
    Choose(4);
    EXPECT_CALL(ask_, Call(_, kMbYesNo)).Times(4).WillRepeatedly(ReturnRoundRobin({kIdNo, kIdYes}));
    Click(editor_.clearButton());
    EXPECT_EQ(Source(), "/src/5");
    editor_.clearAction()->trigger();  // the menu item asks the same
    EXPECT_EQ(Fields(), "||||");
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
    dir.make("from/ chosen/");
    Open(0, {Preset{dir / "from", dir / "missing", "", 0, 0}});
    const QString chosen = QString::fromStdString(dir / "chosen");
    answer = chosen + "/";
    Click(editor_.sourceBrowseButton());
    Click(editor_.targetBrowseButton());  // no such folder: the picker opens at its default place
    answer.clear();                       // the picker cancelled
    Click(editor_.targetBrowseButton());
    EXPECT_EQ(Fields(), chosen + "|" + chosen + "|||");  // no trailing separator
    EXPECT_THAT(starts, ElementsAre(QString::fromStdString(dir / "from"), QString(), chosen));
}

// The three text fields take at most 260 bytes of typed or pasted UTF-8 text.
TEST_F(EditPresetDlgTest, TypingAndPastingStopAt260Bytes) {
    Open(0, PresetArray{});
    // 258 bytes, then a character of three bytes that does not fit, then two that do.
    const QString start(258, QLatin1Char('x'));
    for (QWidget* field : std::initializer_list<QWidget*>{
             editor_.sourceField(), editor_.targetField(), editor_.captionField()}) {
        QTest::keyClicks(field, start);
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString("あ"), Qt::NoModifier);
        QTest::keyClicks(field, "yz");
    }
    EXPECT_EQ(Fields(), QStringList(3, start + "yz").join('|') + "||");
    editor_.sourceField()->setText(QString(250, QLatin1Char('a')));  // a paste is cut to fit
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
    EXPECT_EQ(Source().toUtf8().size(), 300);
    // Lengthening is refused, also after shortening; shortening and same-size replacing are not.
    editor_.sourceField()->end(false);
    QTest::keyClicks(editor_.sourceField(), "x");
    EXPECT_EQ(Source().toUtf8().size(), 300);
    QTest::keyClick(editor_.sourceField(), Qt::Key_Backspace);
    QTest::keyClicks(editor_.sourceField(), "x");
    EXPECT_EQ(Source().toUtf8().size(), 299);
    editor_.sourceField()->cursorBackward(true, 2);
    editor_.sourceField()->insert("xyz");
    EXPECT_EQ(Source(), QString::fromStdString(longSource.substr(0, 297)) + "xy");
    QTest::keyClicks(editor_.captionField(), "more");
    Choose(1);
    editor_.accept();
    presets[0].sourceFolder = longSource.substr(0, 297) + "xy";
    EXPECT_EQ(Out(), presets);  // the unedited fields keep their bytes, CR LF and all
    EXPECT_EQ(current_, 1);
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
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {},
                           {20, view->viewport()->height() - 4});
    } else {
        view->setCurrentItem(view->topLevelItem(row));
        QTest::keyClick(view, Qt::Key_F2);
    }
    return Editor(view);
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
class JlistDlgTest : public Test {
protected:
    JlistDlgTest() {
        for (std::string_view e : {"~$", "Thumbs.db", "/.git/", ".tmp", ".bak", ".obj", ".log"}) {
            e[0] == '.' ? lists_.AddExtension(e.substr(1)) : lists_.AddName(e);
        }
        dialog_.show();
    }
    ExclusionList lists_;
    Asker ask_;
    CJlistDlg dialog_{lists_, ask_.AsStdFunction()};
    QTreeWidget* names_ = dialog_.nameView();
    QTreeWidget* extensions_ = dialog_.extensionView();
};

TEST_F(JlistDlgTest, OnlyADoubleClickBelowTheRowsAddsARowAndReturnAndEscEndOnlyTheEdit) {
    const QRect row = extensions_->visualItemRect(extensions_->topLevelItem(1));
    QTest::mouseDClick(extensions_->viewport(), Qt::LeftButton, {}, QPoint(10, row.center().y()));
    EXPECT_THAT(Rows(names_), ElementsAre("~$", "Thumbs.db", "/.git/"));
    EXPECT_THAT(Rows(extensions_), ElementsAre("tmp", "bak", "obj", "log"));
    EXPECT_FALSE(names_->topLevelItem(0)->icon(0).isNull());  // the name rows carry a picture
    EXPECT_TRUE(extensions_->topLevelItem(0)->icon(0).isNull());
    // Every row's field opens after a picture's room; Esc leaves an added row empty, unpictured.
    QLineEdit* editor = Edit(names_, 0);
    ASSERT_NE(editor, nullptr);
    const int pictured = editor->x();
    EXPECT_GE(pictured, 16);
    for (QTreeWidget* view : {names_, extensions_}) {
        for (const int at : {0, -1}) {
            editor = Edit(view, at);
            ASSERT_NE(editor, nullptr) << at;
            EXPECT_EQ(editor->x(), pictured) << (view == names_ ? "names " : "extensions ") << at;
            QTest::keyClick(editor, Qt::Key_Escape);
        }
    }
    EXPECT_TRUE(dialog_.isVisible());
    EXPECT_THAT(Rows(names_), ElementsAre("~$", "Thumbs.db", "/.git/", ""));
    EXPECT_TRUE(names_->topLevelItem(3)->icon(0).isNull());
    // Return ends only the edit of an added row, the only one selected (by a queued call).
    editor = Edit(names_);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(names_->selectedItems(), QList<QTreeWidgetItem*>{names_->topLevelItem(4)});
    QTest::keyClicks(editor, "obj");
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Editor(names_) == nullptr; }));
    EXPECT_TRUE(dialog_.isVisible());
    // OK takes a field still open with its text; Return outside a field is OK too.
    editor = Edit(extensions_, 1);
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "old");
    dialog_.okButton()->click();
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_THAT(lists_.names(), ElementsAre("~$", "Thumbs.db", "/.git/", "", "obj"));
    EXPECT_THAT(lists_.extensions(), ElementsAre("tmp", "old", "obj", "log", ""));
    lists_.AddExtension("new");
    dialog_.show();  // every opening shows the lists as they are now
    lists_.Clear();
    QTest::keyClick(extensions_, Qt::Key_Return);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_THAT(lists_.extensions(), ElementsAre("tmp", "old", "obj", "log", "", "new"));
}

TEST_F(JlistDlgTest, DeleteIsGrayedUnlessThePointedViewHasSelectedRowsAndDeletesOnlyThose) {
    Select(extensions_, {1});
    using List = CJlistDlg::ContextList;
    const std::tuple<QPoint, bool, List> rows[] = {
        {Centre(names_), false, List::Names},
        {Centre(extensions_), false, List::Extensions},
        {dialog_.okButton()->mapToGlobal(QPoint(5, 5)), false, List::None},
        {Centre(extensions_), true, List::None}};
    for (const auto& [at, fromKeyboard, list] : rows) {
        dialog_.PrepareContextMenu(at, fromKeyboard);
        EXPECT_EQ(dialog_.contextList(), list) << static_cast<int>(list);
        EXPECT_EQ(dialog_.deleteAction()->isEnabled(), list == List::Extensions);
    }
    // A real context menu over the extensions; it is modal: read and answered from its loop.
    Select(names_, {0, 2});
    Select(extensions_, {0, 2, 3});
    EXPECT_CALL(ask_, Call(_, kMbYesNo)).Times(3).WillRepeatedly(ReturnRoundRobin({kIdYes, kIdNo}));
    bool deleteEnabled = false;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_EQ(menu, dialog_.contextMenu());
        deleteEnabled = dialog_.deleteAction()->isEnabled();
        menu->setActiveAction(dialog_.deleteAction());
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QWidget* area = extensions_->viewport();
    QContextMenuEvent request(QContextMenuEvent::Mouse, area->rect().center(), Centre(extensions_));
    QApplication::sendEvent(area, &request);
    EXPECT_TRUE(deleteEnabled);
    EXPECT_THAT(Rows(extensions_), ElementsAre("bak"));
    EXPECT_THAT(Rows(names_), ElementsAre("~$", "Thumbs.db", "/.git/"));
    // The same over the name view; No deletes nothing.
    dialog_.PrepareContextMenu(Centre(names_));
    dialog_.deleteAction()->trigger();
    EXPECT_THAT(Rows(names_), ElementsAre("~$", "Thumbs.db", "/.git/"));
    dialog_.deleteAction()->trigger();
    dialog_.okButton()->click();
    EXPECT_THAT(lists_.names(), ElementsAre("Thumbs.db"));
    EXPECT_THAT(lists_.extensions(), ElementsAre("bak"));
}

// A double-click right of 100 rows is refused; Cancel, Esc and the close box keep the lists.
TEST_F(JlistDlgTest, TheHundredAndFirstRowIsRefusedAndCancelEscAndTheCloseBoxKeepTheLists) {
    dialog_.hide();
    lists_.Clear();
    for (int i = 0; i < CJlistDlg::kMaxRows; ++i) {
        lists_.AddExtension("e" + std::to_string(i));
    }
    const std::function<void()> closes[] = {[&] { dialog_.cancelButton()->click(); },
                                            [&] { QTest::keyClick(&dialog_, Qt::Key_Escape); },
                                            [&] { dialog_.close(); }};
    EXPECT_CALL(ask_, Call(_, kMbOk)).Times(3).WillRepeatedly(Return(kIdOk));
    for (const auto& close : closes) {
        dialog_.show();
        extensions_->header()->resizeSection(0, 40);
        QTest::mouseDClick(extensions_->viewport(), Qt::LeftButton, {}, QPoint(60, 10));
        EXPECT_EQ(extensions_->topLevelItemCount(), 100);
        EXPECT_EQ(Editor(extensions_), nullptr);
        ASSERT_NE(Edit(names_), nullptr);
        close();
        EXPECT_EQ(dialog_.result(), QDialog::Rejected);
        EXPECT_FALSE(dialog_.isVisible());
        EXPECT_TRUE(lists_.names().empty());
    }
}

}  // namespace
}  // namespace mirova::ui
