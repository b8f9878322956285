// Feeds arbitrary command lines to the reader of "/A" and "/D". The input is split at NUL bytes
// into arguments, as a process receives them; the list must never claim more entries than it
// holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/AutoRunList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.emplace_back();
        } else {
            arguments.back().push_back(static_cast<char>(data[i]));
        }
    }
    mirova::RunState state;
    mirova::ParseAutoRunArguments(arguments, state);
    if (state.autoRunCount < 0 || state.autoRunCount > mirova::kAutoRunCapacity) {
        std::abort();
    }
    return 0;
}
