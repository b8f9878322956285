#pragma once
// What the two screenshot tools (this folder's and the desktop program's) share: the output
// folder from the command line and the saving of one window's picture.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>
#include <cstdio>

namespace mirova::screenshots {

// The folder named by the only argument, created if need be. Returns 0 when it is ready,
// otherwise the exit status after telling why.
inline int PrepareOutputFolder(int argc, char** argv, QDir& folder) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    folder = QDir(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    return 0;
}

// Shows the window, saves its picture as folder/name and hides it again.
inline bool Save(QWidget* window, const QDir& folder, const QString& name) {
    window->show();
    QApplication::processEvents();
    const QString path = folder.filePath(name);
    const bool saved = window->grab().save(path, "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    window->hide();
    return saved;
}

}  // namespace mirova::screenshots
