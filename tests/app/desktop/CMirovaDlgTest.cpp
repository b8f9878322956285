#include "app/desktop/CMirovaDlg.h"

#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>

#include "../ui/TextFit.h"
#include "GuiTesting.h"
#include "app/common/QtSettingsStore.h"
#include "app/desktop/KeepVersionsDlg.h"
#include "app/desktop/ScheduleDlg.h"
#include "engine/AutoRunList.h"
#include "fileops/FileOperations.h"
#include "platform/FileSystem.h"
#include "settings/ExclusionList.h"
#include "ui/BitmapButton.h"
#include "ui/CResultsDlg.h"
#include "ui/ChangeRecordModel.h"
#include "ui/Look.h"

namespace mirova {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

class MainDialogTest : public test::MainWindowTest {
protected:
    // Preset `number` runs "sN" into "dN", over a source tree with a file in a sub-folder, and a
    // target that has a stale file and lacks the rest.
    void SetPresetWithTrees(int number) {
        test::SetTestPreset(table_, dir_, number);
        const std::string n = std::to_string(number);
        dir_.createFile("s" + n + "/a.txt", "alpha", 1'600'000'000);
        dir_.createFile("s" + n + "/sub/b.txt", "beta", 1'600'000'100);
        dir_.createFile("d" + n + "/stale.txt", "old", 1'500'000'000);
    }
    std::string TreeDifferences(int number) const {
        const std::string n = std::to_string(number);
        return test::TreeDifferences(dir_ / ("s" + n), dir_ / ("d" + n));
    }
};

TEST_F(MainDialogTest, PresetButtonShowsItsPresetAndHidesCompareForMerge) {
    table_.presets[6] = Preset{"/data/写真", "/backup/写真", "写真の控え\r\n二行目", 1, 1};
    table_.presets[1] = Preset{"/data/書類", "/backup/書類", "書類", 0, 0};
    table_.currentPreset = 1;
    CMirovaDlg& dialog = Open();
    EXPECT_TRUE(dialog.presetButton(1)->isChecked());
    EXPECT_EQ(dialog.sourceField()->text().toStdString(), "/data/書類");
    EXPECT_FALSE(dialog.compareButton()->isHidden());
    EXPECT_EQ(dialog.presetButton(6)->text(), QStringLiteral("７"));
    EXPECT_EQ(dialog.presetButton(9)->text(), QStringLiteral("10"));

    QTest::mouseClick(dialog.presetButton(6), Qt::LeftButton);
    EXPECT_EQ(dialog.table().currentPreset, 6);
    EXPECT_TRUE(dialog.presetButton(6)->isChecked());
    EXPECT_FALSE(dialog.presetButton(1)->isChecked());
    EXPECT_EQ(dialog.captionField()->toPlainText(), QStringLiteral("写真の控え\n二行目"));
    EXPECT_EQ(dialog.sourceField()->text().toStdString(), "/data/写真");
    EXPECT_EQ(dialog.targetField()->text().toStdString(), "/backup/写真");
    EXPECT_TRUE(dialog.mergeModeCheck()->isChecked());
    EXPECT_TRUE(dialog.useExclusionsCheck()->isChecked());
    EXPECT_TRUE(dialog.compareButton()->isHidden());
    // The dialog only shows presets: nothing of them can be changed here.
    EXPECT_TRUE(dialog.captionField()->isReadOnly());
    EXPECT_TRUE(dialog.sourceField()->isReadOnly());
    EXPECT_TRUE(dialog.targetField()->isReadOnly());
    EXPECT_FALSE(dialog.mergeModeCheck()->isEnabled());
    EXPECT_FALSE(dialog.useExclusionsCheck()->isEnabled());

    QTest::mouseClick(dialog.presetButton(1), Qt::LeftButton);
    EXPECT_FALSE(dialog.compareButton()->isHidden());
    EXPECT_FALSE(dialog.mergeModeCheck()->isChecked());
    EXPECT_EQ(dialog.captionField()->toPlainText(), QStringLiteral("書類"));
}

TEST_F(MainDialogTest, ShowsTheLookInTheTemplatesProportionsWithEveryTextWhole) {
    table_.presets[0] = Preset{"/data/写真", "/backup/写真", "写真の控え", 0, 1};
    table_.currentPreset = 0;
    CMirovaDlg& dialog = Open();
    const QImage image = dialog.grab().toImage();
    const auto inside = [&](const QWidget* widget) {
        const QRect area = widget->geometry();
        return QPoint(area.right() - 8, area.bottom() - 5);
    };
    // The read-only fields and the inside of the group boxes show the one background colour.
    std::vector<std::pair<QPoint, std::string>> samples = {
        {inside(dialog.captionField()), "caption field"},
        {inside(dialog.sourceField()), "source field"},
        {inside(dialog.targetField()), "target field"},
    };
    for (const QGroupBox* group : dialog.findChildren<QGroupBox*>()) {
        samples.push_back({group->geometry().bottomLeft() + QPoint(6, -4),
                           "inside " + group->title().toStdString()});
    }
    for (const auto& [at, where] : samples) {
        EXPECT_EQ(image.pixelColor(at), ui::kLookBackground) << where;
    }

    // A preset button keeps the template's 24 x 22 units, a little wider than high.
    const QSize button = dialog.presetButton(0)->size();
    EXPECT_NEAR(double(button.width()) / button.height(), 24.0 / 22.0, 0.05)
        << button.width() << " x " << button.height();

    ScheduleDlg schedule(3, QStringLiteral("/usr/bin/mirova"));
    KeepVersionsDlg keep(30);
    for (QWidget* window : std::initializer_list<QWidget*>{&dialog, &schedule, &keep}) {
        window->show();
        EXPECT_EQ(test::ClippedTexts(window).join(QStringLiteral("; ")).toStdString(), "")
            << window->windowTitle().toStdString();
    }
    // The unit files are shown whole.
    for (const QPlainTextEdit* unit : {schedule.serviceField(), schedule.timerField()}) {
        EXPECT_EQ(unit->verticalScrollBar()->maximum(), 0);
    }
}

TEST_F(MainDialogTest, ReturnStartsASynchronisationAndTheDialogStaysOpen) {
    test::SetTestPreset(table_, dir_, 1);
    dir_.createFolder("s1");  // the target is missing: a synchronisation offers to create it
    CMirovaDlg& dialog = Open();
    QTest::mouseClick(dialog.suppressDeletionCheck(), Qt::LeftButton);
    QSignalSpy finished(&dialog, &QDialog::finished);

    QTest::keyClick(&dialog, Qt::Key_Return);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + (dir_ / "d1") + " は存在しません。作成しますか？");
    EXPECT_EQ(boxes_[0].type, kMbYesNo);
    EXPECT_EQ(app_.runState().suppressDeletion, 1);
    EXPECT_THAT(dir_.readLog(), HasSubstr("Mirova Preset 1 Start."));
    EXPECT_THAT(dir_.readLog(), HasSubstr("OptionD=ON"));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(finished.count(), 0);
    EXPECT_FALSE(dialog.runInProgress());
    EXPECT_TRUE(dialog.okButton()->isEnabled());

    // The compare button starts the other kind: a missing target is only reported.
    QTest::mouseClick(dialog.compareButton(), Qt::LeftButton);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text, "ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + (dir_ / "d1") + " が存在しません。");
    EXPECT_THAT(dir_.readLog(), HasSubstr("Compare Preset 1 Start."));
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(MainDialogTest, RunOverRealFoldersMirrorsAndLocksTheControls) {
    SetPresetWithTrees(2);
    table_.currentPreset = 1;
    CMirovaDlg& dialog = Open();
    QSignalSpy finished(&dialog, &QDialog::finished);
    // At the question: presets, OK, compare, close and exit disabled, saving the presets
    // enabled, and the window still there after a close request.
    std::vector<bool> during;
    onBox_ = [&](const test::Box& box) {
        if (box.type == kMbYesNo) {
            during = {dialog.presetButton(0)->isEnabled(),
                      dialog.okButton()->isEnabled(),
                      dialog.compareButton()->isEnabled(),
                      dialog.closeButton()->isEnabled(),
                      MenuItem(QStringLiteral("アプリケーションの終了"))->isEnabled(),
                      MenuItem(QStringLiteral("プリセットデータ保存(&S)"))->isEnabled()};
            // A close request while the run goes on is turned down.
            dialog.closeButton()->click();
            dialog.close();
            during.push_back(dialog.isVisible());
        }
    };
    answers_ = {kIdYes};

    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(boxes_.size(), 2u) << dir_.readLog();
    EXPECT_THAT(boxes_[0].text, HasSubstr("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？"));
    EXPECT_EQ(boxes_[1].text, "ｱｯﾌﾟﾃﾞｰﾄ完了");
    EXPECT_EQ(TreeDifferences(2), "");

    EXPECT_THAT(during, ElementsAre(false, false, false, false, false, true, true));
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(dialog.presetButton(0)->isEnabled());
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    EXPECT_TRUE(dialog.compareButton()->isEnabled());
    EXPECT_TRUE(dialog.closeButton()->isEnabled());
    EXPECT_TRUE(dialog.isVisible());
}

// The safety rules as the desktop program shows them: overlapping folders refused in a box, the
// stored deletion brake asked with No as the default, and a failure after "continue" ending
// with the failure text instead of silence or "complete".
TEST_F(MainDialogTest, SafetyRulesReachTheDesktopProgram) {
    test::SetTestPreset(table_, dir_, 1);
    table_.presets[0].targetFolder = dir_ / "s1/inner";
    dir_.createFile("s1/a.txt", "a");
    test::SetTestPreset(table_, dir_, 2);
    for (int i = 0; i < 12; ++i) {
        dir_.createFile("d2/f" + std::to_string(i), "x");
    }
    dir_.createFolder("s2");
    table_.deleteLimit = 30;
    CMirovaDlg& dialog = Open();

    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_THAT(boxes_[0].text, HasSubstr("重なったﾌｫﾙﾀﾞは同期できません。"));
    EXPECT_FALSE(platform::Exists(dir_ / "s1/inner"));

    QTest::mouseClick(dialog.presetButton(1), Qt::LeftButton);
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_THAT(boxes_[1].text, HasSubstr("12 個のﾌｧｲﾙと 0 個のﾌｫﾙﾀﾞが全て削除されます。"));
    EXPECT_EQ(boxes_[1].type, kMbYesNo | kMbDefaultButton2 | kMbIconWarning);
    EXPECT_EQ(dir_.read("d2/f0"), "x");

    // A new file whose copy fails (a read-only old copy, kept with deletion suppressed), then
    // one that copies: "continue" passes the failure over, and the run still is no success.
    dir_.createFile("s2/a.txt", "new", 1700000100);
    dir_.createFile("d2/a.txt", "old", 1700000000);
    ASSERT_EQ(::chmod((dir_ / "d2/a.txt").c_str(), 0444), 0);
    dir_.createFile("s2/b.txt", "b");
    dialog.suppressDeletionCheck()->setChecked(true);
    answers_ = {kIdYes, kIdOk, kIdYes, kIdOk};
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(boxes_.size(), 6u) << dir_.readLog();
    EXPECT_EQ(boxes_[4].text, kContinueQuestion);
    EXPECT_THAT(boxes_[5].text, HasSubstr("1 個のﾌｧｲﾙ/ﾌｫﾙﾀﾞの処理に失敗しました。"));
    EXPECT_EQ(dir_.read("d2/b.txt"), "b");
}

// Receives the file URLs the program asks the desktop to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls.push_back(url); }
};

// After a compare, the results window shows what the synchronisation would do, and the log
// opens from the menu.
TEST_F(MainDialogTest, ResultsAndLogOpenFromTheMenu) {
    SetPresetWithTrees(4);
    table_.currentPreset = 3;
    CMirovaDlg& dialog = Open();
    QTest::mouseClick(dialog.compareButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd());

    MenuItem(QStringLiteral("比較結果(&R)"))->trigger();
    ui::CResultsDlg* results = dialog.resultsWindow();
    ASSERT_NE(results, nullptr);
    EXPECT_TRUE(results->isVisible());
    EXPECT_EQ(results->recordPath(), dialog.run().changeRecordPath());
    // stale.txt deleted; a.txt and sub/b.txt copied; sub created.
    EXPECT_EQ(results->model()->rowCount(), 4);

    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "Open");
    MenuItem(QStringLiteral("ログを開く(&L)"))->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(recorder.urls.size(), 1);
    EXPECT_EQ(recorder.urls[0].toLocalFile().toStdString(), dir_.logDir() + "/Mirova.log");
}

TEST_F(MainDialogTest, NoStopOnErrorReachesTheRunStateAtOnce) {
    app_.runState().noStopOnError = 0;
    app_.runState().suppressDeletion = 1;  // as "/D" leaves it
    SetPresetWithTrees(1);
    CMirovaDlg& dialog = Open();
    EXPECT_TRUE(dialog.suppressDeletionCheck()->isChecked());
    EXPECT_FALSE(dialog.noStopOnErrorCheck()->isChecked());

    QTest::mouseClick(dialog.noStopOnErrorCheck(), Qt::LeftButton);
    EXPECT_EQ(app_.runState().noStopOnError.load(), 1);
    QTest::mouseClick(dialog.noStopOnErrorCheck(), Qt::LeftButton);
    EXPECT_EQ(app_.runState().noStopOnError.load(), 0);

    // Ticked while the run asks its question: the box that would end the run is not shown.
    onBox_ = [&](const test::Box& box) {
        if (box.type == kMbYesNo) {
            dialog.noStopOnErrorCheck()->click();
        }
    };
    answers_ = {kIdYes};
    dialog.okButton()->click();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_THAT(BoxTexts(), ElementsAre(HasSubstr("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？")));
    EXPECT_EQ(app_.runState().noStopOnError.load(), 1);
    EXPECT_THAT(dir_.readLog(), HasSubstr("ｱｯﾌﾟﾃﾞｰﾄ完了"));
}

TEST_F(MainDialogTest, ClosingStoresPresetPositionAndExclusions) {
    auto store = std::make_unique<QtSettingsStore>();
    CMirovaDlg& dialog = OpenOver(*store);
    QSignalSpy finished(&dialog, &QDialog::finished);
    QTest::mouseClick(dialog.presetButton(11), Qt::LeftButton);
    dialog.move(140, 90);
    dialog.exclusions().AddName("~$");
    QTest::mouseClick(dialog.closeButton(), Qt::LeftButton);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(dialog.isVisible());
    dialog_.reset();
    store.reset();  // the file is written when the store goes

    QtSettingsStore reread;
    EXPECT_EQ(reread.ReadInt("Settings", "PRESETNO", -1), 11);
    EXPECT_EQ(reread.ReadInt("Settings", "POSX", -1), 140);
    EXPECT_EQ(reread.ReadInt("Settings", "POSY", -1), 90);
    ExclusionList exclusions;
    exclusions.Load(reread);
    EXPECT_THAT(exclusions.names(), ElementsAre("~$"));

    // The next start shows the same preset at the same place; Esc closes the same way.
    CMirovaDlg& again = OpenOver(reread);
    EXPECT_TRUE(again.presetButton(11)->isChecked());
    EXPECT_EQ(again.pos(), QPoint(140, 90));
    QSignalSpy closed(&again, &QDialog::finished);
    QTest::keyClick(&again, Qt::Key_Escape);
    EXPECT_EQ(closed.count(), 1);
    dialog_.reset();  // before the store it saves to
}

TEST_F(MainDialogTest, CommandLineListRunsItsPresetsAndCloses) {
    test::SetTestPreset(table_, dir_, 3);
    table_.presets[2].targetFolder.clear();  // passed over
    SetPresetWithTrees(5);
    ASSERT_TRUE(ParseAutoRunArguments({"/A", "3,5"}, app_.runState()));
    CMirovaDlg& dialog = Open();
    EXPECT_TRUE(dialog.noStopOnErrorCheck()->isChecked());
    QSignalSpy finished(&dialog, &QDialog::finished);

    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toInt(), 1);
    EXPECT_EQ(TreeDifferences(5), "");
    EXPECT_TRUE(boxes_.empty()) << boxes_.front().text;
    EXPECT_EQ(store_.ReadInt("Settings", "PRESETNO", -1), 4);
    EXPECT_THAT(dir_.readLog(), HasSubstr("Mirova Preset 5 Start."));
    EXPECT_THAT(dir_.readLog(), Not(HasSubstr("Preset 3 Start.")));
}

TEST_F(MainDialogTest, CommandLineListOfEmptyPresetsClosesWithoutARun) {
    ASSERT_TRUE(ParseAutoRunArguments({"/A", "2,4"}, app_.runState()));
    QSignalSpy finished(&Open(), &QDialog::finished);
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    EXPECT_EQ(finished.at(0).at(0).toInt(), 1);
    EXPECT_THAT(dir_.readLog(), Not(HasSubstr("Start.")));
    EXPECT_EQ(store_.ReadInt("Settings", "PRESETNO", -1), 3);
}

TEST_F(MainDialogTest, MenusOfferEveryCommandAndExitAndScheduleWork) {
    table_.currentPreset = 8;
    CMirovaDlg& dialog = Open();
    std::vector<std::string> items;
    for (QAction* menu : dialog.menuBar()->actions()) {
        items.push_back(menu->text().toStdString());
        for (QAction* item : menu->menu()->actions()) {
            items.push_back(item->isSeparator() ? "-"
                                                : (item->isEnabled() ? "  " : "  (off) ") +
                                                      item->text().toStdString());
        }
    }
    EXPECT_EQ(items,
              (std::vector<std::string>{
                  "ファイル(&F)", "  プリセットデータ保存(&S)", "  プリセットデータ読込み(&R)", "-",
                  "  除外リストの編集", "-", "  アプリケーションの終了", "編集(&E)",
                  "  編集モード(&E)", "-", "  スケジュール(&S)", "-",
                  "  旧バージョンを保存する(&K)...", "表示(&V)", "  比較結果(&R)",
                  "  ログを開く(&L)", "ヘルプ(&H)", "  Mirova のバージョン情報(&A)..."}));

    // The schedule window shows the current preset. It is modal: it is read and closed from
    // the event loop it runs.
    QString crontab;
    QTimer::singleShot(0, [&] {
        if (auto* schedule = qobject_cast<ScheduleDlg*>(QApplication::activeModalWidget())) {
            crontab = schedule->crontabField()->text();
            schedule->accept();
        }
    });
    MenuItem(QStringLiteral("スケジュール(&S)"))->trigger();
    EXPECT_EQ(crontab,
              QStringLiteral("0 2 * * * %1 /A 9").arg(QCoreApplication::applicationFilePath()));

    // Keeping versions: on asks for the days (cancelled, it stays off), off asks nothing.
    QAction* keep = MenuItem(QStringLiteral("旧バージョンを保存する(&K)..."));
    ASSERT_TRUE(keep->isCheckable());
    EXPECT_FALSE(keep->isChecked());
    for (const int days : {0, 45}) {
        QTimer::singleShot(0, [days] {
            if (auto* ask = qobject_cast<KeepVersionsDlg*>(QApplication::activeModalWidget())) {
                EXPECT_EQ(ask->daysField()->value(), 30);
                ask->daysField()->setValue(days);
                days == 0 ? ask->cancelButton()->click() : ask->okButton()->click();
            }
        });
        keep->trigger();
        EXPECT_EQ(keep->isChecked(), days > 0);
        EXPECT_EQ(dialog.table().keepVersions, days);
    }

    QSignalSpy finished(&dialog, &QDialog::finished);
    MenuItem(QStringLiteral("アプリケーションの終了"))->trigger();
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(store_.ReadInt("Settings", "PRESETNO", -1), 8);
    EXPECT_EQ(store_.ReadInt("Settings", "KEEPVERSIONS", -1), 45);
}

TEST(ScheduleTest, EntriesQuoteTheProgramAndTheWindowCopiesThemReadOnly) {
    const ScheduleEntries plain = MakeScheduleEntries(3, QStringLiteral("/usr/bin/mirova"));
    EXPECT_EQ(plain.crontabLine, QStringLiteral("0 2 * * * /usr/bin/mirova /A 3"));
    EXPECT_EQ(plain.serviceName, QStringLiteral("mirova-preset-3.service"));
    EXPECT_EQ(plain.timerName, QStringLiteral("mirova-preset-3.timer"));
    EXPECT_THAT(plain.serviceUnit.toStdString(), HasSubstr("\nExecStart=/usr/bin/mirova /A 3\n"));
    EXPECT_THAT(plain.timerUnit.toStdString(), HasSubstr("\nOnCalendar=daily\nPersistent=true\n"));
    EXPECT_THAT(plain.timerUnit.toStdString(), HasSubstr("\n[Install]\nWantedBy=timers.target\n"));
    EXPECT_THAT(plain.enableCommand.toStdString(), HasSubstr("enable --now mirova-preset-3.timer"));

    // Blanks, quotes, "%" (a line break to cron, a specifier to systemd) and "$".
    const ScheduleEntries odd = MakeScheduleEntries(12, QStringLiteral("/opt/my apps/it's 100%$"));
    EXPECT_EQ(odd.crontabLine, QStringLiteral("0 2 * * * '/opt/my apps/it'\\''s 100\\%$' /A 12"));
    EXPECT_THAT(odd.serviceUnit.toStdString(),
                HasSubstr("\nExecStart=\"/opt/my apps/it's 100%%$$\" /A 12\n"));

    ScheduleDlg schedule(3, QStringLiteral("/usr/bin/mirova"));
    EXPECT_TRUE(schedule.crontabField()->isReadOnly());
    EXPECT_TRUE(schedule.serviceField()->isReadOnly());
    EXPECT_TRUE(schedule.timerField()->isReadOnly());
    EXPECT_TRUE(schedule.enableField()->isReadOnly());
    const std::pair<QPushButton*, QString> copies[] = {
        {schedule.crontabCopyButton(), plain.crontabLine},
        {schedule.serviceCopyButton(), plain.serviceUnit},
        {schedule.timerCopyButton(), plain.timerUnit},
        {schedule.enableCopyButton(), plain.enableCommand},
    };
    for (const auto& [button, text] : copies) {
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(QApplication::clipboard()->text(), text);
    }
}

}  // namespace
}  // namespace mirova

#include "CMirovaDlgTest.moc"
