#pragma once
// Round: nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
#include <cfenv>
#include <cmath>
#include <cstdint>

inline int64_t Round(double v) {
    // std::nearbyint honours the current rounding mode, which is round-to-nearest-even
    // unless someone changed it; the program never does.
    return static_cast<int64_t>(std::nearbyint(v));
}
