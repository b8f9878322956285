#include <iostream>
#include <string>
#include <vector>

#include "app/ConsoleCommand.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return mirova::RunConsole(arguments, std::cin, std::cout, std::cerr);
}
