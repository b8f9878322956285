// Renders the windows of the desktop program itself (the main dialog and the schedule window)
// into PNG files, without a display and without touching the user's settings:
//   QT_QPA_PLATFORM=offscreen mirova_app_screenshots FOLDER
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>

#include "app/CMirovaApp.h"
#include "app/CMirovaDlg.h"
#include "app/ScheduleDlg.h"
#include "settings/SettingsStore.h"

namespace {

using namespace mirova;

bool Save(QWidget* window, const QDir& folder, const QString& name) {
    window->show();
    QApplication::processEvents();
    const QString path = folder.filePath(name);
    const bool saved = window->grab().save(path, "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    window->hide();
    return saved;
}

// A store as a user's might look: a few presets, one of them a merge.
void FillStore(SettingsStore& store) {
    store.WriteText("Settings", "P1CAPTION",
                    "写真とビデオのバックアップ\n外付けディスク (USB) へ毎晩同期します。\n"
                    "除外リスト: サムネイルと一時ファイル");
    store.WriteText("Settings", "P1SRCFOLDER", "/home/user/写真");
    store.WriteText("Settings", "P1TARFOLDER", "/media/user/BACKUP/写真");
    store.WriteInt("Settings", "P1EXCLUSIONSW", 1);
    store.WriteText("Settings", "P7CAPTION", "ノート PC とデスクトップの書類を相互にマージ");
    store.WriteText("Settings", "P7SRCFOLDER", "/home/user/書類");
    store.WriteText("Settings", "P7TARFOLDER", "/mnt/desktop/home/user/書類");
    store.WriteInt("Settings", "P7MARGESW", 1);
    store.WriteInt("Settings", "PRESETNO", 0);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    bool ok = true;
    CMirovaApp mirova;
    MemorySettingsStore store;
    FillStore(store);
    {
        CMirovaDlg dialog(mirova, store);
        ok = Save(&dialog, folder, QStringLiteral("main.png")) && ok;
        dialog.SelectPreset(6);
        ok = Save(&dialog, folder, QStringLiteral("main-merge.png")) && ok;
    }
    {
        ScheduleDlg schedule(1, QStringLiteral("/usr/local/bin/mirova"));
        ok = Save(&schedule, folder, QStringLiteral("schedule.png")) && ok;
    }
    return ok ? 0 : 1;
}
