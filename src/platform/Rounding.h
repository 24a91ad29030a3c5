#pragma once
// roundEven: nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
// floorDiv: the quotient rounded down, also for a negative dividend (-1 / 10 -> -1).
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>

inline int64_t roundEven(double v) {
    // std::nearbyint honours the current rounding mode, which is round-to-nearest-even
    // unless someone changed it; the program never does.
    const double r = std::nearbyint(v);
    // Converting a value outside int64_t (or NaN) is undefined: saturate, NaN gives 0.
    if (!(r >= -9223372036854775808.0))
        return std::isnan(r) ? 0 : std::numeric_limits<int64_t>::min();
    if (r >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(r);
}

// `divisor` positive.
constexpr int64_t floorDiv(int64_t value, int64_t divisor) {
    const int64_t q = value / divisor;
    return q * divisor > value ? q - 1 : q;
}
