#pragma once

#include <string>

#include "platform/SysStatus.h"

namespace mirova {

// The file side of the preset data file, shared by the console commands and the menu commands
// of the main window.

// The question asked before a preset data file replaces the stored presets.
inline constexpr const char* kLoadPresetDataQuestion =
    "ﾌﾟﾘｾｯﾄﾃﾞｰﾀを読込むと、現在のﾌﾟﾘｾｯﾄﾃﾞｰﾀ全てが上書きされます。\nﾌﾟﾘｾｯﾄﾃﾞｰﾀを読込みますか？";

// Writes a temporary file beside `path` and renames it over `path`, so that a reader never sees
// a half-written file and a failure (a full disk, an interrupted save) leaves an existing file
// as it was. A link at `path` is written through: the file it points to gets the content.
platform::SysStatus ReplaceFileContents(const std::string& path, const std::string& bytes);

// Reads a whole regular file into `bytes`; returns why it could not ("" when it could). A FIFO
// is refused instead of waited on, and a file far larger than any preset data is not read.
std::string ReadPresetDataBytes(const std::string& path, std::string& bytes);

// What the user is told of a damaged preset data file, in both front ends: the file, the
// decoder's finding and that nothing was changed.
std::string DamagedPresetDataText(const std::string& file, const std::string& problem);

}  // namespace mirova
