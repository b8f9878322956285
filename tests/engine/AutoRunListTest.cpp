#include "engine/AutoRunList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace mirova {
namespace {

struct ParseRow {
    std::vector<std::string> arguments;
    bool found;
    int suppressDeletion;
    int noStopOnError;
    std::vector<int> list;
};

std::vector<int> ListOf(const RunState& state) {
    std::vector<int> list;
    for (int i = 0; i < state.autoRunCount && i < kAutoRunCapacity; ++i) {
        list.push_back(state.autoRunPresets[i]);
    }
    return list;
}

std::string NumbersUpTo(int last) {
    std::string text;
    for (int n = 1; n <= last; ++n) {
        text += (n > 1 ? "," : "") + std::to_string(n);
    }
    return text;
}

// first..last, then more.
std::vector<int> Range(int first, int last, std::initializer_list<int> more = {}) {
    std::vector<int> numbers;
    for (int n = first; n <= last; ++n) {
        numbers.push_back(n);
    }
    numbers.insert(numbers.end(), more);
    return numbers;
}

TEST(AutoRunListTest, ReadsTheOptionsAndTheListOfTheCommandLine) {
    const std::vector<int> zeros30(30, 0);
    std::vector<int> oneThenZeros(30, 0);
    oneThenZeros[0] = 1;
    const ParseRow rows[] = {
        {{}, false, 0, 0, {}},
        {{"/D"}, true, 1, 0, {}},
        {{"/A", "1,3,12"}, true, 0, 1, {1, 3, 12}},
        {{"/D", "/A", "5"}, true, 1, 1, {5}},
        {{"/A", "5", "/D"}, true, 1, 1, {5}},
        {{"/A"}, true, 0, 1, {}},
        {{"/a", "1"}, false, 0, 0, {}},
        {{"-A", "1"}, false, 0, 0, {}},
        {{"/A ", "1"}, false, 0, 0, {}},  // the whole argument must match
        {{"/A", "1,2,"}, true, 0, 1, {1, 2}},
        {{"/A", "1,,2"}, true, 0, 1, {1, 0, 2}},
        {{"/A", "1,", "2"}, true, 0, 1, {1}},
        {{"/A", NumbersUpTo(31)}, true, 0, 1, Range(1, 30)},
        {{"/A", "300"}, true, 0, 1, {44}},
        {{"/A", "200"}, true, 0, 1, {-56}},  // the entry is a signed byte
        // A long run of digits wraps without overflow; only its low 8 bits count.
        {{"/A", "99999999999999999999"}, true, 0, 1, {static_cast<std::int8_t>(0xFF)}},
        // A character that is neither digit nor comma is never passed.
        {{"/A", "1;2"}, true, 0, 1, oneThenZeros},
        {{"/A", "x"}, true, 0, 1, zeros30},
        // The argument after "/A" is the list whatever it is, and is then read on its own too.
        {{"/A", "/D"}, true, 1, 1, zeros30},
        {{"/A", ""}, true, 0, 1, {}},
        // A second "/A" goes on after the first list and stops at the room of 30 entries.
        {{"/A", "1,2", "/A", "3,4"}, true, 0, 1, {1, 2, 3, 4}},
        {{"/A", NumbersUpTo(29), "/A", "40,41"}, true, 0, 1, Range(1, 29, {40})},
        {{"/A", NumbersUpTo(30), "/A", "7"}, true, 0, 1, Range(1, 30)},
    };
    for (const ParseRow& row : rows) {
        RunState state;
        const bool found = ParseAutoRunArguments(row.arguments, state);
        const std::string label = ::testing::PrintToString(row.arguments);
        EXPECT_EQ(found, row.found) << label;
        EXPECT_EQ(state.suppressDeletion, row.suppressDeletion) << label;
        EXPECT_EQ(state.noStopOnError.load(), row.noStopOnError) << label;
        EXPECT_EQ(state.autoRunCount, static_cast<int>(row.list.size())) << label;
        EXPECT_EQ(ListOf(state), row.list) << label;
        EXPECT_EQ(state.autoRunNext, 0) << label;
    }
}

TEST(AutoRunListTest, ReadListNumberStopsAtCommasAndAtTheEnd) {
    struct Row {
        std::string text;
        std::vector<int> values;  // successive reads
        std::size_t restAfter;    // bytes left after the last read
    };
    const Row rows[] = {
        {"12,3", {12, 3, 0}, 0},
        {",7", {0, 7}, 0},
        {"4a5", {4, 0, 0}, 2},  // stuck before "a"
        {"", {0}, 0},
    };
    for (const Row& row : rows) {
        const char* cursor = row.text.c_str();
        for (int expected : row.values) {
            EXPECT_EQ(ReadListNumber(cursor), expected) << row.text;
        }
        EXPECT_EQ(std::string(cursor).size(), row.restAfter) << row.text;
    }
}

}  // namespace
}  // namespace mirova
