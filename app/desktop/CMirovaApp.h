#pragma once

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "engine/RunState.h"
#include "platform/InstanceGuard.h"

class QWidget;

namespace mirova {

class SettingsStore;

// Names, style, font and Qt's translation of the desktop program's process, as its start
// sets them.
void ConfigureApplication();

// The application: fixes the settings location, takes the single-instance guard, reads the
// command line into the run state, and runs the main dialog modally. It also routes every
// message box: OK (0) and Yes/No (4) to CMessageBox, every other kind to the standard box
// captioned "Mirova".
class CMirovaApp {
public:
    CMirovaApp();
    ~CMirovaApp();

    // Runs the program with its arguments (without the program name); returns the exit status.
    int InitInstance(const std::vector<std::string>& arguments);

    // Shows a box and returns the button (1 OK, 6 Yes, 7 No, 3 Abort, 4 Retry, 5 Ignore,
    // 2 Cancel). Must be called on the GUI thread.
    int DoMessageBox(const QString& prompt, int type, int helpId = 0);

    // Tests replace the boxes with scripted answers.
    using BoxHook = std::function<int(const QString& prompt, int type)>;
    void SetMessageBoxHookForTesting(BoxHook hook) { boxHook_ = std::move(hook); }

    RunState& runState() { return runState_; }

private:
    RunState runState_;
    platform::InstanceGuard guard_;
    BoxHook boxHook_;
};

}  // namespace mirova
