#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>

#include "engine/RunUi.h"

namespace mirova {

class CMirovaApp;

// The front end of runs in the desktop program. Message boxes go through the application's
// routing; a box requested by the scan worker is shown by the GUI thread while the worker
// waits. Progress and status windows are CProgressDlg and CStatusDlg; the shell's "open" is
// QDesktopServices; posted calls are queued onto the GUI thread.
class GuiRunUi final : public QObject, public RunUi {
    Q_OBJECT
public:
    GuiRunUi(CMirovaApp& app, QWidget* mainWindow);

    int DoMessageBox(const std::string& text, int style) override;
    std::unique_ptr<ProgressWindow> ShowProgressWindow() override;
    std::unique_ptr<StatusWindow> ShowStatusWindow() override;
    void OpenWithShell(const std::string& path) override;
    void PostToRunThread(std::function<void()> call) override;

private:
    CMirovaApp& app_;
    QPointer<QWidget> mainWindow_;
};

}  // namespace mirova
