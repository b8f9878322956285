#include "ui/CResultsDlg.h"

#include <QDesktopServices>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string_view>

#include "ui/BitmapButton.h"
#include "ui/ChangeRecordModel.h"
#include "ui/DialogParts.h"
#include "ui/Look.h"

namespace mirova::ui {

namespace {

CResultsDlg::FolderOpener& OpenerForTesting() {
    static CResultsDlg::FolderOpener opener;
    return opener;
}

void OpenFolder(const QString& folder) {
    if (const CResultsDlg::FolderOpener& opener = OpenerForTesting()) {
        opener(folder);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

// The header lines "key: value" of a record by their keys.
std::map<std::string, std::string> HeaderFields(const std::vector<std::string>& lines) {
    std::map<std::string, std::string> fields;
    for (const std::string& line : lines) {
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos) {
            fields.emplace(line.substr(0, colon), line.substr(colon + 2));
        }
    }
    return fields;
}

QString RunText(const std::string& runWord) {
    if (runWord == "sync") {
        return QStringLiteral("ｱｯﾌﾟﾃﾞｰﾄ");
    }
    if (runWord == "merge") {
        return QStringLiteral("ﾏｰｼﾞ");
    }
    if (runWord == "compare") {
        // A compare changes nothing: its items are what an update would do.
        return QStringLiteral("ｺﾝﾍﾟｱ (未実行)");
    }
    return QString::fromStdString(runWord);
}

// "3 nightly photos" (the caption escaped, line breaks as \x0D\x0A) becomes "ﾌﾟﾘｾｯﾄ 3「nightly
// photos」"; the folders of the command line (preset 0) are no preset.
QString PresetText(const std::string& value) {
    const std::size_t space = value.find(' ');
    const std::string number = value.substr(0, space);
    if (number.empty() || number == "0") {
        return QString();
    }
    QString text = QStringLiteral("ﾌﾟﾘｾｯﾄ ") + QString::fromStdString(number);
    if (space != std::string::npos) {
        QString caption = QString::fromStdString(UnescapeField(value.substr(space + 1)));
        caption.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        caption.replace(QLatin1Char('\n'), QLatin1Char(' '));
        text += QStringLiteral("「") + caption.simplified() + QStringLiteral("」");
    }
    return text;
}

// "2026-12-07 02:00:00" as the table shows times.
QString StartText(const std::string& value) {
    QString text = QString::fromStdString(value);
    for (int at : {4, 7}) {
        if (text.size() > at && text[at] == QLatin1Char('-')) {
            text[at] = QLatin1Char('/');
        }
    }
    return text;
}

// The closing line ("failures 1; deleted files 1, ..., copied 1 (9 bytes), created folders 0")
// in the window's words: how the run ended and what it copied; the other numbers are those of the
// counts line. A line of another form is shown as it is.
QString EndText(const std::string& line) {
    if (line.empty()) {
        // The run is still going, or was killed before its end.
        return QStringLiteral("終了: (記録なし)");
    }
    const std::size_t semicolon = line.find("; ");
    const std::string how = line.substr(0, semicolon);
    QString text;
    if (how == "completed") {
        text = QStringLiteral("完了");
    } else if (how.starts_with("failures ")) {
        text = QStringLiteral("ｴﾗｰ %1 件").arg(QString::fromStdString(how.substr(9)));
    } else if (how == "cancelled by the user") {
        text = QStringLiteral("ﾕｰｻﾞｰによる中止");
    } else if (how == "declined") {
        text = QStringLiteral("実行せず");
    } else if (how == "refused") {
        text = QStringLiteral("実行拒否");
    } else {
        return QStringLiteral("終了: ") + QString::fromStdString(line);
    }
    unsigned long long copied = 0;
    unsigned long long bytes = 0;
    const std::size_t at = line.find("copied ", semicolon);
    if (at != std::string::npos &&
        std::sscanf(line.c_str() + at, "copied %llu (%llu bytes)", &copied, &bytes) == 2) {
        text += QStringLiteral("  ｺﾋﾟｰ %1 個 (%2 ﾊﾞｲﾄ)")
                    .arg(ChangeRecordModel::SizeText(copied), ChangeRecordModel::SizeText(bytes));
    }
    return QStringLiteral("終了: ") + text;
}

QString FolderText(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace

void CResultsDlg::SetFolderOpenerForTesting(FolderOpener opener) {
    OpenerForTesting() = std::move(opener);
}

CResultsDlg::CResultsDlg(const std::string& recordPath, QWidget* parent) : QDialog(parent) {
    ApplyLook(this);
    // Unlike the small windows this one can be resized and maximised: the table is the point.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("比較結果"));
    setSizeGripEnabled(true);

    model_ = new ChangeRecordModel(this);
    proxy_ = new QSortFilterProxyModel(this);
    proxy_->setSourceModel(model_);
    proxy_->setSortRole(ChangeRecordModel::kSortRole);
    proxy_->setSortCaseSensitivity(Qt::CaseInsensitive);
    proxy_->setFilterRole(ChangeRecordModel::kSortRole);
    proxy_->setFilterKeyColumn(ChangeRecordModel::kPath);
    proxy_->setFilterCaseSensitivity(Qt::CaseInsensitive);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 10);
    layout->setSpacing(6);
    const auto addLabel = [&] {
        auto* label = new QLabel(this);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(label);
        return label;
    };
    facts_ = addLabel();
    counts_ = addLabel();
    end_ = addLabel();

    filter_ = new QLineEdit(this);
    filter_->setPlaceholderText(QStringLiteral("ﾌｨﾙﾀｰ"));
    filter_->setClearButtonEnabled(true);
    filter_->setMaximumWidth(320);
    connect(filter_, &QLineEdit::textChanged, proxy_, &QSortFilterProxyModel::setFilterFixedString);
    layout->addWidget(filter_);

    view_ = new QTableView(this);
    view_->setModel(proxy_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setAlternatingRowColors(true);
    view_->setShowGrid(false);
    view_->setWordWrap(false);
    // The end of a path is its name; a failure's message is in the tooltip as well.
    view_->setTextElideMode(Qt::ElideMiddle);
    view_->setIconSize(QSize(16, 16));
    view_->verticalHeader()->hide();
    // Rows of one fixed height: the view never measures ten thousand of them.
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 6);
    QHeaderView* header = view_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(ChangeRecordModel::kPath, QHeaderView::Stretch);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    // The record's own order first (no column sorted); a click on a header sorts by it.
    header->setSortIndicator(-1, Qt::AscendingOrder);
    view_->setSortingEnabled(true);
    QPalette palette = view_->palette();
    palette.setColor(QPalette::AlternateBase, QColor(240, 240, 255));
    // The selection stays as visible when the filter field has the focus.
    for (const auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
        palette.setBrush(QPalette::Inactive, role, palette.brush(QPalette::Active, role));
    }
    view_->setPalette(palette);
    connect(view_, &QAbstractItemView::doubleClicked, this, &CResultsDlg::OpenFolderOf);
    layout->addWidget(view_, 1);

    close_ = new BitmapButton(QStringLiteral("閉じる"), this);
    connect(close_, &QAbstractButton::clicked, this, &QDialog::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close_);
    layout->addLayout(buttons);

    setMinimumSize(480, 300);
    resize(900, 560);
    Load(recordPath);
}

void CResultsDlg::Load(const std::string& recordPath) {
    recordPath_ = recordPath;
    RecordContents contents;
    const bool read = !recordPath.empty() && ReadChangeRecord(recordPath, contents);
    if (!read) {
        contents = RecordContents{};
    }
    filter_->clear();
    model_->SetItems(std::move(contents.items));
    if (read) {
        ShowHeader(contents);
    } else {
        sourceFolder_.clear();
        targetFolder_.clear();
        facts_->setText(recordPath.empty() ? QStringLiteral("記録がありません。")
                                           : QStringLiteral("記録がありません。 ") +
                                                 QFile::decodeName(recordPath.c_str()));
    }
    counts_->setVisible(read);
    end_->setVisible(read);
    FitColumns();
}

void CResultsDlg::ShowHeader(const RecordContents& contents) {
    const std::map<std::string, std::string> fields = HeaderFields(contents.headerLines);
    const auto field = [&](const char* key) {
        const auto found = fields.find(key);
        return found != fields.end() ? found->second : std::string();
    };
    sourceFolder_ = UnescapeField(field("source"));
    targetFolder_ = UnescapeField(field("target"));

    QStringList facts;
    facts << RunText(field("run"));
    if (const QString preset = PresetText(field("preset")); !preset.isEmpty()) {
        facts << preset;
    }
    // The folders as the record writes them: one line, odd bytes escaped.
    facts << QString::fromStdString(field("source")) + QStringLiteral(" → ") +
                 QString::fromStdString(field("target"));
    facts << StartText(field("started")) + QStringLiteral(" 開始");
    facts_->setText(facts.join(QStringLiteral("  ")));

    QStringList counts;
    for (const ChangeAction action :
         {ChangeAction::DeleteFile, ChangeAction::DeleteFolder, ChangeAction::CopyNew,
          ChangeAction::CopyChanged, ChangeAction::CreateFolder, ChangeAction::Failed}) {
        counts << ChangeRecordModel::ActionText(action) + QLatin1Char(' ') +
                      ChangeRecordModel::SizeText(
                          static_cast<std::uint64_t>(model_->count(action)));
    }
    // Only a run that kept versions counts them.
    if (const int kept = model_->count(ChangeAction::KeepVersion); kept > 0) {
        counts << ChangeRecordModel::ActionText(ChangeAction::KeepVersion) + QLatin1Char(' ') +
                      ChangeRecordModel::SizeText(static_cast<std::uint64_t>(kept));
    }
    counts_->setText(counts.join(QStringLiteral("  ")));
    end_->setText(EndText(contents.endLine));
}

void CResultsDlg::ShowModeless(QWidget* owner) {
    PlaceOver(this, owner != nullptr ? owner : DefaultOwner(this));
    show();
    raise();
    activateWindow();
}

QString CResultsDlg::FolderOfItem(int modelRow) const {
    const ChangeItem& item = model_->item(modelRow);
    const std::string& base = item.side == ChangeSide::Source ? sourceFolder_ : targetFolder_;
    std::string folder = base;
    if (const std::size_t slash = item.path.rfind('/'); slash != std::string::npos) {
        // A base of "/" ends with its separator already. Appended piece by piece: GCC 12 at -O3
        // takes `"/" + ...` for an overlapping copy (-Wrestrict, a false positive).
        if (!folder.ends_with('/')) {
            folder += '/';
        }
        folder.append(item.path, 0, slash);
    }
    // A deleted folder takes the folders of its items with it: the nearest one left is shown.
    std::error_code error;
    while (folder.size() > base.size() && !std::filesystem::is_directory(folder, error)) {
        folder.resize(folder.rfind('/'));
    }
    return FolderText(folder);
}

void CResultsDlg::OpenFolderOf(const QModelIndex& viewIndex) {
    const QModelIndex index = proxy_->mapToSource(viewIndex);
    if (index.isValid()) {
        OpenFolder(FolderOfItem(index.row()));
    }
}

// Every column but the path as wide as its widest text can be (or its title), the path takes
// the rest of the width, whatever the window's; the user may change the others afterwards.
void CResultsDlg::FitColumns() {
    const QFontMetrics cells = view_->fontMetrics();
    const QFontMetrics titles = view_->horizontalHeader()->fontMetrics();
    constexpr int kPadding = 14;
    constexpr int kSortArrow = 22;
    std::uint64_t largest = 0;
    for (const ChangeItem& item : model_->items()) {
        largest = std::max({largest, item.before.size, item.after.size});
    }
    const auto widest = [&](std::initializer_list<QString> texts) {
        int width = 0;
        for (const QString& text : texts) {
            width = std::max(width, cells.horizontalAdvance(text));
        }
        return width;
    };
    int actionWidth = 0;
    for (const ChangeAction action :
         {ChangeAction::DeleteFile, ChangeAction::DeleteFolder, ChangeAction::CopyNew,
          ChangeAction::CopyChanged, ChangeAction::CreateFolder, ChangeAction::Failed,
          ChangeAction::KeepVersion}) {
        actionWidth =
            std::max(actionWidth, cells.horizontalAdvance(ChangeRecordModel::ActionText(action)));
    }
    const int sizeWidth =
        widest({ChangeRecordModel::SizeText(std::max<std::uint64_t>(largest, 999999))});
    const int timeWidth = widest({QStringLiteral("0000/00/00 00:00:00")});
    const int contents[ChangeRecordModel::kColumnCount] = {
        view_->iconSize().width() + 6 + actionWidth,
        widest({ChangeRecordModel::SideText(ChangeSide::Source),
                ChangeRecordModel::SideText(ChangeSide::Target)}),
        0,
        sizeWidth,
        timeWidth,
        sizeWidth,
        timeWidth};
    for (int column = 0; column < ChangeRecordModel::kColumnCount; ++column) {
        if (column == ChangeRecordModel::kPath) {
            continue;
        }
        const QString title = model_->headerData(column, Qt::Horizontal).toString();
        const int width = std::max(contents[column] + kPadding,
                                   titles.horizontalAdvance(title) + kPadding + kSortArrow);
        view_->setColumnWidth(column, width);
    }
}

}  // namespace mirova::ui
