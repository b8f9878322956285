// The look of the windows, the picture buttons, the message box, the icons, the progress and
// status windows, and the results window.
#include <gmock/gmock.h>

#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTest>
#include <memory>

#include "TempDir.h"
#include "TextFit.h"
#include "engine/ChangeRecord.h"
#include "settings/ExclusionList.h"
#include "ui/BitmapButton.h"
#include "ui/CEditPresetDlg.h"
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

// What a widget or a picture shows, as pixels comparable with each other.
QImage Image(const QPixmap& picture) {
    return picture.toImage().convertToFormat(QImage::Format_RGB32);
}
QImage Grab(QWidget* widget) {
    return Image(widget->grab());
}

// Whether any pixel inside the area has the colour, within a tolerance per channel.
bool HasPixelNear(const QImage& image, const QRect& area, const QColor& colour, int tolerance) {
    const QImage part = image.copy(area.intersected(image.rect()));
    for (int i = 0; i < part.width() * part.height(); ++i) {
        const QColor p = part.pixelColor(i % part.width(), i / part.width());
        if (std::max({std::abs(p.red() - colour.red()), std::abs(p.green() - colour.green()),
                      std::abs(p.blue() - colour.blue())}) <= tolerance) {
            return true;
        }
    }
    return false;
}
QStringList LabelTexts(const QWidget* window) {
    QStringList texts;
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        texts << label->text();
    }
    return texts;
}

TEST(DialogFontTest, HasTheJapaneseGlyphsOfTheWindowsAndUnitsFromItsAverageCharacter) {
    const QString family = QFontInfo(DialogFont()).family();
    EXPECT_TRUE(family == "ＭＳ Ｐゴシック" || family == "Noto Sans CJK JP")
        << family.toStdString();
    // Four horizontal units are one average character, eight vertical ones a line; halves are
    // rounded up, as MulDiv does.
    const DialogUnits units(DialogFont());
    ASSERT_GT(units.baseWidth(), 2);
    EXPECT_EQ(units.x(8), 2 * units.baseWidth());
    EXPECT_EQ(units.y(16), 2 * units.baseHeight());
    EXPECT_EQ(units.x(2), (units.baseWidth() + 1) / 2);
    EXPECT_EQ(units.y(4), (units.baseHeight() + 1) / 2);
}

TEST(LookTest, ColoursBehindAndInsideTheControls) {
    QWidget window;
    window.setFixedSize(320, 250);
    ApplyLook(&window);
    const auto put = [&](QWidget* widget, const QRect& where) {
        widget->setParent(&window);
        widget->setGeometry(where);
        return widget;
    };
    put(new QLabel("ﾌｫﾙﾀﾞ Folder"), {10, 10, 200, 20});
    put(new QCheckBox("ｴﾗｰで停止しない"), {10, 40, 200, 20});
    put(new QGroupBox("ﾓｰﾄﾞ"), {10, 70, 140, 60});
    put(new QLineEdit, {10, 140, 200, 24});
    put(new QListWidget, {220, 10, 90, 120});
    static_cast<QLineEdit*>(put(new QLineEdit("/home"), {10, 170, 200, 24}))->setReadOnly(true);
    static_cast<QPlainTextEdit*>(put(new QPlainTextEdit("写真"), {220, 140, 90, 60}))
        ->setReadOnly(true);
    auto* madeReadOnly = static_cast<QLineEdit*>(put(new QLineEdit, {10, 210, 200, 24}));
    window.show();
    madeReadOnly->setReadOnly(true);  // after the window has given it its colours
    const QImage image = Grab(&window);
    // The window's colour behind a label, a check box and a group box's title (their texts are
    // short), inside a group box, at the window's corner and inside the three read-only fields.
    for (const QPoint at : {QPoint(205, 20),
                            {205, 50},
                            {140, 74},
                            {80, 112},
                            {300, 235},
                            {180, 182},
                            {290, 190},
                            {180, 222}}) {
        EXPECT_EQ(image.pixelColor(at), kLookBackground) << at.x() << ", " << at.y();
    }
    // White inside an edit field and a list.
    EXPECT_EQ(image.pixelColor(100, 152), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(265, 100), QColor(Qt::white));
    // Black label, check box and read-only field texts.
    for (const QRect& text : {QRect(10, 10, 200, 20), {40, 40, 170, 20}, {12, 172, 60, 20}}) {
        EXPECT_TRUE(HasPixelNear(image, text, kLookText, 40)) << text.y();
    }
}

TEST(LookTest, WindowsKeepTheProportionsOfTheirTemplatesAndShowEveryTextWhole) {
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
        EXPECT_EQ(Grab(window).pixelColor(window->width() - 3, window->height() - 3),
                  kLookBackground);  // the look of the windows
        if (templateSize.isEmpty()) {
            continue;
        }
        // The template font's characters are twice as high as they are wide on average: its
        // vertical unit, an eighth of that height, equals its horizontal one, a quarter of the
        // width. A window in pixels keeps the template's width to height.
        const auto* menu = window->findChild<QMenuBar*>();
        const double height = window->height() - (menu != nullptr ? menu->height() : 0);
        const double wanted = double(templateSize.width()) / templateSize.height();
        EXPECT_NEAR(window->width() / height, wanted, 0.05 * wanted);
    }
    // The status window only informs: no key nor the close box closes it. OK ends the about box.
    QTest::keyClick(&status, Qt::Key_Escape);
    QTest::keyClick(&status, Qt::Key_Return);
    EXPECT_FALSE(status.close());
    EXPECT_TRUE(status.isVisible());
    EXPECT_EQ(status.text(), "ﾌｧｲﾙﾘｽﾄを作成中");
    QTest::mouseClick(about.findChild<BitmapButton*>(), Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), 1);
}

// A button takes the size of its pictures, drawn once per caption (a template's size only moves
// it), keeps the pictures of its first caption and shows the picture of its state: a focused
// one the normal picture, a pressed one the normal picture a pixel right and down.
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
        const QImage normal = Image(pictures.normal);
        const QImage pressed = Image(pictures.pressed);
        const QImage disabled = Image(pictures.disabled);
        const int middle = size.height() / 2;
        EXPECT_EQ(normal.pixelColor(0, 0), QColor(213, 213, 254));  // outside the rounded corner
        EXPECT_EQ(normal.pixelColor(0, middle), QColor(7, 54, 156));
        EXPECT_EQ(normal.pixelColor(4, middle), QColor(102, 102, 204));
        EXPECT_TRUE(HasPixelNear(normal, normal.rect(), QColor(255, 255, 255), 8));
        EXPECT_EQ(disabled.pixelColor(0, middle), QColor(0, 0, 0));
        EXPECT_EQ(disabled.pixelColor(4, middle), QColor(134, 134, 134));
        EXPECT_TRUE(HasPixelNear(disabled, disabled.rect(), QColor(204, 204, 204), 8));
        EXPECT_FALSE(HasPixelNear(disabled, disabled.rect(), QColor(102, 102, 204), 8));
        EXPECT_EQ(pressed.pixelColor(10, 0), QColor(213, 213, 254));
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
    const ButtonPictures& sharp = PicturesFor("はい", 2.0);
    EXPECT_EQ(sharp.normal.size(), QSize(182, 46));
    EXPECT_EQ(sharp.normal.deviceIndependentSize(), QSizeF(91, 23));
}

const QString kSyncQuestion(
    "ﾀｰｹﾞｯﾄに 3 個の更新ﾌｧｲﾙ/ﾌｫﾙﾀﾞ、1 個の余剰ﾌｧｲﾙ、0 個の余剰ﾌｫﾙﾀﾞが有ります。\n"
    "ｱｯﾌﾟﾃﾞｰﾄを実行すると余剰ﾌｧｲﾙ・ﾌｫﾙﾀﾞは削除され更新ﾌｧｲﾙが上書きされます。\n"
    "ｱｯﾌﾟﾃﾞｰﾄを実行しますか？");

// A box is as large as its text plus the margins, never below 150 x 120; the text wraps within
// 500 pixels (a longer word widens it) and line breaks start new lines. That is its outer size:
// shown, the frame of the window manager is taken from the client area, and the buttons keep
// their places 30 pixels from the bottom, in the middle, Yes and No 10 pixels apart.
TEST(MessageBoxTest, IsSizedToItsTextInsideItsFrameWithTheButtonsOfItsTypeInTheMiddle) {
    QString folders;
    for (int i = 0; i < 40; ++i) {
        folders += QString("folder%1 ").arg(i);
    }
    const struct {
        QString text;
        int type, minLines, minWidth, maxWidth;
    } rows[] = {
        {"保存終了", 0, 1, 0, 500},
        {folders.trimmed(), 0, 2, 401, 500},
        {QString(120, 'W'), 0, 1, 501, 5000},
        {kSyncQuestion, 4, 3, 0, 500},
    };
    const int lineHeight = QFontMetrics(DialogFont()).height();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.left(20).toStdString());
        CMessageBox box(row.text, row.type);
        const QRect text = box.textLabel()->geometry();
        EXPECT_GE(text.height(), row.minLines * lineHeight);
        EXPECT_GE(text.width(), row.minWidth);
        EXPECT_LE(text.width(), row.maxWidth);
        const QSize outer(qMax(150, text.left() + text.width() + 20),
                          qMax(120, text.top() + text.height() + 70));
        EXPECT_EQ(box.size(), outer);  // before it is shown, a box has no frame
        box.show();                    // the offscreen platform frames it with 2 pixels
        ASSERT_GT(box.frameGeometry().width(), box.width()) << "no frame to take";
        EXPECT_EQ(box.frameGeometry().size(), outer);
        const bool yesNo = row.type == 4;
        EXPECT_EQ(box.okButton()->isHidden(), yesNo);
        EXPECT_EQ(box.yesButton()->isHidden(), !yesNo);
        EXPECT_EQ(box.noButton()->isHidden(), !yesNo);
        const QRect left = (yesNo ? box.yesButton() : box.okButton())->geometry();
        const QRect right = (yesNo ? box.noButton() : box.okButton())->geometry();
        EXPECT_EQ(left.size(), QSize(91, 23));
        EXPECT_EQ(left.top(), box.height() - 30);
        EXPECT_EQ(right.top(), box.height() - 30);
        EXPECT_EQ(right.left(), yesNo ? left.right() + 11 : left.left());
        EXPECT_LE(std::abs(left.left() - (box.width() - 1 - right.right())), 1);
    }
}

// Return, Enter (also the keypad's), Esc and the close box end an OK box with 1 (OK); a question
// opens with no button focused, so that a stray key answers nothing, and ends only with Yes or No.
TEST(MessageBoxTest, KeysAndTheCloseBoxAnswerOnlyAnOkBox) {
    const std::function<void(CMessageBox&)> ways[] = {
        [](CMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); },
        [](CMessageBox& box) { QTest::keyClick(&box, Qt::Key_Enter); },
        [](CMessageBox& box) { QTest::keyClick(&box, Qt::Key_Enter, Qt::KeypadModifier); },
        [](CMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); },
        [](CMessageBox& box) { box.close(); },
    };
    for (const auto& way : ways) {
        CMessageBox ok("保存終了", 0);
        ok.show();
        way(ok);
        EXPECT_FALSE(ok.isVisible());
        EXPECT_EQ(ok.result(), 1);
    }
    CMessageBox question(kSyncQuestion, 4);
    question.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&question));  // focus is handed out then
    EXPECT_FALSE(question.yesButton()->hasFocus() || question.noButton()->hasFocus());
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(&question, key);
    }
    question.close();
    EXPECT_TRUE(question.isVisible());
    QTest::mouseClick(question.noButton(), Qt::LeftButton);
    EXPECT_EQ(question.result(), 7);
}

TEST(IconsTest, AreThirtyTwoPixelsAndDrawn) {
    for (const QPixmap& icon : {WarningIcon(), ProgramIcon()}) {
        EXPECT_EQ(icon.deviceIndependentSize(), QSizeF(32, 32));
        const QImage image = icon.toImage();
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
        EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() * 3 / 4).alpha(), 255);
    }
    // The warning: a yellow triangle with a black mark in its middle.
    const QImage warning = WarningIcon().toImage();
    EXPECT_LT(warning.pixelColor(warning.width() / 2, warning.height() / 2).lightness(), 40);
    const QColor yellow = warning.pixelColor(warning.width() / 2 - 6, warning.height() * 3 / 4);
    EXPECT_TRUE(yellow.red() > 200 && yellow.green() > 180 && yellow.blue() < 60)
        << yellow.name().toStdString();
}

TEST(ProgressDlgTest, ShowsItsStatusLineAndThePercentageOfEachStepWrappingAfterTheEnd) {
    CProgressDlg dialog;
    dialog.SetStatusLine("/home/user/写真/IMG_0412.JPG");
    EXPECT_THAT(LabelTexts(&dialog), testing::Contains(QString("/home/user/写真/IMG_0412.JPG")));
    EXPECT_EQ(dialog.percentText(), " 0 %");
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
    dialog.SetBarRange(5, 5);  // an empty range shows 0% instead of dividing by zero
    dialog.StepBar();
    EXPECT_EQ(dialog.percentText(), "0%");
}

// Cancel, Esc and the close box only record a request, which counts once until it is taken;
// Enter does nothing. The window disables the visible main window while it lives, unless that
// was disabled already; a child of its owner stays usable.
TEST(ProgressDlgTest, CancelOnlyRequestsCancelAndTheOwnerIsDisabledWhileTheWindowLives) {
    {
        QWidget tip(nullptr, Qt::ToolTip);
        tip.show();
        EXPECT_EQ(DefaultOwner(nullptr), nullptr);  // a tooltip never owns a window
    }
    QWidget owner;
    owner.show();
    auto dialog = std::make_unique<CProgressDlg>();
    dialog->ShowModeless(nullptr);
    EXPECT_FALSE(owner.isEnabled());
    EXPECT_FALSE(dialog->TakeCancelRequest());
    for (int i = 0; i < 2; ++i) {
        QTest::mouseClick(dialog->findChild<BitmapButton*>(), Qt::LeftButton);
    }
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

// A record of 10,000 items in the log folder of the test: 9,996 new copies of sizes 0 to 9,995,
// then a deleted file, its deleted folder, a changed copy whose name holds a line break and a
// failure.
class ResultsDlgTest : public ::testing::Test {
protected:
    ResultsDlgTest() {
        dir_.createFolder("log");
        dir_.createFolder("dst/d3");
        std::string text =
            "# Mirova 0.1.0 change record\n# run: sync\n# preset: 3 nightly photos\n";
        text += "# source: " + dir_ / "src" + "\n# target: " + dir_ / "dst" + "\n";
        text += "# suppress deletion: off\n# exclusions: off\n# started: 2026-12-07 02:00:00\n";
        const auto add = [&](ChangeAction action, ChangeSide side, std::string path,
                             ItemState before, ItemState after, std::string message = {}) {
            text +=
                ItemLine({action, side, std::move(path), before, after, std::move(message)}) + "\n";
        };
        for (int i = 0; i < 9996; ++i) {
            add(ChangeAction::CopyNew, ChangeSide::Target,
                "d" + std::to_string(i % 10) + "/f" + std::to_string(i) + ".dat", {},
                {true, static_cast<std::uint64_t>(i), kTime + i});
        }
        add(ChangeAction::DeleteFile, ChangeSide::Target, "old/gone.txt", {true, 120, kTime}, {});
        add(ChangeAction::DeleteFolder, ChangeSide::Target, "old", {true, 0, kTime}, {});
        add(ChangeAction::CopyChanged, ChangeSide::Source, "line\nbreak.txt", {true, 5, kTime},
            {true, 9, kTime + 60});
        add(ChangeAction::Failed, ChangeSide::Target, "c.txt", {}, {}, "c.txt が作成できません。");
        text +=
            "# end: failures 1; deleted files 1, deleted folders 1, copied 9997 (49955019 bytes), "
            "created folders 0\n";
        dir_.createFile("log/Changes-261207-020000.txt", text);
        CResultsDlg::SetFolderOpenerForTesting([this](const QString& f) { opened_.push_back(f); });
        dialog_ = std::make_unique<CResultsDlg>();  // the newest record of the log folder
        dialog_->show();
    }
    ~ResultsDlgTest() override { CResultsDlg::SetFolderOpenerForTesting(nullptr); }
    QString Cell(int row, int column, int role = Qt::DisplayRole) const {
        return dialog_->proxy()->index(row, column).data(role).toString();
    }
    void Filter(const QString& text) {
        dialog_->filterField()->clear();
        QTest::keyClicks(dialog_->filterField(), text);
    }
    test::TempDir dir_;
    std::vector<QString> opened_;
    std::unique_ptr<CResultsDlg> dialog_;
};

TEST_F(ResultsDlgTest, ShowsTheLatestRecordWithItsFactsAndCountsAndSortsSizesAsNumbers) {
    EXPECT_EQ(dialog_->recordPath(), dir_ / "log/Changes-261207-020000.txt");
    EXPECT_EQ(dialog_->view()->model()->rowCount(), 10000);
    EXPECT_EQ(dialog_->countsLabel()->text(),
              "削除 1  ﾌｫﾙﾀﾞ削除 1  新規ｺﾋﾟｰ 9,996  更新ｺﾋﾟｰ 1  ﾌｫﾙﾀﾞ作成 0  失敗 1");
    EXPECT_EQ(dialog_->factsLabel()->text(),
              QString("ｱｯﾌﾟﾃﾞｰﾄ  ﾌﾟﾘｾｯﾄ 3「nightly photos」  %1 → %2  2026/12/07 02:00:00 開始")
                  .arg(QString::fromStdString(dir_ / "src"), QString::fromStdString(dir_ / "dst")));
    EXPECT_EQ(dialog_->endLabel()->text(), "終了: ｴﾗｰ 1 件  ｺﾋﾟｰ 9,997 個 (49,955,019 ﾊﾞｲﾄ)");
    EXPECT_EQ(Cell(0, Model::kAction), "新規ｺﾋﾟｰ");
    EXPECT_EQ(Cell(0, Model::kSide), "ﾀｰｹﾞｯﾄ");
    EXPECT_EQ(Cell(9995, Model::kTimeAfter), Model::TimeText(kTime + 9995));
    EXPECT_EQ(Cell(9995, Model::kSizeBefore), QString());
    // The three items without a state after the change first, then 0, 1, ... 9, 9, 10.
    dialog_->view()->sortByColumn(Model::kSizeAfter, Qt::AscendingOrder);
    QStringList sizes;
    for (int row = 0; row < 16; ++row) {
        sizes << Cell(row, Model::kSizeAfter);
    }
    EXPECT_EQ(sizes.join(' '), "   0 1 2 3 4 5 6 7 8 9 9 10 11");
    dialog_->view()->sortByColumn(Model::kSizeAfter, Qt::DescendingOrder);
    EXPECT_EQ(Cell(0, Model::kSizeAfter), "9,995");
    EXPECT_EQ(Cell(1, Model::kSizeAfter), "9,994");
    // Without a record the table is empty.
    dialog_->Load("");
    EXPECT_EQ(dialog_->view()->model()->rowCount(), 0);
    EXPECT_EQ(dialog_->factsLabel()->text(), "記録がありません。");
    EXPECT_FALSE(dialog_->countsLabel()->isVisible());
}

TEST_F(ResultsDlgTest,
       TheFilterKeepsTheMatchingPathsWhateverTheirCaseAndADoubleClickOpensTheirFolder) {
    QTest::keyClicks(dialog_->filterField(), "F123");
    ASSERT_EQ(dialog_->proxy()->rowCount(), 11);  // f123 and f1230 to f1239
    for (int row = 0; row < 11; ++row) {
        EXPECT_THAT(Cell(row, Model::kPath).toStdString(), testing::HasSubstr("/f123"));
    }
    // One row for the line break, as the record writes it; the failure with its message.
    Filter("break");
    ASSERT_EQ(dialog_->proxy()->rowCount(), 1);
    EXPECT_EQ(Cell(0, Model::kPath), "line\\x0Abreak.txt");
    EXPECT_EQ(Cell(0, Model::kSide), "ｿｰｽ");
    Filter("c.txt");
    ASSERT_EQ(dialog_->proxy()->rowCount(), 1);
    EXPECT_EQ(Cell(0, Model::kPath), "c.txt : c.txt が作成できません。");
    EXPECT_EQ(Cell(0, Model::kPath, Qt::ToolTipRole), "c.txt が作成できません。");
    dialog_->filterField()->clear();
    EXPECT_EQ(dialog_->proxy()->rowCount(), 10000);
    for (const char* path : {"f123.dat", "gone"}) {
        Filter(path);
        ASSERT_EQ(dialog_->proxy()->rowCount(), 1);
        const QPoint at =
            dialog_->view()->visualRect(dialog_->proxy()->index(0, Model::kPath)).center();
        // What a real double-click delivers: a click, then the second press as a double-click.
        QWidget* viewport = dialog_->view()->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, at);
    }
    // "old" went with its file: the target folder itself is shown.
    EXPECT_THAT(opened_, testing::ElementsAre(QString::fromStdString(dir_ / "dst/d3"),
                                              QString::fromStdString(dir_ / "dst")));
}

}  // namespace
}  // namespace mirova::ui
