// File times: 100-nanosecond intervals since 1601-01-01 00:00:00 UTC.
#pragma once

#include <cstdint>

namespace io {

class time {
public:
    // 1970-01-01 00:00:00 UTC on this scale.
    static constexpr std::int64_t unix_epoch = 116444736000000000;
    static constexpr std::int64_t ticks_per_second = 10000000;

    time() = default;
    explicit time(std::int64_t ticks) : ticks_(ticks) {}

    // An MS-DOS date and time, read as local time (the runtime's mktime
    // decides daylight saving time and normalises fields out of range).
    static time from_dos(std::uint16_t date, std::uint16_t time);

    std::int64_t ticks() const { return ticks_; }

    friend bool operator==(time a, time b) { return a.ticks_ == b.ticks_; }
    friend bool operator!=(time a, time b) { return a.ticks_ != b.ticks_; }

private:
    std::int64_t ticks_ = unix_epoch;
};

}  // namespace io
