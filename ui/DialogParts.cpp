#include "ui/DialogParts.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include "ui/Look.h"

namespace mirova::ui {

void SetUpDialogWindow(QDialog* dialog, const QString& caption, int widthUnits, int heightUnits) {
    ApplyLook(dialog);
    // A caption, the system menu and the close box; no minimise, maximise or help buttons.
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    dialog->setWindowTitle(caption);
    dialog->setFixedSize(DialogUnits(DialogFont()).size(widthUnits, heightUnits));
}

QLabel* AddStaticText(QWidget* window, const QRect& geometry, const QString& text) {
    auto* label = new QLabel(window);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    label->setGeometry(geometry);
    label->setText(text);
    return label;
}

QLabel* AddStaticIcon(QWidget* window, QPoint topLeft, const QPixmap& icon) {
    auto* label = new QLabel(window);
    label->setPixmap(icon);
    label->setGeometry(QRect(topLeft, icon.deviceIndependentSize().toSize()));
    return label;
}

QWidget* DefaultOwner(const QWidget* newWindow) {
    QWidget* active = QApplication::activeWindow();
    if (active != nullptr && active != newWindow) {
        return active;
    }
    for (QWidget* candidate : QApplication::topLevelWidgets()) {
        if (candidate != newWindow && candidate->isVisible() &&
            candidate->windowType() != Qt::ToolTip && candidate->windowType() != Qt::Popup) {
            return candidate;
        }
    }
    return nullptr;
}

void PlaceOver(QWidget* window, QWidget* owner, Placement placement) {
    QWidget* ownerWindow = owner != nullptr ? owner->window() : nullptr;
    if (ownerWindow != nullptr && window->parentWidget() == nullptr) {
        window->winId();  // creates the native window, so that it can name its owner
        if (ownerWindow->windowHandle() != nullptr) {
            window->windowHandle()->setTransientParent(ownerWindow->windowHandle());
        }
    }
    QScreen* screen = ownerWindow != nullptr ? ownerWindow->screen() : window->screen();
    if (screen == nullptr) {
        screen = QApplication::primaryScreen();
    }
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect();
    const bool overOwner =
        placement == Placement::OverOwner && ownerWindow != nullptr && ownerWindow->isVisible();
    const QPoint centre = overOwner ? ownerWindow->frameGeometry().center() : area.center();
    QPoint topLeft = centre - QPoint(window->width() / 2, window->height() / 2);
    if (area.isValid()) {
        topLeft.setX(
            qBound(area.left(), topLeft.x(), qMax(area.left(), area.right() - window->width())));
        topLeft.setY(
            qBound(area.top(), topLeft.y(), qMax(area.top(), area.bottom() - window->height())));
    }
    window->move(topLeft);
}

}  // namespace mirova::ui
