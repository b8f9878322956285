#include "ui/ChangeRecordModel.h"

#include <QApplication>
#include <QDateTime>
#include <QStyle>
#include <limits>

namespace mirova::ui {

namespace {

std::size_t Slot(ChangeAction action) {
    return static_cast<std::size_t>(action);
}

// A folder's size says nothing about its contents: its rows show its time only.
bool HasSize(const ChangeItem& item, const ItemState& state) {
    return state.exists && item.action != ChangeAction::CreateFolder &&
           item.action != ChangeAction::DeleteFolder;
}

// Sizes line up at their ends; the times, all of one length, stand in the middle of their
// columns, which keeps them apart from the sizes to their left.
QVariant Alignment(int column) {
    switch (column) {
        case ChangeRecordModel::kSizeBefore:
        case ChangeRecordModel::kSizeAfter:
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        case ChangeRecordModel::kTimeBefore:
        case ChangeRecordModel::kTimeAfter:
            return QVariant(Qt::AlignCenter);
        default:
            return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    }
}

}  // namespace

ChangeRecordModel::ChangeRecordModel(QObject* parent) : QAbstractTableModel(parent) {
    // The style's own pictures, made once: the view asks for them on every paint.
    const QStyle* style = QApplication::style();
    icons_[Slot(ChangeAction::DeleteFile)] = style->standardIcon(QStyle::SP_TrashIcon);
    icons_[Slot(ChangeAction::DeleteFolder)] = style->standardIcon(QStyle::SP_TrashIcon);
    icons_[Slot(ChangeAction::CopyNew)] = style->standardIcon(QStyle::SP_FileIcon);
    icons_[Slot(ChangeAction::CopyChanged)] = style->standardIcon(QStyle::SP_ArrowRight);
    icons_[Slot(ChangeAction::CreateFolder)] = style->standardIcon(QStyle::SP_DirIcon);
    icons_[Slot(ChangeAction::Failed)] = style->standardIcon(QStyle::SP_MessageBoxWarning);
    icons_[Slot(ChangeAction::KeepVersion)] = style->standardIcon(QStyle::SP_DialogSaveButton);
}

void ChangeRecordModel::SetItems(std::vector<ChangeItem> items) {
    beginResetModel();
    items_ = std::move(items);
    paths_.clear();
    paths_.reserve(static_cast<qsizetype>(items_.size()));
    counts_ = {};
    for (const ChangeItem& item : items_) {
        paths_.push_back(FieldText(item.path));
        ++counts_[Slot(item.action)];
    }
    endResetModel();
}

int ChangeRecordModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

int ChangeRecordModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant ChangeRecordModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const ChangeItem& entry = item(index.row());
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            return Display(entry, index.row(), column);
        case kSortRole:
            return SortKey(entry, index.row(), column);
        case Qt::DecorationRole:
            return column == kAction ? QVariant(icons_[Slot(entry.action)]) : QVariant();
        case Qt::TextAlignmentRole:
            return Alignment(column);
        case Qt::ToolTipRole:
            // A failure's message is often longer than the column; a long path too.
            if (entry.action == ChangeAction::Failed) {
                return FieldText(entry.message);
            }
            return column == kPath ? QVariant(paths_[index.row()]) : QVariant();
        default:
            return {};
    }
}

QVariant ChangeRecordModel::Display(const ChangeItem& item, int row, int column) const {
    switch (column) {
        case kAction:
            return ActionText(item.action);
        case kSide:
            return SideText(item.side);
        case kPath:
            if (item.action == ChangeAction::Failed) {
                const QString message = FieldText(item.message);
                return paths_[row].isEmpty() ? message
                                             : paths_[row] + QStringLiteral(" : ") + message;
            }
            return paths_[row];
        case kSizeBefore:
            return HasSize(item, item.before) ? SizeText(item.before.size) : QString();
        case kTimeBefore:
            return item.before.exists ? TimeText(item.before.mtime) : QString();
        case kSizeAfter:
            return HasSize(item, item.after) ? SizeText(item.after.size) : QString();
        case kTimeAfter:
            return item.after.exists ? TimeText(item.after.mtime) : QString();
        default:
            return {};
    }
}

QVariant ChangeRecordModel::SortKey(const ChangeItem& item, int row, int column) const {
    // One type per column, so that the proxy compares numbers as numbers. No size or time
    // sorts before every real one.
    const auto size = [&](const ItemState& state) {
        return HasSize(item, state) ? static_cast<qlonglong>(state.size) : qlonglong{-1};
    };
    const auto time = [](const ItemState& state) {
        return state.exists ? static_cast<qlonglong>(state.mtime)
                            : std::numeric_limits<qlonglong>::min();
    };
    switch (column) {
        case kAction:
            return static_cast<int>(item.action);
        case kSide:
            return static_cast<int>(item.side);
        case kPath:
            return paths_[row];
        case kSizeBefore:
            return size(item.before);
        case kTimeBefore:
            return time(item.before);
        case kSizeAfter:
            return size(item.after);
        case kTimeAfter:
            return time(item.after);
        default:
            return {};
    }
}

QVariant ChangeRecordModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) {
        return {};
    }
    if (role == Qt::TextAlignmentRole) {
        return Alignment(section);
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
        case kAction:
            return QStringLiteral("処理");
        case kSide:
            return QStringLiteral("側");
        case kPath:
            return QStringLiteral("ﾊﾟｽ");
        case kSizeBefore:
            return QStringLiteral("変更前ｻｲｽﾞ");
        case kTimeBefore:
            return QStringLiteral("変更前日時");
        case kSizeAfter:
            return QStringLiteral("変更後ｻｲｽﾞ");
        case kTimeAfter:
            return QStringLiteral("変更後日時");
        default:
            return {};
    }
}

QString ChangeRecordModel::ActionText(ChangeAction action) {
    switch (action) {
        case ChangeAction::DeleteFile:
            return QStringLiteral("削除");
        case ChangeAction::DeleteFolder:
            return QStringLiteral("ﾌｫﾙﾀﾞ削除");
        case ChangeAction::CopyNew:
            return QStringLiteral("新規ｺﾋﾟｰ");
        case ChangeAction::CopyChanged:
            return QStringLiteral("更新ｺﾋﾟｰ");
        case ChangeAction::CreateFolder:
            return QStringLiteral("ﾌｫﾙﾀﾞ作成");
        case ChangeAction::KeepVersion:
            return QStringLiteral("ﾊﾞｰｼﾞｮﾝ保存");
        case ChangeAction::Failed:
            break;
    }
    return QStringLiteral("失敗");
}

QString ChangeRecordModel::SideText(ChangeSide side) {
    return side == ChangeSide::Source ? QStringLiteral("ｿｰｽ") : QStringLiteral("ﾀｰｹﾞｯﾄ");
}

QString ChangeRecordModel::FieldText(const std::string& text) {
    // The record's own escaping: what is left is valid UTF-8 without line breaks.
    return QString::fromStdString(EscapeField(text));
}

QString ChangeRecordModel::SizeText(std::uint64_t size) {
    // Always with commas, whatever the locale: the rest of the window is Japanese anyway.
    QString digits = QString::number(size);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3) {
        digits.insert(at, QLatin1Char(','));
    }
    return digits;
}

QString ChangeRecordModel::TimeText(std::int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy/MM/dd hh:mm:ss"));
}

}  // namespace mirova::ui
