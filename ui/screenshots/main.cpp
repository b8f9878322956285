// Renders each small window of the program into a PNG file, without a display:
//   QT_QPA_PLATFORM=offscreen mirova_screenshots FOLDER
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <fstream>
#include <memory>
#include <string>

#include "engine/ChangeRecord.h"
#include "settings/ExclusionList.h"
#include "ui/BitmapButton.h"
#include "ui/CEditPresetDlg.h"
#include "ui/CJlistDlg.h"
#include "ui/CMessageBox.h"
#include "ui/CProgressDlg.h"
#include "ui/CResultsDlg.h"
#include "ui/CStatusDlg.h"
#include "ui/Look.h"
#include "ui/screenshots/ScreenshotTool.h"

namespace {

using namespace mirova::ui;
using mirova::screenshots::Save;

// Every button picture in its three states, one caption a row.
std::unique_ptr<QWidget> ButtonStrip() {
    const QStringList captions = {QStringLiteral("OK"),
                                  QStringLiteral("ｷｬﾝｾﾙ"),
                                  QStringLiteral("はい"),
                                  QStringLiteral("いいえ"),
                                  QStringLiteral("ｸﾘｱ"),
                                  QStringLiteral("参照"),
                                  QStringLiteral("ｿｰｽ・ﾀｰｹﾞｯﾄの入れ替え"),
                                  QStringLiteral("ｱｯﾌﾟﾃﾞｰﾄ実行"),
                                  QStringLiteral("閉じる"),
                                  QStringLiteral("コンペア")};
    const QStringList states = {QStringLiteral("normal"), QStringLiteral("pressed"),
                                QStringLiteral("disabled")};
    auto strip = std::make_unique<QWidget>();
    ApplyLook(strip.get());
    constexpr int kColumn = 172;
    constexpr int kRow = 31;
    for (int state = 0; state < states.size(); ++state) {
        auto* title = new QLabel(states[state], strip.get());
        title->move(10 + state * kColumn, 8);
    }
    for (int row = 0; row < captions.size(); ++row) {
        for (int state = 0; state < states.size(); ++state) {
            auto* button = new BitmapButton(captions[row], strip.get());
            button->move(10 + state * kColumn, 32 + row * kRow);
            button->setDown(state == 1);
            button->setEnabled(state != 2);
        }
    }
    strip->setFixedSize(10 + 3 * kColumn, 32 + captions.size() * kRow + 4);
    return strip;
}

// The colours of the look behind and inside the common controls.
std::unique_ptr<QWidget> LookSample() {
    auto window = std::make_unique<QWidget>();
    ApplyLook(window.get());
    window->setFixedSize(330, 200);
    auto* label = new QLabel(QStringLiteral("ｿｰｽﾌｫﾙﾀﾞ"), window.get());
    label->setGeometry(12, 12, 120, 18);
    auto* edit = new QLineEdit(QStringLiteral("/home/user/文書"), window.get());
    edit->setGeometry(12, 34, 200, 22);
    auto* check = new QCheckBox(QStringLiteral("ｴﾗｰで停止しない"), window.get());
    check->setGeometry(12, 64, 160, 20);
    check->setChecked(true);
    auto* group = new QGroupBox(QStringLiteral("ﾓｰﾄﾞ"), window.get());
    group->setGeometry(12, 92, 140, 90);
    auto* radio = new QRadioButton(QStringLiteral("ﾏｰｼﾞ"), group);
    radio->setGeometry(10, 24, 110, 20);
    radio->setChecked(true);
    auto* list = new QListWidget(window.get());
    list->addItems({QStringLiteral(".tmp"), QStringLiteral("Thumbs.db"), QStringLiteral("~$")});
    list->setGeometry(170, 92, 148, 90);
    return window;
}

// A record of 10,000 items, as a synchronisation of a photo folder would leave it: an old album
// deleted, a folder for every month, new and changed copies of the photos and one failure.
std::string WriteSampleRecord(const QString& folder) {
    using mirova::ChangeAction;
    using mirova::ItemState;
    const std::string path = (folder + QStringLiteral("/Changes-261207-020000.txt")).toStdString();
    std::ofstream out(path, std::ios::binary);
    out << "# Mirova 0.1.0 change record\n# run: sync\n# preset: 3 写真のﾊﾞｯｸｱｯﾌﾟ\n"
           "# source: /home/user/写真\n# target: /media/backup/写真\n# suppress deletion: off\n"
           "# exclusions: on; names: Thumbs.db; extensions: tmp\n# started: 2026-12-07 02:00:00\n";
    int copied = 0;
    std::uint64_t bytes = 0;
    const auto write = [&](ChangeAction action, std::string relative, ItemState before,
                           ItemState after, std::string message = {}) {
        mirova::ChangeItem item;
        item.action = action;
        item.path = std::move(relative);
        item.before = before;
        item.after = after;
        item.message = std::move(message);
        if (action == ChangeAction::CopyNew || action == ChangeAction::CopyChanged) {
            ++copied;
            bytes += after.size;
        }
        out << mirova::ItemLine(item) << '\n';
    };
    constexpr std::int64_t kTime = 1796000000;  // December 2026
    write(ChangeAction::DeleteFile, "2019/旧ｱﾙﾊﾞﾑ/DSC_0001.JPG", {true, 3481250, kTime - 80000000},
          {});
    write(ChangeAction::DeleteFolder, "2019/旧ｱﾙﾊﾞﾑ", {true, 0, kTime - 80000000}, {});
    for (int month = 1; month <= 12; ++month) {
        write(ChangeAction::CreateFolder, "2026/" + std::to_string(100 + month).substr(1), {},
              {true, 0, kTime});
    }
    constexpr int kPhotos = 9986;
    for (int i = 0; i < kPhotos; ++i) {
        const std::string name = "2026/" + std::to_string(101 + i * 12 / kPhotos).substr(1) +
                                 "/IMG_" + std::to_string(10000 + i).substr(1) + ".JPG";
        const std::uint64_t size = 1200000 + static_cast<std::uint64_t>(i) * 7919 % 6800000;
        const std::int64_t taken = kTime - 86400 * 330 + i * 3160;
        if (i == 1) {
            write(ChangeAction::Failed, name, {}, {},
                  "/media/backup/写真/" + name + " が作成できません。");
        } else if (i % 50 == 7) {
            write(ChangeAction::CopyChanged, name, {true, size - 41210, taken - 86400},
                  {true, size, taken});
        } else {
            write(ChangeAction::CopyNew, name, {}, {true, size, taken});
        }
    }
    out << "# end: failures 1; deleted files 1, deleted folders 1, copied " << copied << " ("
        << bytes << " bytes), created folders 12\n";
    return path;
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
    {
        CProgressDlg progress;
        progress.SetStatusLine("/home/user/写真/2023/旅行/IMG_0412.JPG");
        progress.SetBarRange(0, 100);
        progress.SetBarStep(1);
        for (int i = 0; i < 37; ++i) {
            progress.StepBar();
        }
        ok = Save(&progress, folder, QStringLiteral("progress.png")) && ok;
    }
    {
        CStatusDlg status;
        status.SetStatusText("ﾌｧｲﾙﾘｽﾄを作成中");
        ok = Save(&status, folder, QStringLiteral("status.png")) && ok;
    }
    {
        CMessageBox box(QStringLiteral("保存終了"), 0);
        ok = Save(&box, folder, QStringLiteral("message-ok.png")) && ok;
    }
    {
        CMessageBox box(
            QStringLiteral(
                "ﾀｰｹﾞｯﾄに 3 個の更新ﾌｧｲﾙ/ﾌｫﾙﾀﾞ、1 個の余剰ﾌｧｲﾙ、0 個の余剰ﾌｫﾙﾀﾞが有ります。\n"
                "ｱｯﾌﾟﾃﾞｰﾄを実行すると余剰ﾌｧｲﾙ・ﾌｫﾙﾀﾞは削除され更新ﾌｧｲﾙが上書きされます。\n"
                "ｱｯﾌﾟﾃﾞｰﾄを実行しますか？"),
            4);
        ok = Save(&box, folder, QStringLiteral("message-yesno.png")) && ok;
    }
    {
        CAboutDlg about;
        ok = Save(&about, folder, QStringLiteral("about.png")) && ok;
    }
    {
        // The preset editor showing a merge preset with a caption of two lines.
        mirova::PresetArray presets;
        presets[2] = {"/home/user/書類", "/mnt/desktop/home/user/書類",
                      "ノート PC とデスクトップの書類を相互にマージ\n毎週金曜日に実行", 1, 1};
        CEditPresetDlg editor([](const QString&, int) { return 7; });
        editor.SetPresets(2, presets);
        ok = Save(&editor, folder, QStringLiteral("edit-presets.png")) && ok;
    }
    {
        // The exclusion list editor with a few rows in both lists, one of them selected.
        mirova::ExclusionList lists;
        for (const char* name : {"~$", "Thumbs.db", "/.git/", "/node_modules/", "desktop.ini"}) {
            lists.AddName(name);
        }
        for (const char* extension : {"tmp", "bak", "obj", "log"}) {
            lists.AddExtension(extension);
        }
        CJlistDlg editor(lists, [](const QString&, int) { return 7; });
        editor.show();  // each opening fills the lists; the selection comes after
        editor.extensionView()->topLevelItem(1)->setSelected(true);
        ok = Save(&editor, folder, QStringLiteral("exclusions.png")) && ok;
    }
    {
        // The results of a synchronisation of 10,000 items.
        QTemporaryDir records;
        CResultsDlg results(WriteSampleRecord(records.path()));
        ok = Save(&results, folder, QStringLiteral("results.png")) && ok;
    }
    ok = Save(ButtonStrip().get(), folder, QStringLiteral("buttons.png")) && ok;
    ok = Save(LookSample().get(), folder, QStringLiteral("look.png")) && ok;
    return ok ? 0 : 1;
}
