// Renders the windows of the desktop program itself (the main dialog, the schedule window and
// the days of kept versions) into PNG files, without a display and without touching the user's
// settings:
//   QT_QPA_PLATFORM=offscreen mirova_app_screenshots FOLDER
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include "app/desktop/CMirovaApp.h"
#include "app/desktop/CMirovaDlg.h"
#include "app/desktop/KeepVersionsDlg.h"
#include "app/desktop/PresetDataCommands.h"
#include "app/desktop/QtTranslation.h"
#include "app/desktop/ScheduleDlg.h"
#include "fileops/MessageBox.h"
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

// Shows a box through the program's routing, saves it as it stands and closes it.
bool SaveBox(CMirovaApp& mirova, const QString& text, int type, const QDir& folder,
             const QString& name) {
    bool saved = false;
    QTimer::singleShot(0, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            saved = Save(box, folder, name);
            box->close();
        }
    });
    mirova.DoMessageBox(text, type);
    return saved;
}

// Qt's own dialogs as the program opens them, at a folder of made-up content: the folder
// picker (a folder of a preset) and the file dialog of the preset data. The listing fills in
// the background, so the picture waits for it.
bool SaveFileDialogs(const QDir& folder) {
    QTemporaryDir home;
    if (!home.isValid()) {
        return false;
    }
    const QDir root(home.path());
    for (const char* name : {"写真", "書類", "音楽", "Projects"}) {
        root.mkpath(QString::fromUtf8(name));
    }
    QFile(root.filePath(QStringLiteral("Preset.dat"))).open(QIODevice::WriteOnly);
    auto settle = [] {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 700) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
    };
    bool ok = true;
    {
        QFileDialog picker(nullptr, QStringLiteral("ｿｰｽﾌｫﾙﾀﾞを選択してください。"), root.path());
        picker.setFileMode(QFileDialog::Directory);
        picker.setOption(QFileDialog::ShowDirsOnly);
        picker.resize(620, 400);
        picker.show();
        settle();
        ok = Save(&picker, folder, QStringLiteral("folder-picker.png")) && ok;
    }
    {
        QFileDialog files(nullptr, QStringLiteral("ﾌﾟﾘｾｯﾄﾃﾞｰﾀ読込み"), root.path());
        PreparePresetFileDialog(files, PresetFileDialog::Open);
        files.resize(620, 400);
        files.show();
        settle();
        ok = Save(&files, folder, QStringLiteral("file-dialog.png")) && ok;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    InstallQtTranslation(app);
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
    {
        KeepVersionsDlg keep(30);
        ok = Save(&keep, folder, QStringLiteral("keep-versions.png")) && ok;
    }
    // The deletion brake's question (No is the default) and a refused pair of folders.
    ok = SaveBox(mirova,
                 QStringLiteral("ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ /media/user/BACKUP/写真 の 100 個のﾌｧｲﾙのうち 60 個 "
                                "(60%) が削除されます。(上限 50%)\n本当に削除してよろしいですか？"),
                 kMbYesNo | kMbDefaultButton2 | kMbIconWarning, folder,
                 QStringLiteral("brake.png")) &&
         ok;
    ok = SaveBox(mirova,
                 QStringLiteral("ｿｰｽﾌｫﾙﾀﾞ /home/user/写真/2026 はﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ /home/user/写真 "
                                "の中にあります。\n重なったﾌｫﾙﾀﾞは同期できません。"),
                 kMbOk, folder, QStringLiteral("overlap.png")) &&
         ok;
    ok = SaveFileDialogs(folder) && ok;
    return ok ? 0 : 1;
}
