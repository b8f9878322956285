#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

#include "engine/ChangeRecord.h"

class QLabel;
class QLineEdit;
class QModelIndex;
class QSortFilterProxyModel;
class QTableView;

namespace mirova::ui {

class BitmapButton;
class ChangeRecordModel;

// "比較結果": what the latest run did (or, for a compare, what a synchronisation would do), read
// from its change record: the run's facts and the count of each kind of change above a table of
// the items, which can be sorted by any column and filtered by path. A double-click on a row
// opens the folder that holds the item in the desktop's file manager. The window can stay open
// beside the main window; Load shows another record in it.
class CResultsDlg : public QDialog {
    Q_OBJECT
public:
    // Shows a folder (a local path) in the desktop's file manager.
    using FolderOpener = std::function<void(const QString& folder)>;
    // Tests put their own opener in place of the file manager; an empty function brings the
    // file manager back.
    static void SetFolderOpenerForTesting(FolderOpener opener);

    // Shows the record at recordPath; "" (no record yet) shows an empty table.
    explicit CResultsDlg(const std::string& recordPath = LatestChangeRecord(),
                         QWidget* parent = nullptr);

    void Load(const std::string& recordPath);
    // Places the window over its owner (or the active window), shows it and returns at once.
    void ShowModeless(QWidget* owner);

    // The folder that holds the item of a row of the model: the changed side's base folder plus
    // the folders of the item's path, or the nearest of them that still exists.
    QString FolderOfItem(int modelRow) const;
    // Opens FolderOfItem of the row a view index shows.
    void OpenFolderOf(const QModelIndex& viewIndex);

    // For tests and screenshots.
    QTableView* view() const { return view_; }
    QLineEdit* filterField() const { return filter_; }
    ChangeRecordModel* model() const { return model_; }
    QSortFilterProxyModel* proxy() const { return proxy_; }
    QLabel* factsLabel() const { return facts_; }
    QLabel* countsLabel() const { return counts_; }
    QLabel* endLabel() const { return end_; }
    BitmapButton* closeButton() const { return close_; }
    const std::string& recordPath() const { return recordPath_; }

private:
    void ShowHeader(const RecordContents& contents);
    void FitColumns();

    std::string recordPath_;
    std::string sourceFolder_;  // as the file system names them, unescaped
    std::string targetFolder_;
    ChangeRecordModel* model_;
    QSortFilterProxyModel* proxy_;
    QLabel* facts_;
    QLabel* counts_;
    QLabel* end_;
    QLineEdit* filter_;
    QTableView* view_;
    BitmapButton* close_;
};

}  // namespace mirova::ui
