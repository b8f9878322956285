#include "app/desktop/CMirovaApp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "app/common/QtSettingsStore.h"
#include "app/common/SingleCopy.h"
#include "app/desktop/CMirovaDlg.h"
#include "app/desktop/QtTranslation.h"
#include "engine/AutoRunList.h"
#include "fileops/MessageBox.h"
#include "fileops/RunLog.h"
#include "platform/FileSystem.h"
#include "ui/CMessageBox.h"
#include "ui/DialogParts.h"
#include "ui/Look.h"

namespace mirova {
namespace {

constexpr const char* kName = "Mirova";
constexpr const char* kCompany = "TK-ORVELAN";

// The buttons of the standard box for the button bits (low four) of a style word, with the
// number each one returns. `escape` answers Esc and the close box.
struct StandardButtons {
    std::vector<std::pair<QMessageBox::StandardButton, int>> buttons;
    QMessageBox::StandardButton escape;
};

StandardButtons ButtonsOf(int type) {
    switch (type & 0xF) {
        case 1:
            return {{{QMessageBox::Ok, kIdOk}, {QMessageBox::Cancel, kIdCancel}},
                    QMessageBox::Cancel};
        case kMbAbortRetryIgnore:
            return {{{QMessageBox::Abort, kIdAbort},
                     {QMessageBox::Retry, kIdRetry},
                     {QMessageBox::Ignore, kIdIgnore}},
                    QMessageBox::Ignore};
        case 3:
            return {{{QMessageBox::Yes, kIdYes},
                     {QMessageBox::No, kIdNo},
                     {QMessageBox::Cancel, kIdCancel}},
                    QMessageBox::Cancel};
        case kMbYesNo:
            return {{{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}}, QMessageBox::No};
        case kMbRetryCancel:
            return {{{QMessageBox::Retry, kIdRetry}, {QMessageBox::Cancel, kIdCancel}},
                    QMessageBox::Cancel};
        default:
            return {{{QMessageBox::Ok, kIdOk}}, QMessageBox::Ok};
    }
}

// The icon bits (0x10 stop, 0x20 question, 0x30 exclamation, 0x40 information).
QMessageBox::Icon IconOf(int type) {
    switch (type & 0xF0) {
        case 0x10:
            return QMessageBox::Critical;
        case 0x20:
            return QMessageBox::Question;
        case 0x30:
            return QMessageBox::Warning;
        case 0x40:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

int ShowStandardBox(const QString& prompt, int type) {
    const StandardButtons standard = ButtonsOf(type);
    QMessageBox box(IconOf(type), QString::fromLatin1(kName), prompt, QMessageBox::NoButton);
    for (const auto& [button, number] : standard.buttons) {
        box.addButton(button);
    }
    // The default-button bits (0x100 second, 0x200 third) pick one; otherwise the first.
    const std::size_t defaultIndex = static_cast<std::size_t>((type >> 8) & 0xF);
    box.setDefaultButton(
        standard.buttons[defaultIndex < standard.buttons.size() ? defaultIndex : 0].first);
    box.setEscapeButton(standard.escape);
    // The box lives on this stack frame, so no window owns it: a window closed by a nested
    // event loop while the box is open would delete it a second time. It is still kept above
    // the active window, which may be a progress window over the main one.
    box.adjustSize();
    ui::PlaceOver(&box, ui::DefaultOwner(&box));
    box.exec();
    const QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
    for (const auto& [button, number] : standard.buttons) {
        if (button == pressed) {
            return number;
        }
    }
    // Closed without a button (the application is ending): the answer of Esc.
    for (const auto& [button, number] : standard.buttons) {
        if (button == standard.escape) {
            return number;
        }
    }
    return kIdOk;
}

// The answer an end-to-end test gets: that of a user who declines or passes over, so that an
// unattended process never loops on Retry and never agrees to a question.
int AutomaticAnswer(int type) {
    switch (type & 0xF) {
        case 1:
        case 3:
        case kMbRetryCancel:
            return kIdCancel;
        case kMbAbortRetryIgnore:
            return kIdIgnore;
        case kMbYesNo:
            return kIdNo;
        default:
            return kIdOk;
    }
}

const char* AnswerName(int answer) {
    switch (answer) {
        case kIdCancel:
            return "Cancel";
        case kIdIgnore:
            return "Ignore";
        case kIdNo:
            return "No";
        default:
            return "OK";
    }
}

}  // namespace

CMirovaApp::CMirovaApp() = default;

CMirovaApp::~CMirovaApp() = default;

void ConfigureApplication() {
    // The settings live per user in TK-ORVELAN/Mirova; the store reads them from there. The
    // application's name stays "Mirova" whatever the executable is called. No display name is
    // set: Qt would append " — Mirova" to the title of every other window on X11, and the
    // standard boxes carry "Mirova" as their caption anyway.
    QCoreApplication::setOrganizationName(QString::fromLatin1(kCompany));
    QCoreApplication::setApplicationName(QString::fromLatin1(kName));
    QApplication::setStyle(QStringLiteral("Fusion"));
    if (QCoreApplication* application = QCoreApplication::instance()) {
        InstallQtTranslation(*application);
    }
    // Standard boxes and every window without a font of its own use the dialog font too.
    QApplication::setFont(ui::DialogFont());
}

int CMirovaApp::InitInstance(const std::vector<std::string>& arguments) {
    ConfigureApplication();
    QtSettingsStore store;

    if (const std::string refusal = TakeSingleCopyGuard(guard_); !refusal.empty()) {
        DoMessageBox(QString::fromStdString(refusal), kMbOk);
        return 1;
    }

    // A settings file that cannot be read would be replaced by the empty table when the
    // dialog saves its settings, losing every preset.
    if (!store.Flush()) {
        DoMessageBox(QString::fromStdString(store.UnreadableText()), kMbOk);
        return 1;
    }

    ParseAutoRunArguments(arguments, runState_);
    platform::RaiseOpenFileLimit();

    int status = 0;
    {
        CMirovaDlg dialog(*this, store);
        dialog.exec();
    }
    // The dialog has written its settings into the store; now they go to the file.
    if (!store.Flush()) {
        DoMessageBox(QString::fromStdString(store.UnwritableText()), kMbOk);
        status = 1;
    }
    return status;
}

int CMirovaApp::DoMessageBox(const QString& prompt, int type, int helpId) {
    if (boxHook_) {
        return boxHook_(prompt, type);
    }
    // MIROVA_TEST_AUTOANSWER: the hook of end-to-end tests that start the real program. No box
    // is shown; the prompt and the answer go to standard error, and every box is answered as
    // a user who declines or passes over would answer it.
    if (const char* autoAnswer = std::getenv("MIROVA_TEST_AUTOANSWER");
        autoAnswer != nullptr && *autoAnswer != '\0') {
        const int answer = AutomaticAnswer(type);
        std::fprintf(stderr, "%s\n-> %s (MIROVA_TEST_AUTOANSWER)\n", prompt.toUtf8().constData(),
                     AnswerName(answer));
        std::fflush(stderr);
        return answer;
    }
    if (type == kMbOk || type == kMbYesNo) {
        // No owning parent, for the reason the standard box has none; the box places itself
        // over the active window.
        ui::CMessageBox box(prompt, type, helpId, nullptr);
        return box.exec();
    }
    return ShowStandardBox(prompt, type);
}

}  // namespace mirova
