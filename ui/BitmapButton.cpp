#include "ui/BitmapButton.h"

#include <QPainter>

namespace mirova::ui {

BitmapButton::BitmapButton(const QString& caption, QWidget* parent)
    : QAbstractButton(parent), pictureCaption_(caption) {
    setText(caption);
    // The size of the pictures wins over any size a window later gives the button; setGeometry
    // then only moves it.
    setFixedSize(ButtonPictureSize(caption));
    setFocusPolicy(Qt::StrongFocus);
    // Drawn now, while the window is built, rather than on the first paint.
    PicturesFor(pictureCaption_, devicePixelRatio());
}

QSize BitmapButton::sizeHint() const {
    return ButtonPictureSize(pictureCaption_);
}

BitmapButton::Face BitmapButton::face() const {
    // There is no focused picture: a focused button shows the normal one.
    if (isDown()) {
        return Face::Pressed;
    }
    if (!isEnabled()) {
        return Face::Disabled;
    }
    return Face::Normal;
}

void BitmapButton::paintEvent(QPaintEvent*) {
    const ButtonPictures& pictures = PicturesFor(pictureCaption_, devicePixelRatio());
    const QPixmap* picture = &pictures.normal;
    switch (face()) {
        case Face::Pressed:
            picture = &pictures.pressed;
            break;
        case Face::Disabled:
            picture = &pictures.disabled;
            break;
        case Face::Normal:
            break;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, *picture);
}

}  // namespace mirova::ui
