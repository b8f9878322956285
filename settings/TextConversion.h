#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

namespace mirova {

// Converts between the program's texts (UTF-8) and the two string forms of the preset data file:
// narrow CP932 and wide UTF-16LE. Every conversion is deterministic and total: what cannot be
// decoded becomes U+FFFD, so a decoded text is always well-formed UTF-8. One object holds its own
// iconv descriptors; use it from one thread at a time.
class PresetTextConverter {
public:
    PresetTextConverter();
    ~PresetTextConverter();
    PresetTextConverter(const PresetTextConverter&) = delete;
    PresetTextConverter& operator=(const PresetTextConverter&) = delete;

    // The CP932 bytes of text, only when they decode back to exactly the same text; false when
    // CP932 cannot hold it (an emoji, a malformed UTF-8 sequence, or a character that CP932 maps
    // onto another one, such as U+301C onto U+FF5E).
    bool ToCp932(std::string_view utf8, std::string& cp932);

    // CP932 bytes as UTF-8. A byte sequence that is no CP932 character becomes one U+FFFD per
    // offending byte and decoding goes on with the next byte, so the same bytes always give the
    // same text.
    std::string FromCp932(std::string_view cp932);

private:
    iconv_t toCp932_;
    iconv_t fromCp932_;
};

// UTF-8 as UTF-16LE bytes; each malformed UTF-8 byte becomes U+FFFD.
std::string Utf8ToUtf16Le(std::string_view utf8);
// UTF-16LE bytes (an even count) as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(std::string_view utf16le);

}  // namespace mirova
