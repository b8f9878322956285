#pragma once

#include <cstdint>
#include <ctime>

namespace mirova::platform {

// A point in time as the Windows directory listing reports it: 100-nanosecond intervals since
// 1601-01-01 UTC, split into its low and high 32-bit halves. The comparisons of the sync engine
// work on the halves, so the split is kept rather than a single 64-bit value.
struct FileTime {
    uint32_t low = 0;
    uint32_t high = 0;

    uint64_t ticks() const { return (static_cast<uint64_t>(high) << 32) | low; }
    static FileTime FromTicks(uint64_t ticks) {
        return FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
    }
    friend bool operator==(const FileTime&, const FileTime&) = default;
};

// 1970-01-01 UTC in FileTime ticks.
inline constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;
inline constexpr uint64_t kTicksPerSecond = 10000000ULL;

// Times before 1601 become 0; sub-100 ns precision is dropped.
FileTime FileTimeFromTimespec(const timespec& time);
timespec TimespecFromFileTime(FileTime time);

}  // namespace mirova::platform
