#include "ui/Look.h"

#include <QFontMetrics>
#include <QPalette>
#include <QStringList>
#include <QWidget>

namespace mirova::ui {

namespace {

// Windows' MulDiv: a * b / c computed wide and rounded half away from zero.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    const long long rounded = product >= 0 ? (product + half) / c : (product - half) / c;
    return static_cast<int>(rounded);
}

}  // namespace

void ApplyLook(QWidget* window) {
    QPalette palette = window->palette();
    // Labels, check boxes, radio buttons and group boxes draw no background of their own, so
    // the window's colour shows behind their texts.
    palette.setColor(QPalette::Window, kLookBackground);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, kLookText);
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::Text, kLookText);
    }
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    window->setFont(DialogFont());
}

QFont DialogFont() {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("Noto Sans CJK JP")});
    font.setPointSize(9);
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width of the 52 Latin letters, rounded the way the dialog manager does.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseWidth_ = (letters / 26 + 1) / 2;
    baseHeight_ = metrics.height();
}

int DialogUnits::x(int units) const {
    return MulDiv(units, baseWidth_, 4);
}

int DialogUnits::y(int units) const {
    return MulDiv(units, baseHeight_, 8);
}

QRect DialogUnits::rect(int left, int top, int width, int height) const {
    return QRect(x(left), y(top), x(width), y(height));
}

QSize DialogUnits::size(int width, int height) const {
    return QSize(x(width), y(height));
}

}  // namespace mirova::ui
