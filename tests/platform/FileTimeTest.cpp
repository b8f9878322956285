#include "platform/FileTime.h"

#include <gtest/gtest.h>

namespace mirova::platform {
namespace {

timespec At(std::int64_t seconds, long nanoseconds = 0) {
    timespec time{};
    time.tv_sec = static_cast<time_t>(seconds);
    time.tv_nsec = nanoseconds;
    return time;
}

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochGapSeconds = 11644473600;

TEST(FileTimeTest, UnixEpochIsTheKnownTickCount) {
    const FileTime epoch = FileTimeFromTimespec(At(0));
    EXPECT_EQ(epoch.ticks(), 116444736000000000ULL);
    EXPECT_EQ(epoch.high, 0x019DB1DEu);
    EXPECT_EQ(epoch.low, 0xD53E8000u);
}

TEST(FileTimeTest, KnownDatesConvertToTheirTicks) {
    // 2000-01-01 00:00:00 UTC
    EXPECT_EQ(FileTimeFromTimespec(At(946684800)).ticks(), 0x01BF53EB256D4000ULL);
    // 2100-01-01 00:00:00 UTC, beyond the 32-bit seconds of 2038
    const FileTime later = FileTimeFromTimespec(At(4102444800));
    EXPECT_EQ(later.ticks(), (4102444800ULL + kEpochGapSeconds) * kTicksPerSecond);
    // 1601-01-01 itself is the start of the count.
    EXPECT_EQ(FileTimeFromTimespec(At(-kEpochGapSeconds)).ticks(), 0u);
}

TEST(FileTimeTest, HalvesSplitTheTickCount) {
    const FileTime time = FileTime::FromTicks(0x0123456789ABCDEFULL);
    EXPECT_EQ(time.high, 0x01234567u);
    EXPECT_EQ(time.low, 0x89ABCDEFu);
    EXPECT_EQ(time.ticks(), 0x0123456789ABCDEFULL);
    EXPECT_EQ(FileTime::FromTicks(0xFFFFFFFFULL).high, 0u);
    EXPECT_EQ(FileTime::FromTicks(0x100000000ULL).low, 0u);
    EXPECT_EQ(FileTime::FromTicks(0x100000000ULL).high, 1u);
}

TEST(FileTimeTest, NanosecondsAreTruncatedTo100ns) {
    const FileTime time = FileTimeFromTimespec(At(0, 123456789));
    EXPECT_EQ(time.ticks(), kUnixEpochTicks + 1234567);
    EXPECT_EQ(FileTimeFromTimespec(At(0, 99)).ticks(), kUnixEpochTicks);
}

TEST(FileTimeTest, RoundTripKeeps100nsPrecision) {
    const struct {
        std::int64_t seconds;
        long nanoseconds;
    } rows[] = {
        {0, 0},
        {1234567890, 123456700},
        {4102444800, 999999900},
        {-1, 500000000},  // before 1970: the nanosecond part stays positive
        {-kEpochGapSeconds + 1, 100},
    };
    for (const auto& row : rows) {
        const timespec back =
            TimespecFromFileTime(FileTimeFromTimespec(At(row.seconds, row.nanoseconds)));
        EXPECT_EQ(back.tv_sec, row.seconds) << row.seconds;
        EXPECT_EQ(back.tv_nsec, row.nanoseconds) << row.seconds;
    }
    const timespec truncated =
        TimespecFromFileTime(FileTimeFromTimespec(At(1700000000, 987654321)));
    EXPECT_EQ(truncated.tv_sec, 1700000000);
    EXPECT_EQ(truncated.tv_nsec, 987654300);
}

TEST(FileTimeTest, TimesBefore1601ClampToZero) {
    EXPECT_EQ(FileTimeFromTimespec(At(-kEpochGapSeconds - 1)), FileTime{});
    EXPECT_EQ(FileTimeFromTimespec(At(-kEpochGapSeconds - 1, 999999999)), FileTime{});
    EXPECT_EQ(FileTimeFromTimespec(At(INT64_MIN / 2)), FileTime{});
}

TEST(FileTimeTest, ZeroTicksIsThe1601Epoch) {
    const timespec start = TimespecFromFileTime(FileTime{});
    EXPECT_EQ(start.tv_sec, -kEpochGapSeconds);
    EXPECT_EQ(start.tv_nsec, 0);
}

}  // namespace
}  // namespace mirova::platform
