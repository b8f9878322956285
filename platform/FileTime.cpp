#include "platform/FileTime.h"

namespace mirova::platform {

FileTime FileTimeFromTimespec(const timespec& time) {
    constexpr std::int64_t kEpochSeconds =
        static_cast<std::int64_t>(kUnixEpochTicks / kTicksPerSecond);
    const std::int64_t seconds = static_cast<std::int64_t>(time.tv_sec) + kEpochSeconds;
    if (seconds < 0) {
        return FileTime{};
    }
    const std::uint64_t ticks = static_cast<std::uint64_t>(seconds) * kTicksPerSecond +
                                static_cast<std::uint64_t>(time.tv_nsec) / 100;
    return FileTime::FromTicks(ticks);
}

timespec TimespecFromFileTime(FileTime time) {
    const std::int64_t sinceEpoch =
        static_cast<std::int64_t>(time.ticks()) - static_cast<std::int64_t>(kUnixEpochTicks);
    // Floor division, so that times before 1970 keep a non-negative nanosecond part.
    std::int64_t seconds = sinceEpoch / static_cast<std::int64_t>(kTicksPerSecond);
    std::int64_t rest = sinceEpoch % static_cast<std::int64_t>(kTicksPerSecond);
    if (rest < 0) {
        rest += static_cast<std::int64_t>(kTicksPerSecond);
        --seconds;
    }
    timespec result{};
    result.tv_sec = static_cast<time_t>(seconds);
    result.tv_nsec = static_cast<long>(rest * 100);
    return result;
}

}  // namespace mirova::platform
