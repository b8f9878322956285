#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "ui/CMessageBox.h"

namespace mirova::ui {

namespace {

constexpr int kIconSize = 32;

QPixmap* warningIcon = nullptr;
QPixmap* programIcon = nullptr;

// The icons are drawn once; they go with the application object, before Qt's own clean-up.
void ReleaseIcons() {
    delete warningIcon;
    warningIcon = nullptr;
    delete programIcon;
    programIcon = nullptr;
}

QPixmap BlankIcon() {
    const qreal ratio = qApp != nullptr ? qApp->devicePixelRatio() : 1.0;
    QPixmap icon(QSize(kIconSize, kIconSize) * ratio);
    icon.setDevicePixelRatio(ratio);
    icon.fill(Qt::transparent);
    return icon;
}

QPixmap* Keep(QPixmap icon) {
    static bool registered = false;
    if (!registered) {
        qAddPostRoutine(ReleaseIcons);
        registered = true;
    }
    return new QPixmap(std::move(icon));
}

QPixmap DrawWarning() {
    QPixmap icon = BlankIcon();
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath triangle;
    triangle.moveTo(16, 2.5);
    triangle.lineTo(30.5, 28.5);
    triangle.lineTo(1.5, 28.5);
    triangle.closeSubpath();
    painter.setPen(QPen(QColor(0, 0, 0), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(QColor(255, 221, 0));
    painter.drawPath(triangle);
    // The exclamation mark: a bar narrowing downwards and a dot.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0));
    QPainterPath bar;
    bar.moveTo(13.8, 10);
    bar.lineTo(18.2, 10);
    bar.lineTo(17, 21);
    bar.lineTo(15, 21);
    bar.closeSubpath();
    painter.drawPath(bar);
    painter.drawEllipse(QRectF(14.3, 22.3, 3.4, 3.4));
    return icon;
}

void DrawFolder(QPainter& painter, const QRectF& body, const QColor& fill, const QColor& edge) {
    QPainterPath folder;
    folder.moveTo(body.left(), body.top() - 2.5);
    folder.lineTo(body.left() + body.width() * 0.4, body.top() - 2.5);
    folder.lineTo(body.left() + body.width() * 0.4 + 2.5, body.top());
    folder.lineTo(body.right(), body.top());
    folder.lineTo(body.right(), body.bottom());
    folder.lineTo(body.left(), body.bottom());
    folder.closeSubpath();
    painter.setPen(QPen(edge, 1.0));
    painter.setBrush(fill);
    painter.drawPath(folder);
}

void DrawArrow(QPainter& painter, QPointF from, QPointF to) {
    painter.drawLine(from, to);
    const qreal head = to.x() > from.x() ? -3.5 : 3.5;
    painter.drawLine(to, to + QPointF(head, -3.5));
    painter.drawLine(to, to + QPointF(head, 3.5));
}

QPixmap DrawProgram() {
    QPixmap icon = BlankIcon();
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    // The source folder behind, the target folder in front, and the two directions of a run.
    DrawFolder(painter, QRectF(1.5, 5.5, 19, 14), QColor(102, 102, 204), QColor(7, 54, 156));
    DrawFolder(painter, QRectF(10.5, 14.5, 20, 15), QColor(255, 204, 72), QColor(140, 90, 0));
    painter.setPen(QPen(QColor(7, 54, 156), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    DrawArrow(painter, QPointF(14.5, 19.5), QPointF(26.5, 19.5));
    DrawArrow(painter, QPointF(26.5, 25.5), QPointF(14.5, 25.5));
    return icon;
}

}  // namespace

QPixmap WarningIcon() {
    if (warningIcon == nullptr) {
        warningIcon = Keep(DrawWarning());
    }
    return *warningIcon;
}

QPixmap ProgramIcon() {
    if (programIcon == nullptr) {
        programIcon = Keep(DrawProgram());
    }
    return *programIcon;
}

}  // namespace mirova::ui
