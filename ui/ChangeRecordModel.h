#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ChangeRecord.h"

namespace mirova::ui {

// The items of a change record as a table, one row per item in the order of the record. The
// texts a row shows are made only when the view asks for them, so that a record of many thousand
// items opens and scrolls at once; the paths alone are kept as text, for the filter.
class ChangeRecordModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        kAction,
        kSide,
        kPath,
        kSizeBefore,
        kTimeBefore,
        kSizeAfter,
        kTimeAfter,
        kColumnCount
    };
    // The role a proxy sorts by: the size in bytes (-1 where there is none, and for folders),
    // the time in seconds (the lowest number where there is none), the action and the side in
    // their order of declaration, the path as shown without a failure's message, which is also
    // the text the filter looks at.
    static constexpr int kSortRole = Qt::UserRole;

    explicit ChangeRecordModel(QObject* parent = nullptr);

    void SetItems(std::vector<ChangeItem> items);
    const std::vector<ChangeItem>& items() const { return items_; }
    const ChangeItem& item(int row) const { return items_[static_cast<std::size_t>(row)]; }
    // How many items of each action the record names.
    int count(ChangeAction action) const { return counts_[static_cast<std::size_t>(action)]; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The texts of the cells.
    static QString ActionText(ChangeAction action);
    static QString SideText(ChangeSide side);
    // A path or message of the record as one line of text: bytes that are not UTF-8 and control
    // characters appear as \xNN, a backslash as \\, as the record file has them.
    static QString FieldText(const std::string& text);
    // "1,234,567"
    static QString SizeText(std::uint64_t size);
    // "2026/12/07 02:00:00", local time
    static QString TimeText(std::int64_t seconds);

private:
    QVariant Display(const ChangeItem& item, int row, int column) const;
    QVariant SortKey(const ChangeItem& item, int row, int column) const;

    std::vector<ChangeItem> items_;
    QStringList paths_;  // the path column's text of each row, without a failure's message
    std::array<int, 7> counts_{};
    std::array<QIcon, 7> icons_;
};

}  // namespace mirova::ui
