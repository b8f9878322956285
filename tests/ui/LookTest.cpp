#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>

#include "TextFit.h"
#include "UiTesting.h"
#include "settings/ExclusionList.h"
#include "ui/CEditPresetDlg.h"
#include "ui/CJlistDlg.h"
#include "ui/CMessageBox.h"
#include "ui/CProgressDlg.h"
#include "ui/CStatusDlg.h"
#include "ui/Look.h"

namespace mirova::ui {
namespace {

using test::Grab;
using test::HasPixelNear;

TEST(DialogFontTest, HasTheJapaneseGlyphsOfTheWindowsAndUnitsFromItsAverageCharacter) {
    const QFontInfo info(DialogFont());
    EXPECT_TRUE(info.family() == QStringLiteral("ＭＳ Ｐゴシック") ||
                info.family() == QStringLiteral("Noto Sans CJK JP"))
        << "dialog font resolved to " << info.family().toStdString();
    const QFontMetrics metrics(DialogFont());
    for (const QChar c : QStringLiteral("ﾌｧｲﾙﾘｽﾄを作成中はいいえ参照")) {
        EXPECT_TRUE(metrics.inFont(c))
            << "no glyph for U+" << std::hex << static_cast<int>(c.unicode());
    }

    // Four horizontal units are one average character, eight vertical ones a line; halves are
    // rounded up, as MulDiv does.
    const DialogUnits units(DialogFont());
    ASSERT_GT(units.baseWidth(), 2);
    EXPECT_EQ(units.x(8), 2 * units.baseWidth());
    EXPECT_EQ(units.y(16), 2 * units.baseHeight());
    EXPECT_EQ(units.x(2), (units.baseWidth() + 1) / 2);
    EXPECT_EQ(units.y(4), (units.baseHeight() + 1) / 2);
    EXPECT_EQ(units.rect(11, 7, 286, 8), QRect(units.x(11), units.y(7), units.x(286), units.y(8)));
}

TEST(LookTest, ColoursBehindAndInsideTheControls) {
    QWidget window;
    window.setFixedSize(320, 250);
    ApplyLook(&window);
    auto* label = new QLabel(QStringLiteral("ﾌｫﾙﾀﾞ Folder"), &window);
    label->setGeometry(10, 10, 200, 20);
    auto* check = new QCheckBox(QStringLiteral("ｴﾗｰで停止しない"), &window);
    check->setGeometry(10, 40, 200, 20);
    auto* group = new QGroupBox(QStringLiteral("ﾓｰﾄﾞ"), &window);
    group->setGeometry(10, 70, 140, 60);
    auto* edit = new QLineEdit(&window);
    edit->setGeometry(10, 140, 200, 24);
    auto* list = new QListWidget(&window);
    list->setGeometry(220, 10, 90, 120);
    auto* shownPath = new QLineEdit(QStringLiteral("/home"), &window);
    shownPath->setReadOnly(true);
    shownPath->setGeometry(10, 170, 200, 24);
    auto* shownCaption = new QPlainTextEdit(QStringLiteral("写真"), &window);
    shownCaption->setReadOnly(true);
    shownCaption->setGeometry(220, 140, 90, 60);
    auto* madeReadOnly = new QLineEdit(&window);
    madeReadOnly->setGeometry(10, 210, 200, 24);
    window.show();
    madeReadOnly->setReadOnly(true);  // after the window has given it its colours
    const QImage image = Grab(&window);

    const QColor white(Qt::white);
    const struct {
        QPoint at;
        QColor colour;
        const char* where;
    } samples[] = {
        // The labels' texts are short: the right ends of their rectangles show the background.
        {{205, 20}, kLookBackground, "behind a label"},
        {{205, 50}, kLookBackground, "behind a check box"},
        {{140, 74}, kLookBackground, "behind a group box's title"},
        {{80, 112}, kLookBackground, "inside a group box"},
        {{300, 235}, kLookBackground, "the window"},
        {{180, 182}, kLookBackground, "inside a read-only field"},
        {{290, 190}, kLookBackground, "inside a read-only text box"},
        {{180, 222}, kLookBackground, "inside a field made read-only"},
        {{100, 152}, white, "inside an edit field"},
        {{265, 100}, white, "inside a list"},
    };
    for (const auto& sample : samples) {
        EXPECT_EQ(image.pixelColor(sample.at), sample.colour) << sample.where;
    }
    // Black label, check box and read-only field texts.
    EXPECT_TRUE(HasPixelNear(image, QRect(10, 10, 200, 20), kLookText, 40));
    EXPECT_TRUE(HasPixelNear(image, QRect(40, 40, 170, 20), kLookText, 40));
    EXPECT_TRUE(HasPixelNear(image, QRect(12, 172, 60, 20), kLookText, 40));
}

TEST(LookTest, WindowsKeepTheProportionsOfTheirTemplatesAndShowEveryTextWhole) {
    ExclusionList lists;
    lists.AddName("Thumbs.db");
    const auto never = [](const QString&, int) { return 7; };
    const struct {
        const char* name;
        std::function<std::unique_ptr<QWidget>()> make;
        QSize templateSize;  // dialog units; empty for a box sized to its text
    } windows[] = {
        {"preset editor", [&] { return std::make_unique<CEditPresetDlg>(never); }, {295, 343}},
        {"exclusion editor", [&] { return std::make_unique<CJlistDlg>(lists, never); }, {296, 259}},
        {"about window", [] { return std::make_unique<CAboutDlg>(); }, {235, 52}},
        {"progress window",
         [] {
             auto progress = std::make_unique<CProgressDlg>();
             progress->SetStatusLine("/home/user/写真/2023/旅行/IMG_0412.JPG");
             return progress;
         },
         {}},
        {"status window",
         [] {
             auto status = std::make_unique<CStatusDlg>();
             status->SetStatusText("ﾌｧｲﾙﾘｽﾄを作成中");
             return status;
         },
         {}},
        {"question",
         [] {
             return std::make_unique<CMessageBox>(
                 QStringLiteral("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？\n除外リストを有効にする"), 4);
         },
         {}},
    };
    for (const auto& entry : windows) {
        const std::unique_ptr<QWidget> window = entry.make();
        window->show();
        EXPECT_EQ(test::ClippedTexts(window.get()).join(QStringLiteral("; ")).toStdString(), "")
            << entry.name;
        if (entry.templateSize.isEmpty()) {
            continue;
        }
        // The template font's characters are twice as high as they are wide on average: its
        // vertical unit, an eighth of that height, equals its horizontal one, a quarter of the
        // width. A window in pixels keeps the template's width to height.
        const auto* menu = window->findChild<QMenuBar*>();
        const double height = window->height() - (menu != nullptr ? menu->height() : 0);
        const double wanted = double(entry.templateSize.width()) / entry.templateSize.height();
        EXPECT_NEAR(window->width() / height, wanted, 0.05 * wanted) << entry.name;
    }

    // A preset button is 24 x 22 units, a little wider than high.
    CEditPresetDlg editor(never);
    QPushButton* first = nullptr;
    for (QPushButton* button : editor.findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("１")) {
            first = button;
        }
    }
    ASSERT_NE(first, nullptr);
    EXPECT_NEAR(double(first->width()) / first->height(), 24.0 / 22.0, 0.05)
        << first->width() << " x " << first->height();
}

}  // namespace
}  // namespace mirova::ui
