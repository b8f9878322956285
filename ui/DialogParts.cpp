#include "ui/DialogParts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDialog>
#include <QFontMetricsF>
#include <QLabel>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <QtMath>

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
    // A template gives a text eight units a line; the font's lines are taller than that, so the
    // text grows down to hold as many whole lines as its template does, each line whole pixels
    // high as the text layout places them.
    const int lineUnits = DialogUnits(window->font()).y(8);
    const int lines = qMax(1, geometry.height() / qMax(1, lineUnits));
    QRect grown = geometry;
    grown.setHeight(
        qMax(geometry.height(), lines * qCeil(QFontMetricsF(window->font()).lineSpacing())));
    label->setGeometry(grown);
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

// "１" to "９" in full-width digits, then "10" to "30", as the template labels the buttons.
QString PresetButtonText(int index) {
    if (index < 9) {
        return QString(QChar(static_cast<char16_t>(u'１' + index)));
    }
    return QString::number(index + 1);
}

// Captions from a preset data file of the Windows program break lines with CR LF; the caption
// field shows line breaks, not stray carriage returns.
QString CaptionText(const std::string& caption) {
    QString text = QString::fromStdString(caption);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

// The application's palette with every colour set on its own, so that it wins over the look
// that the dialog passes down to its children.
QPalette StandardPalette() {
    const QPalette standard = QApplication::palette();
    QPalette palette = standard;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto colorRole = static_cast<QPalette::ColorRole>(role);
            if (colorRole == QPalette::NoRole) {
                continue;
            }
            palette.setBrush(group, colorRole, standard.brush(group, colorRole));
        }
    }
    return palette;
}

// Widens a control to its preferred width; when that would pass rightLimit, it keeps its
// right edge there and moves left instead.
void FitToText(QWidget* widget, int rightLimit) {
    const int wanted = widget->sizeHint().width();
    if (wanted <= widget->width()) {
        return;
    }
    QRect geometry = widget->geometry();
    geometry.setWidth(wanted);
    if (geometry.right() >= rightLimit) {
        geometry.moveRight(rightLimit - 1);
    }
    widget->setGeometry(geometry);
}

QMenuBar* AddStandardMenuBar(QWidget* window) {
    auto* menuBar = new QMenuBar(window);
    menuBar->setNativeMenuBar(false);
    menuBar->setAutoFillBackground(true);
    menuBar->setPalette(StandardPalette());
    menuBar->setFont(QApplication::font());
    return menuBar;
}

std::array<QAbstractButton*, 30> AddPresetButtons(
    QWidget* window, QButtonGroup* group,
    const std::function<QRect(int left, int top, int width, int height)>& templateRect) {
    std::array<QAbstractButton*, 30> buttons{};
    group->setExclusive(true);
    for (int index = 0; index < static_cast<int>(buttons.size()); ++index) {
        auto* button = new QPushButton(PresetButtonText(index), window);
        button->setCheckable(true);
        button->setAutoDefault(false);
        button->setGeometry(templateRect(23 + 25 * (index % 10), 221 + 24 * (index / 10), 24, 22));
        group->addButton(button, index);
        buttons[static_cast<std::size_t>(index)] = button;
    }
    return buttons;
}

}  // namespace mirova::ui
