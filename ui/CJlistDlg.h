#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <functional>

class QAction;
class QMenu;
class QTreeWidget;

namespace mirova {
class ExclusionList;
}

namespace mirova::ui {

class BitmapButton;
class ExclusionView;

// "除外リスト編集": the two exclusion lists, names and extensions, each as a one-column list.
// Rows are added by double-clicking the empty area below them, edited in place (any text,
// empty too) and deleted through the context menu after a question. OK puts the rows back into
// the lists in their order; Cancel, Esc and the close box leave the lists as they were. Every
// opening shows the lists afresh. The object edits the lists it is given and may be opened any
// number of times.
class CJlistDlg : public QDialog {
    Q_OBJECT
public:
    // Asks the user: text and style (0 OK, 4 Yes/No) in, the pressed button out.
    using AskUser = std::function<int(const QString& text, int type)>;

    // Each list holds at most this many rows, as the lists do.
    static constexpr int kMaxRows = 100;

    CJlistDlg(ExclusionList& lists, AskUser askUser, QWidget* parent = nullptr);

    // The view a context menu belongs to: none, the name view or the extension view.
    enum class ContextList { None = 0, Names = 1, Extensions = 2 };

    // Decides from the pointer position (screen coordinates) which view the context menu
    // belongs to and enables "削除" only when that view has selected rows; a request from the
    // keyboard belongs to none. contextMenuEvent calls it before it shows the menu; tests call
    // it directly.
    void PrepareContextMenu(const QPoint& globalPos, bool fromKeyboard = false);
    // "削除": after a Yes to the question, deletes the selected rows of the view the last context
    // menu belonged to, and only of that one.
    void OnDelete();

    // For tests and screenshots.
    QTreeWidget* nameView() const;
    QTreeWidget* extensionView() const;
    BitmapButton* okButton() const { return ok_; }
    BitmapButton* cancelButton() const { return cancel_; }
    QMenu* contextMenu() const { return menu_; }
    QAction* deleteAction() const { return delete_; }
    ContextList contextList() const { return contextList_; }

    void accept() override;  // OK: the rows become the lists

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ExclusionView* MakeView(const QString& title, int columnWidth);
    void FillViews();
    void AddRow(ExclusionView* view);
    ExclusionView* ViewOf(ContextList list) const;

    ExclusionList& lists_;
    AskUser askUser_;
    QIcon rowIcon_;
    ExclusionView* nameView_;
    ExclusionView* extensionView_;
    BitmapButton* cancel_;
    BitmapButton* ok_;
    QMenu* menu_;
    QAction* delete_;
    ContextList contextList_ = ContextList::None;
};

}  // namespace mirova::ui
