#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include "UiTesting.h"
#include "ui/BitmapButton.h"
#include "ui/Look.h"

namespace mirova::ui {
namespace {

using test::Grab;
using test::HasPixelNear;

QImage Image(const QPixmap& picture) {
    return picture.toImage().convertToFormat(QImage::Format_RGB32);
}

struct SizeRow {
    const char* caption;
    QSize size;
    friend void PrintTo(const SizeRow& row, std::ostream* out) { *out << row.caption; }
};

class ButtonSizeTest : public testing::TestWithParam<SizeRow> {};

TEST_P(ButtonSizeTest, TakesTheSizeOfItsPicturesWhateverTheWindowGivesIt) {
    const QString caption = QString::fromUtf8(GetParam().caption);
    QWidget window;
    auto* button = new BitmapButton(caption, &window);
    EXPECT_EQ(ButtonPictureSize(caption), GetParam().size);
    EXPECT_EQ(button->size(), GetParam().size);
    EXPECT_EQ(button->sizeHint(), GetParam().size);
    // A template's size only moves the button; its top-left corner stays.
    button->setGeometry(12, 34, 75, 14);
    EXPECT_EQ(button->geometry(), QRect(QPoint(12, 34), GetParam().size));
    EXPECT_EQ(PicturesFor(caption).normal.size(), GetParam().size);
}

INSTANTIATE_TEST_SUITE_P(Captions, ButtonSizeTest,
                         testing::Values(SizeRow{"OK", {91, 23}}, SizeRow{"ｷｬﾝｾﾙ", {91, 23}},
                                         SizeRow{"はい", {91, 23}}, SizeRow{"ｸﾘｱ", {91, 23}},
                                         SizeRow{"参照", {43, 23}},
                                         SizeRow{"ｿｰｽ・ﾀｰｹﾞｯﾄの入れ替え", {160, 23}}));

TEST(ButtonPicturesTest, AreDrawnToTheDesignAndOnlyOnce) {
    const QString caption = QStringLiteral("OK");
    const ButtonPictures& pictures = PicturesFor(caption);
    EXPECT_EQ(&pictures, &PicturesFor(caption));

    const QImage normal = Image(pictures.normal);
    const int middle = normal.height() / 2;
    EXPECT_EQ(normal.pixelColor(0, 0), QColor(213, 213, 254));  // outside the rounded corner
    EXPECT_EQ(normal.pixelColor(0, middle), QColor(7, 54, 156));
    EXPECT_EQ(normal.pixelColor(normal.width() - 1, middle), QColor(7, 54, 156));
    EXPECT_EQ(normal.pixelColor(4, middle), QColor(102, 102, 204));
    EXPECT_TRUE(HasPixelNear(normal, normal.rect(), QColor(255, 255, 255), 8));

    const QImage disabled = Image(pictures.disabled);
    EXPECT_EQ(disabled.pixelColor(0, 0), QColor(213, 213, 254));
    EXPECT_EQ(disabled.pixelColor(0, middle), QColor(0, 0, 0));
    EXPECT_EQ(disabled.pixelColor(4, middle), QColor(134, 134, 134));
    EXPECT_TRUE(HasPixelNear(disabled, disabled.rect(), QColor(204, 204, 204), 8));
    EXPECT_FALSE(HasPixelNear(disabled, disabled.rect(), QColor(102, 102, 204), 8));

    // Pressed: the normal picture one pixel right and down.
    const QImage pressed = Image(pictures.pressed);
    for (int y = 0; y + 1 < normal.height(); ++y) {
        for (int x = 0; x + 1 < normal.width(); ++x) {
            ASSERT_EQ(pressed.pixel(x + 1, y + 1), normal.pixel(x, y)) << x << "," << y;
        }
    }
    EXPECT_EQ(pressed.pixelColor(10, 0), QColor(213, 213, 254));
    EXPECT_EQ(pressed.pixelColor(0, 10), QColor(213, 213, 254));
}

TEST(ButtonPicturesTest, AreSharpOnScaledScreens) {
    const ButtonPictures& pictures = PicturesFor(QStringLiteral("はい"), 2.0);
    EXPECT_EQ(pictures.normal.size(), QSize(182, 46));
    EXPECT_EQ(pictures.normal.deviceIndependentSize(), QSizeF(91, 23));
}

TEST(BitmapButtonTest, ShowsThePictureOfItsState) {
    QWidget window;
    window.resize(200, 100);
    ApplyLook(&window);
    auto* button = new BitmapButton(QStringLiteral("ｷｬﾝｾﾙ"), &window);
    auto* other = new BitmapButton(QStringLiteral("OK"), &window);
    other->move(100, 0);
    window.show();
    const ButtonPictures& pictures = PicturesFor(QStringLiteral("ｷｬﾝｾﾙ"));

    EXPECT_EQ(button->face(), BitmapButton::Face::Normal);
    EXPECT_EQ(Grab(button), Image(pictures.normal));

    // No focused picture exists: a focused button looks normal.
    button->setFocus();
    EXPECT_EQ(button->face(), BitmapButton::Face::Normal);
    EXPECT_EQ(Grab(button), Image(pictures.normal));

    QSignalSpy clicked(button, &QAbstractButton::clicked);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(button->face(), BitmapButton::Face::Pressed);
    EXPECT_EQ(Grab(button), Image(pictures.pressed));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(button->face(), BitmapButton::Face::Normal);
    EXPECT_EQ(clicked.count(), 1);

    button->setEnabled(false);
    EXPECT_EQ(button->face(), BitmapButton::Face::Disabled);
    EXPECT_EQ(Grab(button), Image(pictures.disabled));
}

TEST(BitmapButtonTest, KeepsThePicturesOfItsFirstCaption) {
    QWidget window;
    auto* button = new BitmapButton(QStringLiteral("参照"), &window);
    button->setText(QStringLiteral("ｸﾘｱ"));
    EXPECT_EQ(button->size(), QSize(43, 23));
    EXPECT_EQ(Grab(button), Image(PicturesFor(QStringLiteral("参照")).normal));
}

}  // namespace
}  // namespace mirova::ui
