#pragma once

#include <string>
#include <vector>

#include "engine/RunState.h"

namespace mirova {

// Reads one number of a "/A" list at cursor and moves the cursor past it and past one comma
// after it. At the end of the text it returns 0 without moving; a character that is neither a
// digit nor a comma is never passed, so every further read returns 0.
int ReadListNumber(const char*& cursor);

// Reads "/D" (suppressDeletion) and "/A" followed by a comma-separated list of preset numbers
// (noStopOnError, autoRunPresets, autoRunCount) from the program's arguments (without the
// program name). Arguments match exactly, case-sensitively; others are ignored. A list holds at
// most 30 numbers, each kept as its low 8 bits; a second "/A" continues the list and never
// overflows it. Returns whether "/A" or "/D" was present.
bool ParseAutoRunArguments(const std::vector<std::string>& arguments, RunState& state);

}  // namespace mirova
