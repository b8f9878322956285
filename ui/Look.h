#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace mirova::ui {

// The one background colour of the program's own windows, and the colour of label texts.
inline const QColor kLookBackground{210, 210, 255};
inline const QColor kLookText{0, 0, 0};

// Gives a window of the program the look: the background colour behind every label, check box
// and group box and inside its read-only edit fields, black label text, white editable fields
// and list views, and the dialog font. Controls made after the call get it too.
void ApplyLook(QWidget* window);

// The dialog font: 9 points of a Japanese proportional font (the templates name
// "ＭＳ Ｐゴシック"; Noto Sans CJK JP stands in for it where that is missing).
QFont DialogFont();

// Converts template coordinates given in dialog units into pixels for a font, the way dialog
// units are defined: horizontally a quarter of the font's average character width, vertically
// an eighth of the height of its characters (not of its line, which is taller in a Japanese
// font). Every window built from a template uses one of these, so that it keeps the
// proportions of its template. A text control needs a line of the font for each line of text
// (see AddStaticText).
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    int x(int units) const;
    int y(int units) const;
    QRect rect(int left, int top, int width, int height) const;
    QSize size(int width, int height) const;

    int baseWidth() const { return baseWidth_; }
    int baseHeight() const { return baseHeight_; }

private:
    int baseWidth_;
    int baseHeight_;
};

}  // namespace mirova::ui
