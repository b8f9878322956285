#include "ui/Look.h"

#include <QApplication>
#include <QChildEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QStringList>
#include <QStyleOption>
#include <QTextEdit>
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

// Fusion fills the inside of a group box frame with a faint shade of black, which turns the
// window's colour into a second one there. The frame is drawn aside and everything nearly
// transparent in it dropped, so that only its line remains and the window shows through.
class GroupBoxStyle final : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_FrameGroupBox || option->rect.isEmpty()) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const qreal ratio =
            painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
        QImage frame((QSizeF(option->rect.size()) * ratio).toSize(),
                     QImage::Format_ARGB32_Premultiplied);
        frame.setDevicePixelRatio(ratio);
        frame.fill(Qt::transparent);
        {
            QPainter framePainter(&frame);
            framePainter.translate(-option->rect.topLeft());
            QProxyStyle::drawPrimitive(element, option, &framePainter, widget);
        }
        constexpr int kShadeAlpha = 24;  // the shade is a few percent; the line is far darker
        for (int y = 0; y < frame.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(frame.scanLine(y));
            for (int x = 0; x < frame.width(); ++x) {
                if (qAlpha(line[x]) < kShadeAlpha) {
                    line[x] = 0;
                }
            }
        }
        painter->drawImage(option->rect.topLeft(), frame);
    }
};

QStyle* GroupBoxLook() {
    static QStyle* style = [] {
        auto* made = new GroupBoxStyle;
        made->setParent(qApp);
        return made;
    }();
    return style;
}

bool IsReadOnlyEdit(const QWidget* widget) {
    if (const auto* line = qobject_cast<const QLineEdit*>(widget)) {
        return line->isReadOnly();
    }
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(widget)) {
        return plain->isReadOnly();
    }
    if (const auto* rich = qobject_cast<const QTextEdit*>(widget)) {
        return rich->isReadOnly();
    }
    return false;
}

bool IsEdit(const QWidget* widget) {
    return qobject_cast<const QLineEdit*>(widget) != nullptr ||
           qobject_cast<const QPlainTextEdit*>(widget) != nullptr ||
           qobject_cast<const QTextEdit*>(widget) != nullptr;
}

// A field the user cannot type into is a static text with a frame: it takes the window's
// colours, black text on the background colour; a field that can be typed into stays white.
void ColourEdit(QWidget* edit) {
    QPalette palette = edit->palette();
    const QPalette window =
        edit->parentWidget() != nullptr ? edit->parentWidget()->palette() : QApplication::palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setBrush(
            group, QPalette::Base,
            IsReadOnlyEdit(edit) ? QBrush(kLookBackground) : window.brush(group, QPalette::Base));
    }
    edit->setPalette(palette);
}

// Gives each control of a window the colours it asks for, as the window answers them: group
// boxes without a shade of their own, read-only fields in the window's colours, also when a
// field changes between read-only and editable later.
class LookKeeper final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ChildPolished) {
            auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child());
            if (auto* box = qobject_cast<QGroupBox*>(child);
                box != nullptr && box->style() != GroupBoxLook()) {
                box->setStyle(GroupBoxLook());
            } else if (child != nullptr && IsEdit(child)) {
                child->installEventFilter(this);  // once, however often it is polished
                ColourEdit(child);
            }
        } else if (event->type() == QEvent::ReadOnlyChange && watched->isWidgetType()) {
            ColourEdit(static_cast<QWidget*>(watched));
        }
        return QObject::eventFilter(watched, event);
    }
};

// Kanji, kana and half-width kana of the windows' texts: together as tall as any text they show.
const QString kTallestTexts = QStringLiteral("ｱｯﾌﾟﾃﾞｰﾄ実行除外リストを有効にするファイル作成中");

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
    window->installEventFilter(new LookKeeper(window));
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
    // The templates were laid out for a font whose height is its character height. A Japanese
    // font's line also holds room above and below for other scripts (17 pixels where the
    // characters take 14 at 9 points), and taking the line would stretch every window by that.
    // The height of the characters the windows show keeps the templates' proportions.
    const int glyphs = metrics.tightBoundingRect(kTallestTexts).height();
    baseHeight_ = glyphs > 0 ? qMin(glyphs, metrics.height()) : metrics.height();
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
