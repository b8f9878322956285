#pragma once

#include <QDialog>

#include "engine/RunUi.h"

class QLabel;

namespace mirova::ui {

// "ｽﾃｰﾀｽ": one line of text while a run scans its trees. Starts empty, repaints at once when
// its text changes (the GUI thread may be busy right after), and never closes on a key or the
// close box; destroying the object closes it.
class CStatusDlg : public QDialog, public StatusWindow {
    Q_OBJECT
public:
    explicit CStatusDlg(QWidget* parent = nullptr);
    // Centres the window on the owner's screen, keeps it above the owner and shows it.
    int ShowModeless(QWidget* owner);
    void SetStatusText(const std::string& text) override;
    QString text() const;

protected:
    void reject() override {}
    void accept() override {}
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* text_;
};

}  // namespace mirova::ui
