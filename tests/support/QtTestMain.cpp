// The main of the GUI test binaries: they share one application object, created before any test
// runs.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    // The tests grab pixels and need no display; test discovery runs without the environment
    // that CTest gives the tests themselves.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
