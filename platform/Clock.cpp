#include "platform/Clock.h"

#include <atomic>
#include <ctime>

namespace mirova::platform {
namespace {

const SystemClock kSystemClock;
std::atomic<const Clock*> currentClock{&kSystemClock};

}  // namespace

LocalTime SystemClock::Now() const {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                     parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

const Clock& CurrentClock() {
    return *currentClock.load(std::memory_order_acquire);
}

void SetClock(const Clock* clock) {
    currentClock.store(clock ? clock : &kSystemClock, std::memory_order_release);
}

}  // namespace mirova::platform
