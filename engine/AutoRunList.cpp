#include "engine/AutoRunList.h"

#include <cstdint>

namespace mirova {

int ReadListNumber(const char*& cursor) {
    if (*cursor == '\0') {
        return 0;
    }
    // Unsigned arithmetic wraps instead of overflowing on a long run of digits; only the low
    // 8 bits of the number are kept in the list anyway.
    unsigned value = 0;
    while (*cursor >= '0' && *cursor <= '9') {
        value = value * 10u + static_cast<unsigned>(*cursor - '0');
        ++cursor;
    }
    if (*cursor == ',') {
        ++cursor;
    }
    return static_cast<int>(value);
}

bool ParseAutoRunArguments(const std::vector<std::string>& arguments, RunState& state) {
    bool found = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "/D") {
            state.suppressDeletion = 1;
            found = true;
        } else if (argument == "/A") {
            state.noStopOnError = 1;
            found = true;
            if (i + 1 == arguments.size()) {
                continue;
            }
            // The list argument is not consumed: the loop meets it next as an ordinary argument,
            // which matches no option. A second "/A" appends to the list read so far, so that
            // the count always equals the entries filled and never passes the list's room.
            const char* cursor = arguments[i + 1].c_str();
            int& count = state.autoRunCount;
            while (count < kAutoRunCapacity && *cursor != '\0') {
                state.autoRunPresets[count] = static_cast<std::int8_t>(ReadListNumber(cursor));
                ++count;
            }
        }
    }
    return found;
}

}  // namespace mirova
