#pragma once
// The simulated camera's picture: a colour scene larger than the sensor (so that image
// motion never runs off its edge) and the readout of a Bayer mosaic from it.
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace simcam {

// The sensor: 1280 x 960 unless the camera option sensor=WxH chose another size (up to
// kMaxSensorWidth x kMaxSensorHeight) before the camera was opened.
constexpr int kSensorWidth = 1280;
constexpr int kSensorHeight = 960;
constexpr int kMinSensorSide = 16;
constexpr int kMaxSensorWidth = 6248;
constexpr int kMaxSensorHeight = 4176;
int sensorWidth();
int sensorHeight();
// Sets the sensor size; false (nothing changed) when either side is below kMinSensorSide or
// above the largest. Called with the camera's lock held, while no exposure runs.
bool setSensorSize(int width, int height);
// Scene border around the sensor area, the largest image motion in pixels.
constexpr int kMargin = 8;

enum class SceneKind { Planet = 0, TestCard = 1 };

// Three planes (blue, green, red) of (sensorWidth() + 2 kMargin) x (sensorHeight() + 2 kMargin)
// scene levels; sensor pixel (x, y) sees scene pixel (x + kMargin, y + kMargin).
struct Scene {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> plane[3];
    const uint8_t* row(int channel, int y) const {
        return plane[channel].data() + static_cast<size_t>(y) * width;
    }
};

Scene buildScene(SceneKind kind);

// Everything one readout needs, fixed when the exposure starts.
struct Readout {
    int width = 0;  // subframe, centred on the sensor
    int height = 0;
    bool flip = false;                 // mirrored left to right
    double gain[3] = {1.0, 1.0, 1.0};  // output level per scene level, per colour (B, G, R)
    int bias = 0;                      // dark level added to every pixel
    double noiseSigma = 0.0;           // read noise in output levels; 0 for none
    int dx = 0, dy = 0;                // image motion, within +-kMargin
    int depth = 8;                     // bits of each output word: 8, or 16 for deeper samples
    int bits = 8;  // significant bits of the samples: 8, or 9 to 16 in 16-bit words
    bool operator==(const Readout&) const = default;
};

// Left and top sensor column/row of a centred subframe; always even, so that every
// subframe starts on the same Bayer phase as the full frame.
int subframeLeft(int width);
int subframeTop(int height);

// Writes the mosaic of the subframe into out (rows of `stride` bytes; the bytes past the
// width are left alone): 8-bit samples, or r.bits-bit samples in 16-bit words when r.depth
// is 16 (the levels scaled by 2^(bits - 8), so a deeper readout shows the same picture).
// Sensor sites: blue at (even row, even column), red at (odd row, odd column), green
// elsewhere. A flipped readout mirrors the rows.
void renderMosaic(const Scene& scene, const Readout& r, uint8_t* out, size_t stride,
                  std::mt19937& rng);

// The colour pattern (TARVI_PATTERN_ value) of the readout's first sites.
int readoutPattern(const Readout& r);

}  // namespace simcam
