#include <QApplication>
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/CMirovaApp.h"
#include "app/ConsoleCommand.h"
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

// The console's options all start with a dash; the desktop program's ("/A", "/D") never do.
bool IsConsoleCommand(const std::vector<std::string>& arguments) {
    return std::any_of(arguments.begin(), arguments.end(),
                       [](const std::string& argument) { return argument.starts_with('-'); });
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (IsConsoleCommand(arguments)) {
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
