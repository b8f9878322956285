#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QWidget>

#include "UiTesting.h"
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

    const DialogUnits units(DialogFont());
    ASSERT_GT(units.baseWidth(), 0);
    ASSERT_GT(units.baseHeight(), 0);
    // Four horizontal units are one average character, eight vertical ones a line.
    EXPECT_EQ(units.x(4), units.baseWidth());
    EXPECT_EQ(units.x(8), 2 * units.baseWidth());
    EXPECT_EQ(units.y(8), units.baseHeight());
    EXPECT_EQ(units.y(16), 2 * units.baseHeight());
    EXPECT_EQ(units.x(0), 0);
    // Halves are rounded up, as MulDiv does: 2 units are half a character.
    EXPECT_EQ(units.x(2), (units.baseWidth() + 1) / 2);
    EXPECT_EQ(units.y(4), (units.baseHeight() + 1) / 2);
    EXPECT_EQ(units.rect(11, 7, 286, 8), QRect(units.x(11), units.y(7), units.x(286), units.y(8)));
    EXPECT_EQ(units.size(306, 80), QSize(units.x(306), units.y(80)));
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

}  // namespace
}  // namespace mirova::ui
