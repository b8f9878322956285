#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdlib>
#include <deque>
#include <functional>
#include <ostream>
#include <utility>
#include <vector>

namespace mirova::test {

// What a widget shows, rendered as it would be on the screen.
inline QImage Grab(QWidget* widget) {
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Whether any pixel inside the area has the colour (within a tolerance per channel).
inline bool HasPixelNear(const QImage& image, const QRect& area, const QColor& colour,
                         int tolerance = 0) {
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) <= tolerance &&
                std::abs(pixel.green() - colour.green()) <= tolerance &&
                std::abs(pixel.blue() - colour.blue()) <= tolerance) {
                return true;
            }
        }
    }
    return false;
}

// Answers a dialog's questions (text and box type in, pressed button out) from a script and
// records them; a question the script has no answer for fails the test.
struct ScriptedAsker {
    std::deque<int> answers;
    std::vector<std::pair<QString, int>> asked;

    std::function<int(const QString& text, int type)> fn() {
        return [this](const QString& text, int type) {
            asked.emplace_back(text, type);
            if (answers.empty()) {
                ADD_FAILURE() << "unexpected question: " << text.toStdString();
                return type == 4 ? 7 : 1;  // No, or OK
            }
            const int answer = answers.front();
            answers.pop_front();
            return answer;
        };
    }
};

}  // namespace mirova::test

// Readable failure messages for the Qt values the tests compare (found by argument lookup).
inline void PrintTo(const QColor& colour, std::ostream* out) {
    *out << colour.name().toStdString();
}
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
