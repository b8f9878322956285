#pragma once

namespace mirova::platform {

// Local calendar time, as the run log stamps its lines.
struct LocalTime {
    int year = 0;    // four digits
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..60
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalTime Now() const = 0;
};

// The local time of the machine.
class SystemClock final : public Clock {
public:
    LocalTime Now() const override;
};

// A clock that always answers the same time (tests).
class FixedClock final : public Clock {
public:
    explicit FixedClock(LocalTime time) : time_(time) {}
    LocalTime Now() const override { return time_; }

private:
    LocalTime time_;
};

// The clock every time stamp of the program is read from. Tests replace it with SetClock and
// restore the system clock with SetClock(nullptr); the clock must outlive its use.
const Clock& CurrentClock();
void SetClock(const Clock* clock);

}  // namespace mirova::platform
