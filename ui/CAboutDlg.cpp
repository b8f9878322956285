#include <QKeySequence>
#include <QShortcut>

#include "ui/BitmapButton.h"
#include "ui/CMessageBox.h"
#include "ui/DialogParts.h"
#include "ui/Look.h"

namespace mirova::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    SetUpDialogWindow(this, QStringLiteral("Mirovaのﾊﾞｰｼﾞｮﾝ情報"), 235, 52);
    const DialogUnits units(DialogFont());
    AddStaticIcon(this, QPoint(units.x(13), units.y(13)), ProgramIcon());
    AddStaticText(this, units.rect(43, 12, 58, 8), QStringLiteral("Mirova Ver3.0.01"));
    auto* ok = new BitmapButton(QStringLiteral("OK"), this);
    ok->move(units.x(178), units.y(7));
    connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
    // Enter presses OK, as in any dialog whose OK button is its default.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        new QShortcut(QKeySequence(key), this, this, &QDialog::accept);
    }
    if (parent == nullptr) {
        PlaceOver(this, DefaultOwner(this));
    }
}

}  // namespace mirova::ui
