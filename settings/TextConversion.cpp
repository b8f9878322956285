#include "settings/TextConversion.h"

#include <cerrno>
#include <cstdint>

#include "platform/TextStep.h"

namespace mirova {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";  // U+FFFD
constexpr char32_t kReplacement = 0xFFFD;

bool IsAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// Runs the whole input through cd. With replaceBadInput each byte that does not convert becomes
// U+FFFD (the output is UTF-8 then); without it the first such byte fails the conversion.
bool Convert(iconv_t cd, std::string_view input, std::string& output, bool replaceBadInput) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // Every input byte gives at most three output bytes in both directions used here.
    output.resize(input.size() * 3 + 4);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char* out = output.data();
    std::size_t outLeft = output.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1)) {
            break;
        }
        if (errno == E2BIG || outLeft < kReplacementUtf8.size()) {
            const std::size_t used = static_cast<std::size_t>(out - output.data());
            output.resize(output.size() * 2);
            out = output.data() + used;
            outLeft = output.size() - used;
            continue;
        }
        if (!replaceBadInput) {
            return false;  // EILSEQ (no such character) or EINVAL (cut-off sequence)
        }
        kReplacementUtf8.copy(out, kReplacementUtf8.size());
        out += kReplacementUtf8.size();
        outLeft -= kReplacementUtf8.size();
        ++in;
        --inLeft;
    }
    output.resize(static_cast<std::size_t>(out - output.data()));
    return true;
}

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

void AppendUtf16Unit(std::string& out, char32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

}  // namespace

PresetTextConverter::PresetTextConverter()
    : toCp932_(iconv_open("CP932", "UTF-8")), fromCp932_(iconv_open("UTF-8", "CP932")) {}

PresetTextConverter::~PresetTextConverter() {
    if (toCp932_ != kNoConverter) {
        iconv_close(toCp932_);
    }
    if (fromCp932_ != kNoConverter) {
        iconv_close(fromCp932_);
    }
}

bool PresetTextConverter::ToCp932(std::string_view utf8, std::string& cp932) {
    if (IsAscii(utf8)) {
        cp932.assign(utf8);
        return true;
    }
    // Without the converter (a system that lacks the CP932 module) every non-ASCII text goes
    // wide, which loses nothing.
    std::string converted;
    if (toCp932_ == kNoConverter || !Convert(toCp932_, utf8, converted, false)) {
        return false;
    }
    // CP932 folds some characters onto others (U+301C and U+FF5E both become 0x81 0x60); such a
    // text would come back changed, so it goes wide instead.
    if (FromCp932(converted) != utf8) {
        return false;
    }
    cp932 = std::move(converted);
    return true;
}

std::string PresetTextConverter::FromCp932(std::string_view cp932) {
    if (IsAscii(cp932)) {
        return std::string(cp932);
    }
    std::string utf8;
    if (fromCp932_ != kNoConverter) {
        Convert(fromCp932_, cp932, utf8, true);
        return utf8;
    }
    for (const char c : cp932) {
        if (static_cast<unsigned char>(c) < 0x80) {
            utf8 += c;
        } else {
            utf8 += kReplacementUtf8;
        }
    }
    return utf8;
}

std::string Utf8ToUtf16Le(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() * 2);
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const std::size_t length = platform::CharLengthAt(utf8, pos, platform::TextEncoding::Utf8);
        const auto lead = static_cast<unsigned char>(utf8[pos]);
        char32_t code;
        if (length == 1) {
            code = lead < 0x80 ? lead : kReplacement;  // a lone non-ASCII byte is malformed
        } else {
            // CharLengthAt accepts only well-formed sequences, so the bits can be taken as is.
            code = lead & (0xFF >> (length + 1));
            for (std::size_t i = 1; i < length; ++i) {
                code = (code << 6) | (static_cast<unsigned char>(utf8[pos + i]) & 0x3F);
            }
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            AppendUtf16Unit(out, 0xD800 | (code >> 10));
            AppendUtf16Unit(out, 0xDC00 | (code & 0x3FF));
        } else {
            AppendUtf16Unit(out, code);
        }
        pos += length;
    }
    return out;
}

std::string Utf16LeToUtf8(std::string_view utf16le) {
    std::string out;
    out.reserve(utf16le.size() * 3 / 2);
    const std::size_t units = utf16le.size() / 2;
    const auto unitAt = [&](std::size_t i) -> char32_t {
        return static_cast<unsigned char>(utf16le[2 * i]) |
               (static_cast<char32_t>(static_cast<unsigned char>(utf16le[2 * i + 1])) << 8);
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t unit = unitAt(i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const char32_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? kReplacement : unit);
    }
    if (utf16le.size() % 2 != 0) {
        out += kReplacementUtf8;  // half a unit at the end
    }
    return out;
}

}  // namespace mirova
