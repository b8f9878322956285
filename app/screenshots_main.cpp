// Renders the windows of the desktop program itself (the main dialog and the schedule window)
// into PNG files, without a display and without touching the user's settings:
//   QT_QPA_PLATFORM=offscreen mirova_app_screenshots FOLDER
#include <QApplication>
#include <QDir>

#include "app/CMirovaApp.h"
#include "app/CMirovaDlg.h"
#include "app/ScheduleDlg.h"
#include "settings/SettingsStore.h"
#include "ui/screenshots/ScreenshotTool.h"

namespace {

using namespace mirova;
using mirova::screenshots::Save;

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
    QDir folder;
    if (const int status = mirova::screenshots::PrepareOutputFolder(argc, argv, folder);
        status != 0) {
        return status;
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
