#pragma once
// Millisecond counters and the local date-time, behind one replaceable clock so that
// tests can set the time.
#include <cstdint>
#include <functional>

// Milliseconds of a monotonic clock, wrapping at 2^32 like the multimedia timer.
uint32_t timeGetTime();
// Milliseconds of the same monotonic clock, wrapping like the system tick count.
uint32_t GetTickCount();

// Date-time as days since 1899-12-30 00:00, local time, millisecond resolution.
using TDateTime = double;
TDateTime Now();
// Seconds east of UTC in force at the current moment (tm_gmtoff).
int32_t UtcOffsetSeconds();

namespace testclock {
// Replace the millisecond counter (both timeGetTime and GetTickCount); nullptr restores it.
void SetMillis(std::function<uint32_t()> fn);
// Replace the wall clock: Now() and UtcOffsetSeconds(); nullptr restores them.
void SetNow(std::function<TDateTime()> now, std::function<int32_t()> offset = nullptr);
}  // namespace testclock
