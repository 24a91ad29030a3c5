#include "SkyMotion.h"

#include <algorithm>
#include <cmath>

namespace simcam {
namespace {
uint64_t mixBits(uint64_t x) {
    // splitmix64's finaliser: neighbouring inputs give unrelated outputs.
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A value of unit spread for one knot of one signal: Box-Muller of two hashed uniforms.
double knotValue(uint64_t seed, int channel, int64_t knot) {
    const uint64_t h = mixBits(seed ^ mixBits(static_cast<uint64_t>(channel) * 0x1000193ull ^
                                              static_cast<uint64_t>(knot)));
    const double u1 = (static_cast<double>(h >> 40) + 0.5) / static_cast<double>(1ull << 24);
    const double u2 = static_cast<double>((h >> 16) & 0xFFFFFF) / static_cast<double>(1ull << 24);
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * M_PI * u2);
}
}  // namespace

double seeingSignal(uint64_t seed, int channel, double seconds) {
    const double at = seconds / kSeeingSeconds;
    const double knot = std::floor(at);
    const double t = at - knot, step = t * t * (3 - 2 * t);
    const auto k = static_cast<int64_t>(knot);
    const double a = knotValue(seed, channel, k), b = knotValue(seed, channel, k + 1);
    // Joined by a smooth step the values lose spread between knots; this gives most of it back.
    const double keep = 1 / std::sqrt(1 - 2 * step * (1 - step));
    return (a + (b - a) * step) * keep;
}

SkyPose skyPoseAt(const Weather& weather, uint64_t seed, double seconds) {
    SkyPose pose;
    pose.shiftX = weather.driftX * seconds;
    pose.shiftY = weather.driftY * seconds;
    if (weather.seeing > 0) {
        const double s = weather.seeing;
        pose.shiftX += s * seeingSignal(seed, 0, seconds);
        pose.shiftY += s * seeingSignal(seed, 1, seconds);
        pose.blur = std::max(0.2 * s, s * (1 + 0.35 * seeingSignal(seed, 2, seconds)));
    }
    return pose;
}

double transparencyAt(const Weather& weather, double seconds) {
    const double every = weather.cloudEverySeconds;
    if (every <= 0 || seconds < every) return 1.0;
    const double into = std::fmod(seconds, every);
    if (into >= kCloudSeconds) return 1.0;
    const double thickness = (1 - std::cos(2 * M_PI * into / kCloudSeconds)) / 2;
    return 1 - (1 - kCloudDepth) * thickness;
}

}  // namespace simcam
