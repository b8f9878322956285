#include "ui/CJlistDlg.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include "fileops/MessageBox.h"
#include "settings/ExclusionList.h"
#include "ui/BitmapButton.h"
#include "ui/DialogParts.h"
#include "ui/Look.h"

namespace mirova::ui {

// One list of the editor: a report-like list with a header, full-row and multiple selection,
// rows edited in place after a click on a selected row or F2.
class ExclusionView final : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;

    bool editing() const { return state() == EditingState; }

    // Ends an open in-place edit and keeps its text, as leaving the field would.
    void FinishEditing() {
        for (int row = 0; row < topLevelItemCount(); ++row) {
            if (QWidget* editor = indexWidget(indexFromItem(topLevelItem(row)))) {
                commitData(editor);
                closeEditor(editor, QAbstractItemDelegate::NoHint);
            }
        }
    }

    // The view's area inside its frame, header and scroll bars included, in screen coordinates.
    QRect clientRectOnScreen() const {
        const QRect inside = contentsRect();
        return QRect(mapToGlobal(inside.topLeft()), inside.size());
    }
};

namespace {

const QString kDeleteQuestion = QStringLiteral("  本当に削除しますか？    ");

// The picture of the name rows: a black square outline on a transparent ground.
QPixmap RowPicture() {
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setPen(QColor(0, 0, 0));
    painter.drawRect(0, 0, 15, 15);
    return picture;
}

// A view with a picture list keeps room for a picture in every row, whether the row has one or
// not, so that the texts of all its rows start at one indent.
class PictureRoomDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!option->features.testFlag(QStyleOptionViewItem::HasDecoration)) {
            option->features |= QStyleOptionViewItem::HasDecoration;
            if (const auto* view = qobject_cast<const QAbstractItemView*>(option->widget)) {
                option->decorationSize = view->iconSize();
            }
        }
    }
};

QTreeWidgetItem* NewRow(QTreeWidget* view, const QString& text) {
    auto* item = new QTreeWidgetItem(view, QStringList{text});
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    return item;
}

}  // namespace

CJlistDlg::CJlistDlg(ExclusionList& lists, AskUser askUser, QWidget* parent)
    : QDialog(parent), lists_(lists), askUser_(std::move(askUser)), rowIcon_(RowPicture()) {
    SetUpDialogWindow(this, QStringLiteral("除外リスト編集"), 296, 259);
    const DialogUnits units(DialogFont());

    // Made in the order of the template, which is also the tab order.
    nameView_ = MakeView(QStringLiteral("除外するファイル"), 292);
    nameView_->setGeometry(units.rect(9, 10, 169, 217));
    extensionView_ = MakeView(QStringLiteral("除外する拡張子"), 172);
    extensionView_->setGeometry(units.rect(186, 10, 101, 217));

    // The buttons take the size of their pictures; only their corners come from the template.
    cancel_ = new BitmapButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cancel_->move(units.x(182), units.y(237));
    connect(cancel_, &QAbstractButton::clicked, this, &QDialog::reject);
    ok_ = new BitmapButton(QStringLiteral("OK"), this);
    ok_->move(units.x(237), units.y(237));
    connect(ok_, &QAbstractButton::clicked, this, &CJlistDlg::accept);

    menu_ = new QMenu(this);
    delete_ = menu_->addAction(QStringLiteral("削除"));
    connect(delete_, &QAction::triggered, this, &CJlistDlg::OnDelete);
}

QTreeWidget* CJlistDlg::nameView() const {
    return nameView_;
}

QTreeWidget* CJlistDlg::extensionView() const {
    return extensionView_;
}

ExclusionView* CJlistDlg::MakeView(const QString& title, int columnWidth) {
    auto* view = new ExclusionView(this);
    view->setColumnCount(1);
    view->setHeaderLabels({title});
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setExpandsOnDoubleClick(false);
    view->setUniformRowHeights(true);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setAllColumnsShowFocus(true);
    view->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    view->setIconSize(QSize(16, 16));
    view->setItemDelegate(new PictureRoomDelegate(view));
    // One column of a fixed width, which may be wider than the view: the view then scrolls.
    QHeaderView* header = view->header();
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->resizeSection(0, columnWidth);
    // The selection stays as visible when the other view or a button has the focus.
    QPalette palette = view->palette();
    for (const auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
        palette.setBrush(QPalette::Inactive, role, palette.brush(QPalette::Active, role));
    }
    view->setPalette(palette);
    view->viewport()->installEventFilter(this);
    return view;
}

void CJlistDlg::FillViews() {
    nameView_->clear();
    for (const std::string& name : lists_.names()) {
        NewRow(nameView_, QString::fromStdString(name))->setIcon(0, rowIcon_);
    }
    extensionView_->clear();
    for (const std::string& extension : lists_.extensions()) {
        NewRow(extensionView_, QString::fromStdString(extension));
    }
}

void CJlistDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        // Nothing of an earlier opening's rows survives: the lists are shown as they are now.
        FillViews();
        nameView_->setFocus();
        if (parentWidget() == nullptr) {
            PlaceOver(this, DefaultOwner(this));
        }
    }
    QDialog::showEvent(event);
}

bool CJlistDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        for (ExclusionView* view : {nameView_, extensionView_}) {
            // A double-click on a row is the view's own; below the rows (or right of the
            // column) it adds one.
            if (watched == view->viewport() && mouse->button() == Qt::LeftButton &&
                view->itemAt(mouse->position().toPoint()) == nullptr) {
                AddRow(view);
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CJlistDlg::AddRow(ExclusionView* view) {
    if (view->topLevelItemCount() >= kMaxRows) {
        askUser_(QStringLiteral("除外リストには %1 個までしか登録できません。").arg(kMaxRows),
                 kMbOk);
        return;
    }
    // A new row has no picture, in either view, but keeps the room for one.
    QTreeWidgetItem* item = NewRow(view, QString());
    view->clearSelection();
    view->setCurrentItem(item);
    view->scrollToItem(item);
    view->editItem(item, 0);
}

ExclusionView* CJlistDlg::ViewOf(ContextList list) const {
    switch (list) {
        case ContextList::Names:
            return nameView_;
        case ContextList::Extensions:
            return extensionView_;
        case ContextList::None:
            break;
    }
    return nullptr;
}

void CJlistDlg::PrepareContextMenu(const QPoint& globalPos, bool fromKeyboard) {
    contextList_ = ContextList::None;
    if (!fromKeyboard) {
        if (nameView_->clientRectOnScreen().contains(globalPos)) {
            contextList_ = ContextList::Names;
        }
        if (extensionView_->clientRectOnScreen().contains(globalPos)) {
            contextList_ = ContextList::Extensions;
        }
    }
    const ExclusionView* view = ViewOf(contextList_);
    delete_->setEnabled(view != nullptr && !view->selectedItems().isEmpty());
}

void CJlistDlg::contextMenuEvent(QContextMenuEvent* event) {
    // A request from the keyboard points into no view, so "削除" is always grayed then.
    PrepareContextMenu(event->globalPos(), event->reason() == QContextMenuEvent::Keyboard);
    menu_->exec(event->globalPos());
    event->accept();
}

void CJlistDlg::OnDelete() {
    if (askUser_(kDeleteQuestion, kMbYesNo) != kIdYes) {
        return;
    }
    ExclusionView* view = ViewOf(contextList_);
    if (view == nullptr) {
        return;
    }
    // From the last row up, so that the rows still to be looked at keep their numbers.
    for (int row = view->topLevelItemCount() - 1; row >= 0; --row) {
        if (view->topLevelItem(row)->isSelected()) {
            delete view->takeTopLevelItem(row);
        }
    }
}

void CJlistDlg::accept() {
    // A field still open (OK pressed without leaving it) counts with the text it shows.
    nameView_->FinishEditing();
    extensionView_->FinishEditing();
    lists_.Clear();
    for (int row = 0; row < nameView_->topLevelItemCount(); ++row) {
        lists_.AddName(nameView_->topLevelItem(row)->text(0).toStdString());
    }
    for (int row = 0; row < extensionView_->topLevelItemCount(); ++row) {
        lists_.AddExtension(extensionView_->topLevelItem(row)->text(0).toStdString());
    }
    QDialog::accept();
}

void CJlistDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QDialog::keyPressEvent(event);  // Esc cancels
        return;
    }
    // The Return that ends an in-place edit belongs to the edit. Elsewhere Return is OK, or
    // the Cancel button when that has the focus.
    if (nameView_->editing() || extensionView_->editing()) {
        event->accept();
        return;
    }
    if (focusWidget() == cancel_) {
        reject();
    } else {
        accept();
    }
}

}  // namespace mirova::ui
