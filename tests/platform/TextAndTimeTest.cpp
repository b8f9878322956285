#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FileTime.h"
#include "platform/TextStep.h"

namespace mirova::platform {
namespace {

timespec At(std::int64_t seconds, long nanoseconds = 0) {
    return timespec{static_cast<time_t>(seconds), nanoseconds};
}
constexpr std::int64_t kGap = 11644473600;  // seconds from 1601-01-01 to 1970-01-01

TEST(FileTimeTest, TicksSince1601At100nsBothWays) {
    const FileTime epoch = FileTimeFromTimespec(At(0, 123456789));
    EXPECT_EQ(std::pair(epoch.high, epoch.low), std::pair(0x019DB1DEu, 0xD53E8000u + 1234567));
    EXPECT_EQ(FileTimeFromTimespec(At(-kGap - 1, 999999999)), FileTime{});  // clamped
    // Before 1970 the nanosecond part stays positive; beyond 2038 nothing overflows.
    for (const auto& [seconds, nanoseconds] :
         {std::pair(4102444800, 999999900L), {-1, 500000000}}) {
        const timespec back = TimespecFromFileTime(FileTimeFromTimespec(At(seconds, nanoseconds)));
        EXPECT_EQ(std::pair(back.tv_sec, back.tv_nsec), std::pair(seconds, nanoseconds));
    }
}

// The lengths of the characters a walk over the whole text steps through.
std::vector<std::size_t> Steps(std::string_view text, TextEncoding encoding) {
    std::vector<std::size_t> steps;
    for (std::size_t pos = 0, length = 1; pos < text.size() && length > 0; pos += length) {
        steps.push_back(length = CharLengthAt(text, pos, encoding));
    }
    return steps;
}

TEST(TextStepTest, CharactersStepWholeAndBrokenSequencesByteByByte) {
    using V = std::vector<std::size_t>;
    constexpr TextEncoding u = TextEncoding::Utf8, c = TextEncoding::Cp932;
    const struct {
        std::string text;
        TextEncoding encoding;
        V steps;
    } rows[] = {
        {"a\xC3\xA9/", u, {1, 2, 1}},
        {"\xE3\x81\x82\xEF\xBD\xB1\xED\x9F\xBF", u, {3, 3, 3}},  // あ, ｱ, U+D7FF
        {"\xE0\xA0\x80\xEF\xBF\xBF", u, {3, 3}},                 // U+0800, U+FFFF
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBFx", u, {4, 4, 1}},     // U+10000, U+10FFFF
        {"\xC2\x80\xDF\xBF", u, {2, 2}},
        {"\x80x\xC3x\xE3\x81", u, {1, 1, 1, 1, 1, 1}},        // lone, unfinished, cut at the end
        {"\xC0\xAF\xC1\xBF", u, {1, 1, 1, 1}},                // overlong
        {"\xE0\x9F\xBF\xED\xA0\x80", u, {1, 1, 1, 1, 1, 1}},  // overlong, surrogate
        {"\xF0\x8F\xBF\xBF\xF4\x90\x80\x80", u, V(8, 1)},     // overlong, beyond U+10FFFF
        {"\xF5\x80\x80\x80\xFF", u, V(5, 1)},
        {"\xE3\x2F\x82\xF0\x9F\x98", u, V(6, 1)},  // a "/" where a continuation belongs
        {"\xE3\x81\x2F\xF0\x9F\x98\x2F", u, V(7, 1)},
        {"\x83\x5C\x95\x5C\x5C", c, {2, 2, 1}},  // ソ and 表 end in the byte of '\'
        {"\x81\x40\x9F\x40\xE0\x40\xFC\x4B", c, {2, 2, 2, 2}},
        {"\x80\xA0\xB1\xDF\xFD\x7F", c, V(6, 1)},  // no lead bytes
        {"a\x83", c, {1, 1}},
        {"\xE3", u, {1}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Steps(row.text, row.encoding), row.steps) << testing::PrintToString(row.text);
    }
    // A view that stops before the trailing byte of the underlying buffer; nothing at the end.
    const std::string buffer = "x\x83\x5C";
    EXPECT_EQ(CharLengthAt(std::string_view(buffer).substr(0, 2), 1, c), 1u);
    EXPECT_EQ(CharLengthAt("", 0), 0u);
    EXPECT_EQ(CharLengthAt("ab", 7, c), 0u);
}

}  // namespace
}  // namespace mirova::platform
