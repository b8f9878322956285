#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <utility>

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

TEST(BitmapButtonTest, TakesTheSizeOfItsPicturesWhateverTheWindowGivesIt) {
    const std::pair<const char*, QSize> rows[] = {
        {"ｷｬﾝｾﾙ", {91, 23}}, {"参照", {43, 23}}, {"ｿｰｽ・ﾀｰｹﾞｯﾄの入れ替え", {160, 23}}};
    for (const auto& [text, size] : rows) {
        SCOPED_TRACE(text);
        const QString caption = QString::fromUtf8(text);
        QWidget window;
        auto* button = new BitmapButton(caption, &window);
        EXPECT_EQ(button->sizeHint(), size);
        // A template's size only moves the button; its top-left corner stays.
        button->setGeometry(12, 34, 75, 14);
        EXPECT_EQ(button->geometry(), QRect(QPoint(12, 34), size));
        EXPECT_EQ(PicturesFor(caption).normal.size(), size);
    }
}

TEST(ButtonPicturesTest, AreDrawnToTheDesignOnlyOnceAndSharpOnScaledScreens) {
    const QString caption = QStringLiteral("OK");
    const ButtonPictures& pictures = PicturesFor(caption);
    EXPECT_EQ(&pictures, &PicturesFor(caption));

    const QImage normal = Image(pictures.normal);
    const int middle = normal.height() / 2;
    EXPECT_EQ(normal.pixelColor(0, 0), QColor(213, 213, 254));  // outside the rounded corner
    EXPECT_EQ(normal.pixelColor(0, middle), QColor(7, 54, 156));
    EXPECT_EQ(normal.pixelColor(4, middle), QColor(102, 102, 204));
    EXPECT_TRUE(HasPixelNear(normal, normal.rect(), QColor(255, 255, 255), 8));

    const QImage disabled = Image(pictures.disabled);
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

    const ButtonPictures& sharp = PicturesFor(QStringLiteral("はい"), 2.0);
    EXPECT_EQ(sharp.normal.size(), QSize(182, 46));
    EXPECT_EQ(sharp.normal.deviceIndependentSize(), QSizeF(91, 23));
}

TEST(BitmapButtonTest, ShowsThePictureOfItsStateAndKeepsThePicturesOfItsFirstCaption) {
    QWidget window;
    window.resize(200, 100);
    ApplyLook(&window);
    auto* button = new BitmapButton(QStringLiteral("ｷｬﾝｾﾙ"), &window);
    auto* other = new BitmapButton(QStringLiteral("OK"), &window);
    other->move(100, 0);
    window.show();
    const ButtonPictures& pictures = PicturesFor(QStringLiteral("ｷｬﾝｾﾙ"));

    // No focused picture exists: a focused button looks normal.
    button->setFocus();
    EXPECT_EQ(button->face(), BitmapButton::Face::Normal);
    EXPECT_EQ(Grab(button), Image(pictures.normal));

    QSignalSpy clicked(button, &QAbstractButton::clicked);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(Grab(button), Image(pictures.pressed));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(clicked.count(), 1);

    button->setText(QStringLiteral("参照"));
    EXPECT_EQ(button->size(), QSize(91, 23));
    EXPECT_EQ(Grab(button), Image(pictures.normal));

    button->setEnabled(false);
    EXPECT_EQ(Grab(button), Image(pictures.disabled));
}

}  // namespace
}  // namespace mirova::ui
