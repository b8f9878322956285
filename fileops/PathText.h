#pragma once

#include <string>
#include <string_view>

namespace mirova {

// The separator between path components.
inline constexpr char kPathSeparator = '/';

// Removes one trailing separator: "/data/" becomes "/data" and the root "/" becomes "", so that
// base + "/" + name is right in every case. Any other text is returned unchanged.
std::string StripTrailingBackslash(std::string_view path);

// The folder that a base folder names, to be opened or created: the base without a trailing
// separator, and "/" for the root, which strips to "". Never "." for an empty text: an empty
// base names no folder, and items must never be resolved against the current folder.
std::string FolderToOpen(std::string_view base);

// base + "/" + name.
std::string JoinPath(std::string_view base, std::string_view name);

}  // namespace mirova
