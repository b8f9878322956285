#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "UiTesting.h"
#include "engine/ChangeRecord.h"
#include "ui/CResultsDlg.h"
#include "ui/ChangeRecordModel.h"

namespace mirova::ui {
namespace {

using Model = ChangeRecordModel;
constexpr std::int64_t kTime = 1796000000;

// A record of 10,000 items in the log folder of the test: 9,996 new copies of sizes 0 to 9,995,
// then a deleted file, its deleted folder, a changed copy whose name holds a line break and a
// failure.
class ResultsDlgTest : public ::testing::Test {
protected:
    ResultsDlgTest() {
        dir_.createFolder("log");
        dir_.createFolder("dst/d3");
        std::string text =
            "# Mirova 0.1.0 change record\n# run: sync\n# preset: 3 nightly photos\n";
        text += "# source: " + dir_ / "src" + "\n# target: " + dir_ / "dst" + "\n";
        text += "# suppress deletion: off\n# exclusions: off\n# started: 2026-12-07 02:00:00\n";
        const auto add = [&](ChangeAction action, ChangeSide side, std::string path,
                             ItemState before, ItemState after, std::string message = {}) {
            text +=
                ItemLine({action, side, std::move(path), before, after, std::move(message)}) + "\n";
        };
        for (int i = 0; i < 9996; ++i) {
            add(ChangeAction::CopyNew, ChangeSide::Target,
                "d" + std::to_string(i % 10) + "/f" + std::to_string(i) + ".dat", {},
                {true, static_cast<std::uint64_t>(i), kTime + i});
        }
        add(ChangeAction::DeleteFile, ChangeSide::Target, "old/gone.txt", {true, 120, kTime}, {});
        add(ChangeAction::DeleteFolder, ChangeSide::Target, "old", {true, 0, kTime}, {});
        add(ChangeAction::CopyChanged, ChangeSide::Source, "line\nbreak.txt", {true, 5, kTime},
            {true, 9, kTime + 60});
        add(ChangeAction::Failed, ChangeSide::Target, "c.txt", {}, {}, "c.txt が作成できません。");
        text +=
            "# end: failures 1; deleted files 1, deleted folders 1, copied 9997 (49955019 bytes), "
            "created folders 0\n";
        dir_.createFile("log/Changes-261207-020000.txt", text);
        CResultsDlg::SetFolderOpenerForTesting([this](const QString& f) { opened_.push_back(f); });
        dialog_ = std::make_unique<CResultsDlg>();  // the newest record of the log folder
        dialog_->show();
    }
    ~ResultsDlgTest() override { CResultsDlg::SetFolderOpenerForTesting(nullptr); }
    QString Cell(int row, int column, int role = Qt::DisplayRole) const {
        return dialog_->proxy()->index(row, column).data(role).toString();
    }
    void Filter(const QString& text) {
        dialog_->filterField()->clear();
        QTest::keyClicks(dialog_->filterField(), text);
    }
    test::TempDir dir_;
    std::vector<QString> opened_;
    std::unique_ptr<CResultsDlg> dialog_;
};

TEST_F(ResultsDlgTest, ShowsTheLatestRecordWithItsFactsAndCountsAndSortsSizesAsNumbers) {
    EXPECT_EQ(dialog_->recordPath(), dir_ / "log/Changes-261207-020000.txt");
    EXPECT_EQ(dialog_->view()->model()->rowCount(), 10000);
    EXPECT_EQ(
        dialog_->countsLabel()->text(),
        QStringLiteral("削除 1  ﾌｫﾙﾀﾞ削除 1  新規ｺﾋﾟｰ 9,996  更新ｺﾋﾟｰ 1  ﾌｫﾙﾀﾞ作成 0  失敗 1"));
    EXPECT_EQ(
        dialog_->factsLabel()->text(),
        QStringLiteral("ｱｯﾌﾟﾃﾞｰﾄ  ﾌﾟﾘｾｯﾄ 3「nightly photos」  %1 → %2  2026/12/07 02:00:00 開始")
            .arg(QString::fromStdString(dir_ / "src"), QString::fromStdString(dir_ / "dst")));
    EXPECT_EQ(dialog_->endLabel()->text(),
              QStringLiteral("終了: ｴﾗｰ 1 件  ｺﾋﾟｰ 9,997 個 (49,955,019 ﾊﾞｲﾄ)"));
    EXPECT_EQ(Cell(0, Model::kAction), QStringLiteral("新規ｺﾋﾟｰ"));
    EXPECT_EQ(Cell(0, Model::kSide), QStringLiteral("ﾀｰｹﾞｯﾄ"));
    EXPECT_EQ(Cell(9995, Model::kTimeAfter), Model::TimeText(kTime + 9995));
    EXPECT_EQ(Cell(9995, Model::kSizeBefore), QString());
    // The three items without a state after the change first, then 0, 1, ... 9, 9, 10.
    dialog_->view()->sortByColumn(Model::kSizeAfter, Qt::AscendingOrder);
    QStringList sizes;
    for (int row = 0; row < 16; ++row) {
        sizes << Cell(row, Model::kSizeAfter);
    }
    EXPECT_EQ(sizes.join(QLatin1Char(' ')), QStringLiteral("   0 1 2 3 4 5 6 7 8 9 9 10 11"));
    dialog_->view()->sortByColumn(Model::kSizeAfter, Qt::DescendingOrder);
    EXPECT_EQ(Cell(0, Model::kSizeAfter), QStringLiteral("9,995"));
    EXPECT_EQ(Cell(1, Model::kSizeAfter), QStringLiteral("9,994"));
    // Without a record the table is empty.
    dialog_->Load("");
    EXPECT_EQ(dialog_->view()->model()->rowCount(), 0);
    EXPECT_EQ(dialog_->factsLabel()->text(), QStringLiteral("記録がありません。"));
    EXPECT_FALSE(dialog_->countsLabel()->isVisible());
}

TEST_F(ResultsDlgTest,
       TheFilterKeepsTheMatchingPathsWhateverTheirCaseAndADoubleClickOpensTheirFolder) {
    QTest::keyClicks(dialog_->filterField(), QStringLiteral("F123"));
    ASSERT_EQ(dialog_->proxy()->rowCount(), 11);  // f123 and f1230 to f1239
    for (int row = 0; row < 11; ++row) {
        EXPECT_THAT(Cell(row, Model::kPath).toStdString(), ::testing::HasSubstr("/f123"));
    }
    // One row for the line break, as the record writes it; the failure with its message.
    Filter(QStringLiteral("break"));
    ASSERT_EQ(dialog_->proxy()->rowCount(), 1);
    EXPECT_EQ(Cell(0, Model::kPath), QStringLiteral("line\\x0Abreak.txt"));
    EXPECT_EQ(Cell(0, Model::kSide), QStringLiteral("ｿｰｽ"));
    Filter(QStringLiteral("c.txt"));
    ASSERT_EQ(dialog_->proxy()->rowCount(), 1);
    EXPECT_EQ(Cell(0, Model::kPath), QStringLiteral("c.txt : c.txt が作成できません。"));
    EXPECT_EQ(Cell(0, Model::kPath, Qt::ToolTipRole), QStringLiteral("c.txt が作成できません。"));
    dialog_->filterField()->clear();
    EXPECT_EQ(dialog_->proxy()->rowCount(), 10000);
    for (const char* path : {"f123.dat", "gone"}) {
        Filter(QString::fromUtf8(path));
        ASSERT_EQ(dialog_->proxy()->rowCount(), 1);
        const QRect row = dialog_->view()->visualRect(dialog_->proxy()->index(0, Model::kPath));
        // What a real double-click delivers: a click, then the second press as a double-click.
        QWidget* viewport = dialog_->view()->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, row.center());
        QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, row.center());
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, row.center());
    }
    // "old" went with its file: the target folder itself is shown.
    EXPECT_THAT(opened_, ::testing::ElementsAre(QString::fromStdString(dir_ / "dst/d3"),
                                                QString::fromStdString(dir_ / "dst")));
}

}  // namespace
}  // namespace mirova::ui
