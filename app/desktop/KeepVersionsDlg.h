#pragma once

#include <QDialog>

class QSpinBox;

namespace mirova {

namespace ui {
class BitmapButton;
}

// Asks for the days that kept versions are kept, when the user turns keeping them on.
class KeepVersionsDlg : public QDialog {
    Q_OBJECT
public:
    // `days` is shown first (the last number used, or the default).
    explicit KeepVersionsDlg(int days, QWidget* parent = nullptr);

    int days() const;

    // For tests and screenshots.
    QSpinBox* daysField() const { return days_; }
    ui::BitmapButton* okButton() const { return ok_; }
    ui::BitmapButton* cancelButton() const { return cancel_; }

private:
    QSpinBox* days_ = nullptr;
    ui::BitmapButton* ok_ = nullptr;
    ui::BitmapButton* cancel_ = nullptr;
};

}  // namespace mirova
