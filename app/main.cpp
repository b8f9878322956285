#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/console/ConsoleCommand.h"
#include "app/desktop/CMirovaApp.h"
#include "engine/AutoRunList.h"

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// A platform plugin named in QT_QPA_PLATFORM (offscreen, for tests) needs no display server.
bool HasDisplay() {
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // A console command anywhere makes it the console's command line; otherwise it is the
    // desktop program's, whose unknown arguments (dashes included) are ignored.
    if (mirova::HasConsoleCommand(arguments)) {
        return mirova::RunConsole(arguments, std::cin, std::cout, std::cerr);
    }
    if (!HasDisplay()) {
        // A scheduled "/A" list runs without a display too: the console front end runs it.
        mirova::RunState state;
        mirova::ParseAutoRunArguments(arguments, state);
        if (state.autoRunCount > 0) {
            return mirova::RunConsole(arguments, std::cin, std::cout, std::cerr);
        }
        std::cerr << "mirova: the desktop program needs a display (DISPLAY or WAYLAND_DISPLAY); "
                     "see mirova --help for the console commands.\n";
        return mirova::kExitUsage;
    }
    QApplication application(argc, argv);
    mirova::CMirovaApp app;
    return app.InitInstance(arguments);
}
