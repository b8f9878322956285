#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <deque>
#include <functional>
#include <ostream>
#include <utility>
#include <vector>

class QDialog;
class QWidget;

namespace mirova::test {

// What a widget shows, rendered as it would be on the screen.
QImage Grab(QWidget* widget);

// Whether any pixel inside the area has the colour (within a tolerance per channel).
bool HasPixelNear(const QImage& image, const QRect& area, const QColor& colour, int tolerance = 0);

// Runs a modal dialog; the script runs inside its event loop. A dialog still open long after the
// script ended is closed with -1, so that a fault fails the test instead of hanging it.
int ExecWith(QDialog& dialog, const std::function<void()>& script);

// Answers a dialog's questions (text and box type in, pressed button out) from a script and
// records them; a question the script has no answer for fails the test.
struct ScriptedAsker {
    std::deque<int> answers;
    std::vector<std::pair<QString, int>> asked;

    std::function<int(const QString& text, int type)> fn();
};

}  // namespace mirova::test

// Readable failure messages for the Qt values the tests compare (found by argument lookup).
inline void PrintTo(const QColor& colour, std::ostream* out) {
    *out << colour.name().toStdString();
}
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
