#include <QCoreApplication>
#include <QFont>
#include <QPainter>
#include <map>
#include <utility>

#include "ui/BitmapButton.h"
#include "ui/Look.h"

namespace mirova::ui {

namespace {

const QColor kCorner{213, 213, 254};
const QColor kBorder{7, 54, 156};
const QColor kFill{102, 102, 204};
const QColor kCaption{255, 255, 255};
const QColor kDisabledBorder{0, 0, 0};
const QColor kDisabledFill{134, 134, 134};
const QColor kDisabledCaption{204, 204, 204};
constexpr qreal kCornerRadius = 4.0;

// The pictures are pixel-exact images of a fixed size, so their captions use the dialog font at
// its size on a 96 dpi screen (12 pixels), whatever the screen's logical resolution is.
QFont CaptionFont() {
    QFont font = DialogFont();
    font.setPixelSize(12);
    return font;
}

QPixmap BlankPicture(QSize size, qreal devicePixelRatio) {
    QPixmap picture(size * devicePixelRatio);
    picture.setDevicePixelRatio(devicePixelRatio);
    picture.fill(kCorner);
    return picture;
}

QPixmap DrawFace(const QString& caption, QSize size, qreal devicePixelRatio, const QColor& border,
                 const QColor& fill, const QColor& text) {
    QPixmap picture = BlankPicture(size, devicePixelRatio);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // A one-pixel border on the pixel grid: the straight edges stay sharp, only the corners blend.
    painter.setPen(QPen(border, 1.0));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(0.5, 0.5, size.width() - 1.0, size.height() - 1.0),
                            kCornerRadius, kCornerRadius);
    painter.setFont(CaptionFont());
    painter.setPen(text);
    painter.drawText(QRectF(0, 0, size.width(), size.height()), Qt::AlignCenter, caption);
    return picture;
}

ButtonPictures DrawPictures(const QString& caption, qreal devicePixelRatio) {
    const QSize size = ButtonPictureSize(caption);
    ButtonPictures pictures;
    pictures.normal = DrawFace(caption, size, devicePixelRatio, kBorder, kFill, kCaption);
    // Pressed: the normal picture moved one pixel right and down.
    pictures.pressed = BlankPicture(size, devicePixelRatio);
    {
        QPainter painter(&pictures.pressed);
        painter.drawPixmap(QPointF(1, 1), pictures.normal);
    }
    pictures.disabled =
        DrawFace(caption, size, devicePixelRatio, kDisabledBorder, kDisabledFill, kDisabledCaption);
    return pictures;
}

using PictureCache = std::map<std::pair<QString, qreal>, ButtonPictures>;
PictureCache* pictureCache = nullptr;

// The pictures go with the application object, before Qt's own clean-up.
void ReleasePictures() {
    delete pictureCache;
    pictureCache = nullptr;
}

}  // namespace

QSize ButtonPictureSize(const QString& caption) {
    if (caption == QStringLiteral("参照")) {
        return QSize(43, 23);
    }
    if (caption == QStringLiteral("ｿｰｽ・ﾀｰｹﾞｯﾄの入れ替え")) {
        return QSize(160, 23);
    }
    return QSize(91, 23);
}

const ButtonPictures& PicturesFor(const QString& caption, qreal devicePixelRatio) {
    // Used from the GUI thread only, where pixmaps live. std::map keeps references stable.
    if (pictureCache == nullptr) {
        pictureCache = new PictureCache;
        qAddPostRoutine(ReleasePictures);
    }
    const auto key = std::make_pair(caption, devicePixelRatio);
    auto found = pictureCache->find(key);
    if (found == pictureCache->end()) {
        found = pictureCache->emplace(key, DrawPictures(caption, devicePixelRatio)).first;
    }
    return found->second;
}

}  // namespace mirova::ui
