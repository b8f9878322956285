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
#include <QTreeWidget>
#include <memory>

#include "settings/ExclusionList.h"
#include "ui/BitmapButton.h"
#include "ui/CEditPresetDlg.h"
#include "ui/CJlistDlg.h"
#include "ui/CMessageBox.h"
#include "ui/CProgressDlg.h"
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
    ok = Save(ButtonStrip().get(), folder, QStringLiteral("buttons.png")) && ok;
    ok = Save(LookSample().get(), folder, QStringLiteral("look.png")) && ok;
    return ok ? 0 : 1;
}
