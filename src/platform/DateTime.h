#pragma once
// LocalDateTime arithmetic and formatting: days since 1899-12-30 as a double; and
// PreciseDateTime, the same scale in whole 100-ns ticks.
#include <compare>
#include <cstdint>
#include <string>

#include "platform/Clock.h"

// A local date-time to the 100 ns: whole ticks of 100 ns since 1899-12-30 00:00 local time,
// the epoch of LocalDateTime. A LocalDateTime resolves only about 0.6 us at today's dates (a
// double of some 46000 days), and its product with the ticks of a day lands on multiples of
// 8 ticks; a camera's exposure start, reported to the microsecond, travels in this instead.
class PreciseDateTime {
  public:
    static constexpr int64_t kTicksPerSecond = 10'000'000;
    static constexpr int64_t kTicksPerMillisecond = 10'000;
    static constexpr int64_t kTicksPerDay = 86'400 * kTicksPerSecond;

    constexpr PreciseDateTime() = default;
    // The tick nearest the date-time's value, halves to the even tick. Implicit: the finer
    // scale holds every LocalDateTime to within the double's own resolution.
    PreciseDateTime(LocalDateTime t);
    static constexpr PreciseDateTime fromTicks(int64_t ticks) {
        PreciseDateTime t;
        t.ticks_ = ticks;
        return t;
    }
    // An instant in microseconds since 1970-01-01 00:00 UTC, on the local clock that is
    // `utcOffsetSeconds` east of UTC.
    static PreciseDateTime fromUnixMicros(int64_t us, int32_t utcOffsetSeconds);

    constexpr int64_t ticks() const { return ticks_; }
    // The nearest LocalDateTime, for texts, names and spans that need no finer scale.
    LocalDateTime dateTime() const;

    auto operator<=>(const PreciseDateTime&) const = default;

  private:
    int64_t ticks_ = 0;
};

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Milliseconds since 1970-01-01 (in whatever zone the caller means) to LocalDateTime.
LocalDateTime unixMillisToDateTime(int64_t ms);
// Builds a LocalDateTime from calendar parts (proleptic Gregorian calendar).
LocalDateTime encodeDateTime(const DateTimeParts& p);
// Splits a LocalDateTime into calendar parts, rounded to the millisecond.
DateTimeParts decodeDateTime(LocalDateTime t);

// Formats with the letters dd, mm (minutes right after hh, else month), yyyy, hh, ss, zzz;
// "/" prints as dateSep and ":" as timeSep; every other character prints as it is.
std::string formatDateTime(const std::string& format, LocalDateTime t, char dateSep = '/',
                           char timeSep = ':');
