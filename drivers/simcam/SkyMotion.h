#pragma once
// How the simulated sky moves and dims with time, as the camera options drift=DX,DY,
// seeing=S and clouds=SECONDS chose: the mount's drift, the seeing's tilt and blur, and
// passing clouds, each a function of the time since the camera opened, so that every
// exposure sees the moment it starts at.
#include <cstdint>

#include "Scene.h"

namespace simcam {

struct Weather {
    double driftX = 0, driftY = 0;  // pixels per second
    double seeing = 0;              // about this many pixels of blur and of tilt; 0 for none
    double cloudEverySeconds = 0;   // a cloud this often; 0 for none
    bool operator==(const Weather&) const = default;
};

// The seeing's signals change smoothly over about this long: a short exposure sees one
// frozen moment of it, consecutive exposures of a few milliseconds nearly the same one.
constexpr double kSeeingSeconds = 0.05;
// A cloud dims the sky to this fraction at its thickest and passes in kCloudSeconds.
constexpr double kCloudDepth = 0.1;
constexpr double kCloudSeconds = 2.0;

// A smooth random signal of spread about 1 and mean 0: random values kSeeingSeconds apart
// joined by smooth steps. The same seed, channel and time give the same value.
double seeingSignal(uint64_t seed, int channel, double seconds);

// Where the sky lies `seconds` after the open: the drift, the seeing's tilt (about
// `seeing` pixels each way) and its blur (a sigma of about `seeing` pixels, never below a
// fifth of it). Without seeing there is no tilt and no blur.
SkyPose skyPoseAt(const Weather& weather, uint64_t seed, double seconds);

// The share of the light that passes the clouds: 1, and for kCloudSeconds every
// cloudEverySeconds (from then on) down to kCloudDepth and smoothly back.
double transparencyAt(const Weather& weather, double seconds);

}  // namespace simcam
