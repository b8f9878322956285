#include "ui/CProgressDlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>

#include "ui/BitmapButton.h"
#include "ui/DialogParts.h"
#include "ui/Look.h"

namespace mirova::ui {

namespace {

bool IsInside(const QWidget* widget, const QWidget* ancestor) {
    for (const QWidget* w = widget->parentWidget(); w != nullptr; w = w->parentWidget()) {
        if (w == ancestor) {
            return true;
        }
    }
    return false;
}

}  // namespace

CProgressDlg::CProgressDlg(QWidget* parent) : QDialog(parent) {
    SetUpDialogWindow(this, QStringLiteral("FileMirova"), 306, 80);
    const DialogUnits units(DialogFont());
    status_ = AddStaticText(this, units.rect(11, 7, 286, 8), QString());
    // A path has no spaces to break at; a long one is cut at the right, its start stays legible.
    status_->setWordWrap(false);
    percent_ = AddStaticText(this, units.rect(145, 23, 18, 8), QStringLiteral(" 0 %"));
    bar_ = new QProgressBar(this);
    bar_->setGeometry(units.rect(15, 34, 278, 13));
    bar_->setTextVisible(false);
    bar_->setRange(lower_, upper_);
    bar_->setValue(position_);
    cancel_ = new BitmapButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cancel_->move(units.x(126), units.y(59));
    connect(cancel_, &QAbstractButton::clicked, this, &CProgressDlg::reject);
}

CProgressDlg::~CProgressDlg() {
    EnableOwnerAgain();
}

int CProgressDlg::ShowModeless(QWidget* owner) {
    QWidget* chosen = owner != nullptr ? owner->window() : DefaultOwner(this);
    owner_ = chosen;
    if (chosen != nullptr && chosen->isEnabled()) {
        chosen->setEnabled(false);
        ownerDisabled_ = true;
        // Disabling a widget disables its child windows too; this one must stay usable.
        if (IsInside(this, chosen)) {
            setEnabled(true);
        }
    }
    PlaceOver(this, chosen);
    show();
    return 1;
}

void CProgressDlg::SetStatusLine(const std::string& text) {
    status_->setText(QString::fromStdString(text));
}

void CProgressDlg::SetBarRange(int lower, int upper) {
    lower_ = lower;
    upper_ = upper;
    bar_->setRange(lower, upper);
    position_ = qBound(lower, position_, qMax(lower, upper));
    bar_->setValue(position_);
}

void CProgressDlg::SetBarStep(int step) {
    step_ = step;
}

void CProgressDlg::PumpWaitingMessages() {
    QCoreApplication::processEvents();
}

int CProgressDlg::StepBar() {
    PumpWaitingMessages();
    const int before = position_;
    int next = before + step_;
    // The bar wraps: a step beyond either end starts it again from the lower end.
    if (upper_ != lower_ && (next > upper_ || next < lower_)) {
        const int span = upper_ - lower_;
        int offset = (next - lower_) % span;
        if (offset < 0) {
            offset += span;
        }
        next = lower_ + offset;
    }
    position_ = next;
    bar_->setValue(position_);
    ShowPercent(before + step_);
    return before;
}

void CProgressDlg::ShowPercent(int position) {
    int percent = 0;  // an empty range shows 0% instead of dividing by zero
    if (upper_ != lower_) {
        percent =
            static_cast<int>(static_cast<long long>(position - lower_) * 100 / (upper_ - lower_));
        // Beyond the end the bar has wrapped, and so does the figure; the end itself stays 100.
        if (percent != 100) {
            percent %= 100;
        }
    }
    const QString text = QString::asprintf("%d%%", percent);
    if (percent_->text() != text) {
        percent_->setText(text);
    }
}

void CProgressDlg::EnableOwnerAgain() {
    if (ownerDisabled_ && owner_ != nullptr) {
        owner_->setEnabled(true);
    }
    ownerDisabled_ = false;
}

bool CProgressDlg::TakeCancelRequest() {
    PumpWaitingMessages();
    const bool requested = cancelRequested_;
    cancelRequested_ = false;
    return requested;
}

QString CProgressDlg::percentText() const {
    return percent_->text();
}

int CProgressDlg::barPosition() const {
    return position_;
}

void CProgressDlg::reject() {
    cancelRequested_ = true;
}

void CProgressDlg::accept() {}

void CProgressDlg::closeEvent(QCloseEvent* event) {
    cancelRequested_ = true;
    event->ignore();
}

}  // namespace mirova::ui
