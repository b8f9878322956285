#pragma once

#include <QDialog>
#include <QPointer>

#include "fileops/Progress.h"

class QLabel;
class QProgressBar;

namespace mirova::ui {

class BitmapButton;

// The progress window of one list operation: caption "FileMirova", a status line, a wrapping
// bar with its percentage, and a Cancel button that only records the request. While it exists
// its owner (the main window) is disabled; it enables the owner again only if it disabled it.
// The work runs on the GUI thread, so TakeCancelRequest and StepBar let Qt process the waiting
// events.
class CProgressDlg : public QDialog, public ProgressWindow {
    Q_OBJECT
public:
    explicit CProgressDlg(QWidget* parent = nullptr);
    ~CProgressDlg() override;

    // Takes owner (none: the application's active main window), disables it, shows the window.
    int ShowModeless(QWidget* owner);
    void SetStatusLine(const std::string& text);
    void SetBarRange(int lower, int upper);
    void SetBarStep(int step);
    void PumpWaitingMessages();
    void ShowPercent(int position);
    void EnableOwnerAgain();

    // ProgressWindow
    void SetStatusText(const std::string& text) override { SetStatusLine(text); }
    void SetRange(int low, int high) override { SetBarRange(low, high); }
    void SetStep(int step) override { SetBarStep(step); }
    int StepBar() override;
    bool TakeCancelRequest() override;

    // For tests and screenshots.
    QString percentText() const;
    int barPosition() const;

protected:
    void reject() override;  // Esc and Cancel: the request is only recorded
    void accept() override;  // Enter does nothing
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* status_;
    QLabel* percent_;
    QProgressBar* bar_;
    BitmapButton* cancel_;
    int lower_ = 0;
    int upper_ = 100;
    int step_ = 10;
    int position_ = 0;
    bool cancelRequested_ = false;
    QPointer<QWidget> owner_;
    bool ownerDisabled_ = false;
};

}  // namespace mirova::ui
