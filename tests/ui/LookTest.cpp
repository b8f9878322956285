#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
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
    window.setFixedSize(320, 220);
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
    window.show();
    const QImage image = Grab(&window);

    // The labels' texts are short: the right ends of their rectangles show the background.
    EXPECT_EQ(image.pixelColor(205, 20), kLookBackground);
    EXPECT_EQ(image.pixelColor(205, 50), kLookBackground);
    EXPECT_EQ(image.pixelColor(140, 74), kLookBackground);
    EXPECT_EQ(image.pixelColor(300, 200), kLookBackground);
    // Black label and check box texts.
    EXPECT_TRUE(HasPixelNear(image, QRect(10, 10, 200, 20), kLookText, 40));
    EXPECT_TRUE(HasPixelNear(image, QRect(40, 40, 170, 20), kLookText, 40));
    // White inside the edit field and the list.
    EXPECT_EQ(image.pixelColor(100, 152), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(265, 100), QColor(Qt::white));
    EXPECT_EQ(window.palette().color(QPalette::Base), QColor(Qt::white));
}

}  // namespace
}  // namespace mirova::ui
