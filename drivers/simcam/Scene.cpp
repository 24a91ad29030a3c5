#include "Scene.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "CameraCommon.h"
#include "tarvidll.h"

namespace simcam {
namespace {

struct Rgb {
    double r, g, b;
};

Rgb mix(const Rgb& a, const Rgb& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

double smoothStep(double e0, double e1, double x) {
    const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// 1 inside [lo, hi], falling smoothly to 0 over `soft` on either side.
double band(double v, double lo, double hi, double soft) {
    return smoothStep(lo - soft, lo, v) * (1.0 - smoothStep(hi, hi + soft, v));
}

uint8_t level(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

class Canvas {
  public:
    explicit Canvas(Scene& s) : s_(s) {}
    // Adds colour c with weight w at sensor pixel (x, y).
    void add(int x, int y, const Rgb& c, double w) {
        const int sx = x + kMargin, sy = y + kMargin;
        if (sx < 0 || sy < 0 || sx >= s_.width || sy >= s_.height) return;
        const size_t i = static_cast<size_t>(sy) * s_.width + sx;
        s_.plane[0][i] = level(s_.plane[0][i] + c.b * w);
        s_.plane[1][i] = level(s_.plane[1][i] + c.g * w);
        s_.plane[2][i] = level(s_.plane[2][i] + c.r * w);
    }
    void disk(double cx, double cy, double radius, const Rgb& c) {
        for (int y = static_cast<int>(cy - radius) - 1; y <= cy + radius + 1; ++y)
            for (int x = static_cast<int>(cx - radius) - 1; x <= cx + radius + 1; ++x)
                if (std::hypot(x - cx, y - cy) <= radius) add(x, y, c, 1.0);
    }
    void star(double cx, double cy, double sigma, const Rgb& c) {
        const int reach = static_cast<int>(std::ceil(sigma * 4));
        for (int y = static_cast<int>(cy) - reach; y <= cy + reach; ++y)
            for (int x = static_cast<int>(cx) - reach; x <= cx + reach; ++x) {
                const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                add(x, y, c, std::exp(-d2 / (2 * sigma * sigma)));
            }
    }

  private:
    Scene& s_;
};

// A banded gas giant: pale zones, brown belts, greyish poles, an oval spot, darker limb.
void drawPlanet(Canvas& canvas, double cx, double cy, double a, double b) {
    const Rgb zone{232, 214, 172}, belt{172, 118, 78}, pole{150, 138, 118}, spot{210, 112, 80};
    for (int y = static_cast<int>(cy - b) - 2; y <= cy + b + 2; ++y) {
        for (int x = static_cast<int>(cx - a) - 2; x <= cx + a + 2; ++x) {
            const double nx = (x - cx) / a, ny = (y - cy) / b;
            const double r = std::sqrt(nx * nx + ny * ny);
            // Anti-aliased rim, about one pixel wide.
            const double cover = std::clamp((1.0 - r) * b + 0.5, 0.0, 1.0);
            if (cover <= 0) continue;
            const double mu = std::sqrt(std::max(0.0, 1.0 - std::min(r, 1.0) * std::min(r, 1.0)));
            const double lat = ny + 0.007 * std::sin(nx * 17.0 + ny * 5.0) +
                               0.004 * std::sin(nx * 41.0 - ny * 13.0);  // ragged belt edges
            double beltness = band(lat, 0.10, 0.28, 0.04) + band(lat, -0.33, -0.14, 0.04) +
                              0.7 * band(lat, 0.44, 0.54, 0.03) +
                              0.6 * band(lat, -0.60, -0.50, 0.03);
            Rgb c = mix(zone, belt, std::min(beltness, 1.0));
            c = mix(c, pole, smoothStep(0.68, 0.85, std::fabs(lat)));
            const double sx = (nx - 0.32) / 0.13, sy = (ny + 0.235) / 0.065;
            c = mix(c, spot, 1.0 - smoothStep(0.7, 1.0, std::sqrt(sx * sx + sy * sy)));
            const double limb = 0.22 + 0.78 * std::pow(mu, 0.7);
            canvas.add(x, y, c, limb * cover);
        }
    }
}

}  // namespace

namespace {
std::atomic<int> g_sensorWidth{kSensorWidth};
std::atomic<int> g_sensorHeight{kSensorHeight};
}  // namespace

int sensorWidth() {
    return g_sensorWidth.load();
}
int sensorHeight() {
    return g_sensorHeight.load();
}
bool setSensorSize(int width, int height) {
    if (width < kMinSensorSide || height < kMinSensorSide || width > kMaxSensorWidth ||
        height > kMaxSensorHeight)
        return false;
    g_sensorWidth = width;
    g_sensorHeight = height;
    return true;
}

Scene buildScene(SceneKind kind) {
    Scene s;
    s.width = sensorWidth() + 2 * kMargin;
    s.height = sensorHeight() + 2 * kMargin;
    for (auto& p : s.plane) p.assign(static_cast<size_t>(s.width) * s.height, 0);
    Canvas canvas(s);
    if (kind == SceneKind::TestCard) {
        canvas.disk(448, 400, 64, {200, 0, 0});
        canvas.disk(640, 400, 64, {0, 200, 0});
        canvas.disk(832, 400, 64, {0, 0, 200});
        for (int y = 700; y < 780; ++y)
            for (int x = 600; x < 680; ++x) canvas.add(x, y, {200, 200, 200}, 1.0);
        return s;
    }
    // The planet's size follows the sensor's height (187 pixels at 960 rows).
    const double cx = sensorWidth() / 2.0, cy = sensorHeight() / 2.0;
    const double scale = sensorHeight() / static_cast<double>(kSensorHeight);
    drawPlanet(canvas, cx, cy, 200 * scale, 187 * scale);
    // Two moons near the equator's line and a few field stars of different colours.
    canvas.star(cx - 340, cy + 9, 2.4, {235, 228, 215});
    canvas.star(cx + 430, cy - 14, 2.0, {215, 205, 190});
    canvas.star(170, 210, 1.6, {250, 250, 250});
    canvas.star(1085, 160, 1.5, {255, 225, 170});
    canvas.star(960, 800, 1.8, {180, 205, 255});
    canvas.star(260, 830, 1.3, {200, 200, 200});
    return s;
}

int subframeLeft(int width) {
    return ((sensorWidth() - width) / 2) & ~1;
}
int subframeTop(int height) {
    return ((sensorHeight() - height) / 2) & ~1;
}

namespace {
// Noise samples, standard deviation 32, for read noise in fixed point.
// Never destroyed: the camera's worker thread may still be rendering while the process ends.
const std::vector<int16_t>& noiseTable() {
    static const std::vector<int16_t>* table = [] {
        std::mt19937 gen(12345);
        std::normal_distribution<double> dist(0.0, 32.0);
        auto* t = new std::vector<int16_t>(1 << 16);
        for (auto& v : *t) v = static_cast<int16_t>(std::clamp(dist(gen), -127.0, 127.0));
        return t;
    }();
    return *table;
}
}  // namespace

namespace {
template <typename Sample>
void render(const Scene& scene, const Readout& r, uint8_t* out, size_t stride, std::mt19937& rng) {
    // Output level per scene level and colour, bias included; large values stay large so
    // that a saturated site is still at the top after the noise is added.
    const int shift = r.bits - 8;
    const int32_t top = (1 << r.bits) - 1;
    int32_t lut[3][256];
    for (int c = 0; c < 3; ++c)
        for (int s = 0; s < 256; ++s)
            lut[c][s] = static_cast<int32_t>(
                std::min<double>(16 * top, std::round(std::ldexp(r.bias + s * r.gain[c], shift))));
    const std::vector<int16_t>& noise = noiseTable();
    // noise level = table value * k / 1024 with table sigma 32: k = sigma * 32.
    const int32_t k = static_cast<int32_t>(std::lround(std::ldexp(r.noiseSigma * 32.0, shift)));

    const int x0 = subframeLeft(r.width), y0 = subframeTop(r.height);
    const int step = r.flip ? -1 : 1;
    const int firstSx = r.flip ? x0 + r.width - 1 : x0;
    for (int y = 0; y < r.height; ++y) {
        const int sy = y0 + y;
        const int row = sy + kMargin + r.dy;
        const bool oddRow = sy & 1;
        // Even columns: blue on even rows, green on odd rows; odd columns: green or red.
        const int chan[2] = {oddRow ? 1 : 0, oddRow ? 2 : 1};
        const uint8_t* src[2] = {scene.row(chan[0], row) + kMargin + r.dx,
                                 scene.row(chan[1], row) + kMargin + r.dx};
        const int32_t* map[2] = {lut[chan[0]], lut[chan[1]]};
        Sample* dst = reinterpret_cast<Sample*>(out + static_cast<size_t>(y) * stride);
        int sx = firstSx;
        if (k == 0) {
            for (int x = 0; x < r.width; ++x, sx += step) {
                const int p = sx & 1;
                dst[x] = static_cast<Sample>(std::min(map[p][src[p][sx]], top));
            }
        } else {
            uint32_t n = rng();
            for (int x = 0; x < r.width; ++x, sx += step, ++n) {
                const int p = sx & 1;
                int32_t v = map[p][src[p][sx]] + ((noise[n & 0xFFFF] * k) >> 10);
                v = v < 0 ? 0 : (v > top ? top : v);
                dst[x] = static_cast<Sample>(v);
            }
        }
    }
}
}  // namespace

void renderMosaic(const Scene& scene, const Readout& r, uint8_t* out, size_t stride,
                  std::mt19937& rng) {
    if (r.depth == 16)
        render<uint16_t>(scene, r, out, stride, rng);
    else
        render<uint8_t>(scene, r, out, stride, rng);
}

int readoutPattern(const Readout& r) {
    // The sensor starts with blue; subframes start on even sites.
    const int first =
        camera::shiftedPattern(TARVI_PATTERN_BGGR, subframeLeft(r.width), subframeTop(r.height));
    return r.flip ? camera::mirroredPattern(first, r.width) : first;
}

}  // namespace simcam
