#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QString>

namespace mirova::ui {

// The pictures of one command button, found by its caption: normal ("U"), pressed ("D") and
// disabled ("X"). A focused button shows the normal picture.
struct ButtonPictures {
    QPixmap normal;
    QPixmap pressed;
    QPixmap disabled;
};

// The size of a caption's pictures: 91 x 23 pixels, "参照" 43 x 23, the swap button 160 x 23.
QSize ButtonPictureSize(const QString& caption);
// Draws (once per caption and screen scale, then cached) the pictures of a caption: a rounded
// rectangle with a dark blue border, filled, with the caption in white; pressed moved one pixel
// right and down; disabled grey.
const ButtonPictures& PicturesFor(const QString& caption, qreal devicePixelRatio = 1.0);

// A push button drawn from its caption's pictures and sized to them, keeping its top-left
// corner. The pictures of the caption it was made with stay, whatever its text becomes later.
class BitmapButton : public QAbstractButton {
    Q_OBJECT
public:
    BitmapButton(const QString& caption, QWidget* parent);
    QSize sizeHint() const override;

    // The picture the button shows in its present state (tests).
    enum class Face { Normal, Pressed, Disabled };
    Face face() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString pictureCaption_;
};

}  // namespace mirova::ui
