#pragma once

#include <cstddef>
#include <string_view>

namespace mirova::platform {

// The multibyte encodings a text of the program can be in. File names and the program's own
// texts are UTF-8 here; CP932 (Shift-JIS) is the encoding of the preset data file.
enum class TextEncoding { Utf8, Cp932 };

// Length in bytes of the character that starts at text[pos], so that a search steps over
// multibyte characters whole and never matches on a trailing byte. A broken or truncated
// sequence counts as one byte; the result never runs past the end of the text.
std::size_t CharLengthAt(std::string_view text, std::size_t pos,
                         TextEncoding encoding = TextEncoding::Utf8);

}  // namespace mirova::platform
