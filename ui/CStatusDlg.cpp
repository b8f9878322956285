#include "ui/CStatusDlg.h"

#include <QCloseEvent>
#include <QLabel>

#include "ui/DialogParts.h"
#include "ui/Look.h"

namespace mirova::ui {

CStatusDlg::CStatusDlg(QWidget* parent) : QDialog(parent) {
    SetUpDialogWindow(this, QStringLiteral("ｽﾃｰﾀｽ"), 142, 47);
    // The window opens with an empty line until the run names what it is doing.
    text_ = AddStaticText(this, DialogUnits(DialogFont()).rect(11, 11, 119, 22), QString());
}

int CStatusDlg::ShowModeless(QWidget* owner) {
    PlaceOver(this, owner != nullptr ? owner : DefaultOwner(this), Placement::ScreenCentre);
    show();
    return 1;
}

void CStatusDlg::SetStatusText(const std::string& text) {
    text_->setText(QString::fromStdString(text));
    // The GUI thread goes on with the run right after this, without processing events.
    repaint();
}

QString CStatusDlg::text() const {
    return text_->text();
}

void CStatusDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
}

}  // namespace mirova::ui
