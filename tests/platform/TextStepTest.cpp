#include "platform/TextStep.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mirova::platform {
namespace {

// The lengths of the characters a walk over the whole text steps through.
std::vector<std::size_t> Steps(std::string_view text, TextEncoding encoding) {
    std::vector<std::size_t> steps;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = CharLengthAt(text, pos, encoding);
        steps.push_back(length);
        if (length == 0) {
            break;  // would never advance
        }
        pos += length;
    }
    return steps;
}

using V = std::vector<std::size_t>;

TEST(TextStepTest, Utf8WellFormedCharactersStepWhole) {
    const struct {
        std::string text;
        V steps;
    } rows[] = {
        {"ab/", {1, 1, 1}},
        {"\xC3\xA9", {2}},                         // é
        {"\xE3\x81\x82/", {3, 1}},                 // あ
        {"\xEF\xBD\xB1", {3}},                     // ｱ half-width katakana
        {"\xF0\x9F\x98\x80x", {4, 1}},             // U+1F600
        {"\xF4\x8F\xBF\xBF", {4}},                 // U+10FFFF
        {"\xED\x9F\xBF", {3}},                     // U+D7FF, just below the surrogates
        {"a\xE6\x97\xA5\xE6\x9C\xAC", {1, 3, 3}},  // a日本
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Steps(row.text, TextEncoding::Utf8), row.steps) << row.text;
    }
}

TEST(TextStepTest, Utf8BrokenSequencesCountAsOneByte) {
    const struct {
        std::string text;
        V steps;
    } rows[] = {
        {"\x80x", {1, 1}},                   // lone continuation byte
        {"\xC3x", {1, 1}},                   // lead without its continuation
        {"\xE3\x81", {1, 1}},                // truncated at the end of the text
        {"\xF0\x9F\x98", {1, 1, 1}},         // truncated four-byte character
        {"\xC0\xAF", {1, 1}},                // overlong "/"
        {"\xE0\x80\xAF", {1, 1, 1}},         // overlong "/"
        {"\xED\xA0\x80", {1, 1, 1}},         // UTF-16 surrogate
        {"\xF4\x90\x80\x80", {1, 1, 1, 1}},  // beyond U+10FFFF
        {"\xFF\xFE", {1, 1}},
        {"\xE3\x2F\x82", {1, 1, 1}},  // a "/" where a continuation belongs stays a "/"
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Steps(row.text, TextEncoding::Utf8), row.steps) << row.text;
    }
}

TEST(TextStepTest, Cp932LeadBytesTakeTheNextByte) {
    const struct {
        std::string text;
        V steps;
    } rows[] = {
        {"ab", {1, 1}},
        {"\x83\x5C", {2}},         // ソ: the trailing byte equals '\'
        {"\x95\x5C\x5C", {2, 1}},  // 表 then a real '\'
        {"\x81\x40", {2}},         // full-width space, lowest lead byte
        {"\x9F\x40\xE0\x40", {2, 2}},
        {"\xFC\x4B", {2}},            // highest lead byte
        {"\xB1\xB2\xDF", {1, 1, 1}},  // half-width katakana are single bytes
        {"\xA0\xFD", {1, 1}},         // neither range
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Steps(row.text, TextEncoding::Cp932), row.steps) << row.text;
    }
}

TEST(TextStepTest, LeadByteAtTheEndStaysInsideTheText) {
    EXPECT_EQ(Steps("a\x83", TextEncoding::Cp932), (V{1, 1}));
    EXPECT_EQ(Steps("\xE3", TextEncoding::Utf8), (V{1}));
    // A view that stops before the trailing byte of the underlying buffer.
    const std::string buffer = "x\x83\x5C";
    EXPECT_EQ(CharLengthAt(std::string_view(buffer).substr(0, 2), 1, TextEncoding::Cp932), 1u);
    EXPECT_EQ(CharLengthAt(buffer, 1, TextEncoding::Cp932), 2u);
}

TEST(TextStepTest, NoCharacterAtOrPastTheEnd) {
    EXPECT_EQ(CharLengthAt("", 0), 0u);
    EXPECT_EQ(CharLengthAt("ab", 2), 0u);
    EXPECT_EQ(CharLengthAt("ab", 7, TextEncoding::Cp932), 0u);
}

}  // namespace
}  // namespace mirova::platform
