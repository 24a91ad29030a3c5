#pragma once
// roundEven: nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
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
