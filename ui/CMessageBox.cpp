#include "ui/CMessageBox.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>

#include "ui/BitmapButton.h"
#include "ui/DialogParts.h"
#include "ui/Look.h"

namespace mirova::ui {

namespace {

constexpr int kYesNo = 4;
constexpr int kOk = 1;
constexpr int kYes = 6;
constexpr int kNo = 7;

// The icon a box shows: 133, the warning, for 0; 128 is the program's; any other id names no
// icon, and the box then shows none.
QPixmap IconFor(int helpId) {
    const int iconId = helpId != 0 ? helpId : 133;
    if (iconId == 133) {
        return WarningIcon();
    }
    if (iconId == 128) {
        return ProgramIcon();
    }
    return QPixmap();
}

bool IsEnterKey(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace

CMessageBox::CMessageBox(const QString& text, int type, int helpId, QWidget* parent)
    : QDialog(parent), type_(type == kYesNo ? kYesNo : 0) {
    SetUpDialogWindow(this, QStringLiteral("Mirova"), 187, 84);
    const DialogUnits units(DialogFont());
    const QPixmap icon = IconFor(helpId);
    if (!icon.isNull()) {
        AddStaticIcon(this, QPoint(units.x(7), units.y(7)), icon);
    }
    text_ = AddStaticText(this, units.rect(37, 13, 38, 8), QString());

    // The text is broken at word boundaries within 500 pixels; line breaks start new lines, and
    // a word wider than that widens the box.
    const QRect needed =
        QFontMetrics(DialogFont()).boundingRect(QRect(0, 0, 500, 17), Qt::TextWordWrap, text);
    text_->resize(needed.size());
    text_->setText(text);

    ok_ = new BitmapButton(QStringLiteral("OK"), this);
    yes_ = new BitmapButton(QStringLiteral("はい"), this);
    no_ = new BitmapButton(QStringLiteral("いいえ"), this);
    connect(ok_, &QAbstractButton::clicked, this, [this] { done(kOk); });
    connect(yes_, &QAbstractButton::clicked, this, [this] { done(kYes); });
    connect(no_, &QAbstractButton::clicked, this, [this] { done(kNo); });

    // The outer size of the box; until the window manager has framed it, the client area has
    // all of it.
    outerSize_ = QSize(qMax(150, text_->x() + needed.width() + 20),
                       qMax(120, text_->y() + needed.height() + 70));
    yes_->setVisible(type_ == kYesNo);
    no_->setVisible(type_ == kYesNo);
    ok_->setVisible(type_ != kYesNo);
    FitInsideFrame(QMargins());

    // No button has the focus at first, so that a stray key press answers nothing; the box
    // itself takes it and still lets Tab reach the buttons.
    setFocusPolicy(Qt::StrongFocus);
    setFocus();
    if (parent == nullptr) {
        PlaceOver(this, DefaultOwner(this));
    }
}

void CMessageBox::FitInsideFrame(const QMargins& frame) {
    const QSize client = outerSize_.shrunkBy(frame);
    if (frame == frame_ && size() == client) {
        return;
    }
    // A box already on the screen keeps its centre.
    const QSize shrink = size() - client;
    frame_ = frame;
    setFixedSize(client);
    if (isVisible()) {
        move(pos() + QPoint(shrink.width() / 2, shrink.height() / 2));
    }

    const int top = client.height() - 30;
    const int buttonWidth = yes_->width();
    const int yesLeft = (client.width() - 2 * buttonWidth - 10) / 2;
    yes_->move(yesLeft, top);
    no_->move(yesLeft + buttonWidth + 10, top);
    ok_->move((client.width() - ok_->width()) / 2, top);
}

bool CMessageBox::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    // The window manager's frame is known once the box is on the screen, and it is reported
    // with a move of the window.
    if (event->type() == QEvent::Show || event->type() == QEvent::Move) {
        const QRect outer = frameGeometry();
        const QRect inner = geometry();
        FitInsideFrame(QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                                outer.right() - inner.right(), outer.bottom() - inner.bottom()));
    }
    return handled;
}

void CMessageBox::reject() {
    // Esc: an OK box ends as if OK were pressed; a question needs an answer.
    if (type_ != kYesNo) {
        done(kOk);
    }
}

void CMessageBox::keyPressEvent(QKeyEvent* event) {
    // The keypad's Enter carries the keypad modifier and answers the box like the main one.
    if (IsEnterKey(event->key()) && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (type_ != kYesNo) {
            done(kOk);
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CMessageBox::closeEvent(QCloseEvent* event) {
    if (type_ == kYesNo) {
        event->ignore();
        return;
    }
    done(kOk);
    event->accept();
}

}  // namespace mirova::ui
