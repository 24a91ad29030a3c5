#pragma once
// The simulated camera's picture: a colour scene of the sensor's size, drawn anew for each
// exposure where the sky then is (the planet scene) or fixed (the test card), and the
// readout of a Bayer mosaic from it.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
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
// The sensor as the camera reads it out: in binned pixels (the full sensor's size divided by
// the binning, rounded down to even).
int sensorWidth();
int sensorHeight();
// Pixels binned in each direction, 1 to kMaxBinning; false (nothing changed) for any other.
// Called with the camera's lock held, while no exposure runs.
constexpr int kMaxBinning = 4;
int binning();
bool setBinning(int factor);
// Sets the sensor size; false (nothing changed) when either side is below kMinSensorSide or
// above the largest. Called with the camera's lock held, while no exposure runs.
bool setSensorSize(int width, int height);

enum class SceneKind { Planet = 0, TestCard = 1 };

// Three planes (blue, green, red) of width x height scene levels; sensor pixel (x, y) sees
// scene pixel (x, y).
struct Scene {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> plane[3];
    const uint8_t* row(int channel, int y) const {
        return plane[channel].data() + static_cast<size_t>(y) * width;
    }
};

// The colour test card on black, for the sensor as it is now (see SimCamConfigure).
Scene buildTestCard();

// Where the sky lies in one exposure.
struct SkyPose {
    double shiftX = 0, shiftY = 0;  // the whole sky's offset from its place at the open
    double blur = 0;                // the seeing blur's sigma in pixels; 0 for none
};

// The planet's centre as drawn, in sensor pixels (pixel (x, y) has its centre at x, y), and
// the blur it was drawn with.
struct PlanetPlace {
    double x = 0, y = 0;
    double blur = 0;
};

// The planet scene of a sensor: a banded planet with a spot, two moons and a few field stars,
// all scaled to the sensor (at 1280 x 960 the planet is 400 x 374 pixels in the middle), drawn
// into a scene of the sensor's size wherever the sky lies. The planet is pasted from a patch
// rendered once per blur level (a quarter pixel apart up to 2.5 pixels, then a tenth of the
// blur; each made the first time it is needed),
// at the whole pixel nearest to its place; moons and stars are drawn where they are, blurred
// analytically. Used by one thread at a time.
class PlanetSky {
  public:
    PlanetSky(int sensorWidth, int sensorHeight);
    // Draws the sky at `pose`, erasing what the last draw put there; returns where the planet
    // went and the blur level it was drawn with.
    PlanetPlace draw(const SkyPose& pose);
    const Scene& scene() const { return scene_; }
    int sensorWidth() const { return scene_.width; }
    int sensorHeight() const { return scene_.height; }

    // A patch of scene levels whose pixel (centreX, centreY) is the planet's centre.
    struct Patch {
        int width = 0, height = 0;
        int centreX = 0, centreY = 0;
        std::vector<uint8_t> plane[3];
    };

  private:
    const Patch& planetAt(double blur);
    void erase();

    Scene scene_;
    double scale_ = 1;
    std::map<double, std::unique_ptr<Patch>> planet_;  // by blur level (sigma in pixels)
    struct Rect {
        int x0, y0, x1, y1;  // inclusive-exclusive, clipped to the scene
    };
    std::vector<Rect> drawn_;
};

// Everything one readout needs, fixed when the exposure starts.
struct Readout {
    int width = 0;  // subframe
    int height = 0;
    int left = 0;  // its left and top sensor column and row, even
    int top = 0;
    bool flip = false;                 // mirrored left to right
    double gain[3] = {1.0, 1.0, 1.0};  // output level per scene level, per colour (B, G, R)
    int bias = 0;                      // dark level added to every pixel
    double noiseSigma = 0.0;           // read noise in output levels; 0 for none
    int depth = 8;                     // bits of each output word: 8, or 16 for deeper samples
    int bits = 8;  // significant bits of the samples: 8, or 9 to 16 in 16-bit words
    bool operator==(const Readout&) const = default;
};

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
