#pragma once
// Millisecond counters and the local date-time, behind one replaceable clock so that
// tests can set the time.
#include <cstdint>
#include <functional>

// Milliseconds of a monotonic clock, wrapping at 2^32: the one millisecond clock of the
// program (compare its values as differences, so the wrap does no harm).
uint32_t monotonicMs();

// Date-time as days since 1899-12-30 00:00, local time, millisecond resolution.
using LocalDateTime = double;
LocalDateTime localNow();
// Seconds east of UTC in force at the current moment (tm_gmtoff).
int32_t utcOffsetSeconds();

namespace testclock {
// Replace the millisecond clock monotonicMs; nullptr restores it.
void setMillis(std::function<uint32_t()> fn);
// Replace the wall clock: localNow() and utcOffsetSeconds(); nullptr restores them.
void setNow(std::function<LocalDateTime()> now, std::function<int32_t()> offset = nullptr);
}  // namespace testclock
