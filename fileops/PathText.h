#pragma once

#include <string>
#include <string_view>

namespace mirova {

// The separator between path components.
inline constexpr char kPathSeparator = '/';

// Removes one trailing separator: "/data/" becomes "/data" and the root "/" becomes "", so that
// base + "/" + name is right in every case. Any other text is returned unchanged.
std::string StripTrailingBackslash(std::string_view path);

// base + "/" + name.
std::string JoinPath(std::string_view base, std::string_view name);

}  // namespace mirova
