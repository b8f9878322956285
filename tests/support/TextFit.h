#pragma once

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>

namespace mirova::test {

// The texts of a window that do not fit the controls showing them, each named with its control
// and that control's size: labels (with their word wrap), check boxes and radio buttons,
// push buttons, group box titles, and edit fields too low for a line of their font. Header-only,
// so that the tests of the main dialog share it.
inline QStringList ClippedTexts(const QWidget* window) {
    QStringList clipped;
    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->isHidden()) {
            continue;
        }
        const QFontMetrics metrics(widget->font());
        QString text;
        bool fits = true;
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            text = label->text();
            const int flags =
                static_cast<int>(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
            fits = text.isEmpty() || label->contentsRect().contains(
                                         metrics.boundingRect(label->contentsRect(), flags, text));
        } else if (qobject_cast<const QCheckBox*>(widget) != nullptr ||
                   qobject_cast<const QRadioButton*>(widget) != nullptr) {
            text = static_cast<const QAbstractButton*>(widget)->text();
            fits = widget->sizeHint().width() <= widget->width() &&
                   metrics.height() <= widget->height();
        } else if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
            text = button->text();
            QStyleOptionButton option;
            option.initFrom(button);
            const QRect inside =
                button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            fits = metrics.horizontalAdvance(text) <= inside.width() &&
                   metrics.height() <= inside.height();
        } else if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
            text = group->title();
            fits = metrics.horizontalAdvance(text) <= group->width() &&
                   metrics.height() <= group->height();
        } else if (const auto* field = qobject_cast<const QLineEdit*>(widget)) {
            text = field->text();
            // A spin box's field has no frame of its own: a line of the font is what it needs.
            fits = qobject_cast<const QAbstractSpinBox*>(field->parentWidget()) != nullptr
                       ? metrics.height() <= field->height()
                       : field->minimumSizeHint().height() <= field->height();
        }
        if (!fits) {
            clipped << QStringLiteral("%1 \"%2\" %3 x %4")
                           .arg(QString::fromLatin1(widget->metaObject()->className()), text)
                           .arg(widget->width())
                           .arg(widget->height());
        }
    }
    return clipped;
}

}  // namespace mirova::test
