#pragma once

#include <string>

namespace mirova {

// printf into a string of whatever length the text needs (messages name paths of any length).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace mirova
