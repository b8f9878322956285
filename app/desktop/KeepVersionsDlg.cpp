#include "app/desktop/KeepVersionsDlg.h"

#include <QLabel>
#include <QSpinBox>

#include "engine/RunState.h"
#include "ui/BitmapButton.h"
#include "ui/DialogParts.h"
#include "ui/Look.h"

namespace mirova {

KeepVersionsDlg::KeepVersionsDlg(int days, QWidget* parent) : QDialog(parent) {
    ui::SetUpDialogWindow(this, QStringLiteral("旧ﾊﾞｰｼﾞｮﾝの保存"), 226, 92);
    const ui::DialogUnits units(ui::DialogFont());

    ui::AddStaticText(this, units.rect(10, 8, 206, 36),
                      QStringLiteral("同期で削除・上書きされるﾌｧｲﾙを、そのﾌｫﾙﾀﾞの "
                                     ".mirova-versions に保存します。\n"
                                     "保存する日数を入力してください。"));
    ui::AddStaticText(this, units.rect(10, 50, 40, 10), QStringLiteral("保存日数"));
    days_ = new QSpinBox(this);
    days_->setRange(1, kMaxKeepVersionDays);
    days_->setSuffix(QStringLiteral(" 日"));
    days_->setValue(days);
    days_->setGeometry(units.rect(52, 48, 60, 14));

    // The buttons take the size of their pictures; only their corners are placed.
    cancel_ = new ui::BitmapButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cancel_->move(units.x(112), units.y(70));
    connect(cancel_, &QAbstractButton::clicked, this, &QDialog::reject);
    ok_ = new ui::BitmapButton(QStringLiteral("OK"), this);
    ok_->move(units.x(167), units.y(70));
    connect(ok_, &QAbstractButton::clicked, this, &QDialog::accept);
    days_->setFocus();
}

int KeepVersionsDlg::days() const {
    days_->interpretText();
    return days_->value();
}

}  // namespace mirova
