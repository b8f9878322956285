#include "UiTesting.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdlib>

namespace mirova::test {

QImage Grab(QWidget* widget) {
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool HasPixelNear(const QImage& image, const QRect& area, const QColor& colour, int tolerance) {
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

int ExecWith(QDialog& dialog, const std::function<void()>& script) {
    QPointer<QDialog> guarded(&dialog);
    QTimer::singleShot(0, &dialog, script);
    QTimer::singleShot(20000, &dialog, [guarded] {
        if (guarded != nullptr && guarded->isVisible()) {
            guarded->done(-1);
        }
    });
    return dialog.exec();
}

std::function<int(const QString&, int)> ScriptedAsker::fn() {
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

}  // namespace mirova::test
