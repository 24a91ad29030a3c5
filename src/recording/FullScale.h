#pragma once
// 16-bit files hold their samples at the top of the word: a camera's 12-bit samples
// (0..4095) are stored shifted up by 4 bits (0..65520). Readers take a 16-bit file's range
// as 0..65535 whatever its label (a FITS file has no other, and the video tools ignore the
// SER depth field), so unshifted 12-bit data looked four stops dark in them; the shift is
// lossless (the camera's value is the stored one shifted back down).
#include <algorithm>
#include <cstddef>
#include <cstdint>

// Shifts `count` samples of `bits` significant bits (9 to 16; 16: unchanged) to full scale.
inline void shiftToFullScale(uint16_t* samples, size_t count, int bits) {
    const int shift = 16 - std::clamp(bits, 1, 16);
    if (shift == 0) return;
    for (size_t i = 0; i < count; ++i) samples[i] = static_cast<uint16_t>(samples[i] << shift);
}
