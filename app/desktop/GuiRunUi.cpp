#include "app/desktop/GuiRunUi.h"

#include <QByteArray>
#include <QDesktopServices>
#include <QFile>
#include <QThread>
#include <QUrl>

#include "app/desktop/CMirovaApp.h"
#include "fileops/MessageBox.h"
#include "ui/CProgressDlg.h"
#include "ui/CStatusDlg.h"

namespace mirova {
namespace {

// What a worker's question gets when the GUI goes away before answering it: stop, never
// retry or agree.
int AnswerWithoutBox(int style) {
    switch (style) {
        case kMbYesNo:
            return kIdNo;
        case kMbAbortRetryIgnore:
            return kIdAbort;
        case kMbRetryCancel:
            return kIdCancel;
        default:
            return kIdOk;
    }
}

}  // namespace

GuiRunUi::GuiRunUi(CMirovaApp& app, QWidget* mainWindow) : app_(app), mainWindow_(mainWindow) {}

int GuiRunUi::DoMessageBox(const std::string& text, int style) {
    const QString prompt = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (QThread::currentThread() == thread()) {
        return app_.DoMessageBox(prompt, style);
    }
    // Widgets live on the GUI thread only: the box is shown there while this thread waits. If
    // this object dies before the call runs, Qt drops the call and releases the wait, and the
    // answer stays the one that stops.
    int answer = AnswerWithoutBox(style);
    QMetaObject::invokeMethod(
        this, [this, &prompt, style, &answer] { answer = app_.DoMessageBox(prompt, style); },
        Qt::BlockingQueuedConnection);
    return answer;
}

std::unique_ptr<ProgressWindow> GuiRunUi::ShowProgressWindow() {
    auto window = std::make_unique<ui::CProgressDlg>();
    window->ShowModeless(mainWindow_);
    return window;
}

std::unique_ptr<StatusWindow> GuiRunUi::ShowStatusWindow() {
    auto window = std::make_unique<ui::CStatusDlg>();
    window->ShowModeless(mainWindow_);
    return window;
}

void GuiRunUi::OpenWithShell(const std::string& path) {
    // A file name is bytes; decodeName keeps those that are not UTF-8.
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(bytes)));
}

void GuiRunUi::PostToRunThread(std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

}  // namespace mirova
