#include "platform/TextStep.h"

namespace mirova::platform {
namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Well-formed UTF-8 only: overlong forms, surrogates and values above U+10FFFF are broken
// sequences, whose lead byte then stands alone.
std::size_t Utf8Length(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            secondLow = 0xA0;  // below is an overlong form
        } else if (lead == 0xED) {
            secondHigh = 0x9F;  // above are the UTF-16 surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            secondLow = 0x90;  // below is an overlong form
        } else if (lead == 0xF4) {
            secondHigh = 0x8F;  // above is beyond U+10FFFF
        }
    } else {
        return 1;  // a continuation byte or a lead byte that UTF-8 never uses
    }
    if (text.size() - pos < length) {
        return 1;
    }
    const auto second = static_cast<unsigned char>(text[pos + 1]);
    if (second < secondLow || second > secondHigh) {
        return 1;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!IsContinuation(static_cast<unsigned char>(text[pos + i]))) {
            return 1;
        }
    }
    return length;
}

bool IsCp932LeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

}  // namespace

std::size_t CharLengthAt(std::string_view text, std::size_t pos, TextEncoding encoding) {
    if (pos >= text.size()) {
        return 0;
    }
    if (encoding == TextEncoding::Utf8) {
        return Utf8Length(text, pos);
    }
    // A lead byte takes the byte after it whatever that is, so that a trailing byte equal to
    // an ASCII character ('\\', '/') is never seen on its own.
    const auto byte = static_cast<unsigned char>(text[pos]);
    return IsCp932LeadByte(byte) && pos + 1 < text.size() ? 2 : 1;
}

}  // namespace mirova::platform
