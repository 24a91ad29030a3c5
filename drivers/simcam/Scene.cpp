#include "Scene.h"

#include <algorithm>
#include <array>
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

// Adds light into three planes of scene levels, each `width` x `height`.
class Canvas {
  public:
    Canvas(uint8_t* const planes[3], int width, int height)
        : planes_{planes[0], planes[1], planes[2]}, width_(width), height_(height) {}
    // Adds colour c with weight w at pixel (x, y).
    void add(int x, int y, const Rgb& c, double w) {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
        const size_t i = static_cast<size_t>(y) * width_ + x;
        planes_[0][i] = level(planes_[0][i] + c.b * w);
        planes_[1][i] = level(planes_[1][i] + c.g * w);
        planes_[2][i] = level(planes_[2][i] + c.r * w);
    }
    void disk(double cx, double cy, double radius, const Rgb& c) {
        for (int y = static_cast<int>(cy - radius) - 1; y <= cy + radius + 1; ++y)
            for (int x = static_cast<int>(cx - radius) - 1; x <= cx + radius + 1; ++x)
                if (std::hypot(x - cx, y - cy) <= radius) add(x, y, c, 1.0);
    }
    // A Gaussian spot of peak colour c; returns the pixels it may have touched, as
    // x0, y0, x1, y1 (the last two exclusive).
    std::array<int, 4> star(double cx, double cy, double sigma, const Rgb& c) {
        const int reach = static_cast<int>(std::ceil(sigma * 4));
        const int x0 = static_cast<int>(std::floor(cx)) - reach;
        const int y0 = static_cast<int>(std::floor(cy)) - reach;
        const int x1 = static_cast<int>(std::ceil(cx)) + reach + 1;
        const int y1 = static_cast<int>(std::ceil(cy)) + reach + 1;
        for (int y = std::max(y0, 0); y < std::min(y1, height_); ++y)
            for (int x = std::max(x0, 0); x < std::min(x1, width_); ++x) {
                const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                add(x, y, c, std::exp(-d2 / (2 * sigma * sigma)));
            }
        return {x0, y0, x1, y1};
    }

  private:
    uint8_t* planes_[3];
    int width_, height_;
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
std::atomic<int> g_binning{1};

int binnedSide(int side) {
    return std::max(2, side / g_binning.load() / 2 * 2);
}
}  // namespace

int sensorWidth() {
    return binnedSide(g_sensorWidth.load());
}
int sensorHeight() {
    return binnedSide(g_sensorHeight.load());
}
int binning() {
    return g_binning.load();
}
bool setBinning(int factor) {
    if (factor < 1 || factor > kMaxBinning) return false;
    g_binning = factor;
    return true;
}
bool setSensorSize(int width, int height) {
    if (width < kMinSensorSide || height < kMinSensorSide || width > kMaxSensorWidth ||
        height > kMaxSensorHeight)
        return false;
    g_sensorWidth = width;
    g_sensorHeight = height;
    return true;
}

namespace {
Scene blankScene(int width, int height) {
    Scene s;
    s.width = width;
    s.height = height;
    for (auto& p : s.plane) p.assign(static_cast<size_t>(width) * height, 0);
    return s;
}

Canvas canvasOf(Scene& s) {
    uint8_t* planes[3] = {s.plane[0].data(), s.plane[1].data(), s.plane[2].data()};
    return Canvas(planes, s.width, s.height);
}

// The planet's half axes at scale 1 (a 1280 x 960 sensor), in pixels.
constexpr double kPlanetA = 200, kPlanetB = 187;

// A moon or a field star: its place at scale 1 relative to the planet's centre, its size and
// its peak colour.
struct Spot {
    double dx, dy, sigma;
    Rgb colour;
};
// Two moons near the equator's line and a few field stars of different colours.
constexpr Spot kSpots[] = {
    {-340, 9, 2.4, {235, 228, 215}},    {430, -14, 2.0, {215, 205, 190}},
    {-470, -270, 1.6, {250, 250, 250}}, {445, -320, 1.5, {255, 225, 170}},
    {320, 320, 1.8, {180, 205, 255}},   {-380, 350, 1.3, {200, 200, 200}},
};

// The blur levels the planet is drawn at: quarter pixels up to 2.5 pixels, then a tenth of
// the blur apart, so that a large seeing needs a few dozen levels rather than hundreds.
double blurLevel(double blur) {
    constexpr double kFine = 2.5;
    if (blur <= kFine) return std::lround(std::max(blur, 0.0) * 4) / 4.0;
    const double step = std::log(1.1);
    return kFine * std::exp(static_cast<double>(std::lround(std::log(blur / kFine) / step)) * step);
}

// `base` blurred by a Gaussian of `sigma` pixels, grown by the blur's reach on every side.
std::unique_ptr<PlanetSky::Patch> blurredPatch(const PlanetSky::Patch& base, double sigma) {
    const int radius = static_cast<int>(std::ceil(3 * sigma));
    std::vector<float> kernel(2 * radius + 1);
    double sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += kernel[i + radius] = static_cast<float>(std::exp(-i * i / (2 * sigma * sigma)));
    for (float& k : kernel) k = static_cast<float>(k / sum);

    auto out = std::make_unique<PlanetSky::Patch>();
    out->width = base.width + 2 * radius;
    out->height = base.height + 2 * radius;
    out->centreX = base.centreX + radius;
    out->centreY = base.centreY + radius;
    // Out pixel (X, Y) lies on base pixel (X - radius, Y - radius).
    std::vector<float> rows(static_cast<size_t>(out->width) * base.height);
    for (int c = 0; c < 3; ++c) {
        std::fill(rows.begin(), rows.end(), 0.0f);
        for (int y = 0; y < base.height; ++y) {
            const uint8_t* src = base.plane[c].data() + static_cast<size_t>(y) * base.width;
            float* dst = rows.data() + static_cast<size_t>(y) * out->width;
            for (int x = 0; x < base.width; ++x) {
                if (!src[x]) continue;
                const float v = src[x];
                for (int i = 0; i <= 2 * radius; ++i) dst[x + i] += v * kernel[i];
            }
        }
        out->plane[c].assign(static_cast<size_t>(out->width) * out->height, 0);
        // Row by row, so that the inner loop runs along memory.
        std::vector<float> sum(out->width);
        for (int y = 0; y < out->height; ++y) {
            std::fill(sum.begin(), sum.end(), 0.0f);
            for (int i = std::max(0, y - base.height + 1); i <= std::min(2 * radius, y); ++i) {
                const float k = kernel[i];
                const float* src = rows.data() + static_cast<size_t>(y - i) * out->width;
                for (int x = 0; x < out->width; ++x) sum[x] += k * src[x];
            }
            uint8_t* dst = out->plane[c].data() + static_cast<size_t>(y) * out->width;
            for (int x = 0; x < out->width; ++x)
                dst[x] = static_cast<uint8_t>(std::min(sum[x], 255.0f) + 0.5f);
        }
    }
    return out;
}
}  // namespace

Scene buildTestCard() {
    Scene s = blankScene(sensorWidth(), sensorHeight());
    Canvas canvas = canvasOf(s);
    canvas.disk(448, 400, 64, {200, 0, 0});
    canvas.disk(640, 400, 64, {0, 200, 0});
    canvas.disk(832, 400, 64, {0, 0, 200});
    for (int y = 700; y < 780; ++y)
        for (int x = 600; x < 680; ++x) canvas.add(x, y, {200, 200, 200}, 1.0);
    return s;
}

PlanetSky::PlanetSky(int sensorWidth, int sensorHeight)
    : scene_(blankScene(sensorWidth, sensorHeight)),
      scale_(std::min(sensorWidth / static_cast<double>(kSensorWidth),
                      sensorHeight / static_cast<double>(kSensorHeight))) {
    // The sharp planet, its centre on a pixel, with room for its anti-aliased rim.
    auto base = std::make_unique<Patch>();
    const int halfWidth = static_cast<int>(std::ceil(kPlanetA * scale_)) + 3;
    const int halfHeight = static_cast<int>(std::ceil(kPlanetB * scale_)) + 3;
    base->width = 2 * halfWidth + 1;
    base->height = 2 * halfHeight + 1;
    base->centreX = halfWidth;
    base->centreY = halfHeight;
    for (auto& p : base->plane) p.assign(static_cast<size_t>(base->width) * base->height, 0);
    uint8_t* planes[3] = {base->plane[0].data(), base->plane[1].data(), base->plane[2].data()};
    Canvas canvas(planes, base->width, base->height);
    drawPlanet(canvas, halfWidth, halfHeight, kPlanetA * scale_, kPlanetB * scale_);
    planet_[0.0] = std::move(base);
}

const PlanetSky::Patch& PlanetSky::planetAt(double blur) {
    const double level = blurLevel(blur);
    std::unique_ptr<Patch>& patch = planet_[level];
    if (!patch) patch = blurredPatch(*planet_[0.0], level);
    return *patch;
}

void PlanetSky::erase() {
    for (const Rect& r : drawn_)
        for (auto& plane : scene_.plane)
            for (int y = r.y0; y < r.y1; ++y)
                std::fill_n(plane.data() + static_cast<size_t>(y) * scene_.width + r.x0,
                            r.x1 - r.x0, uint8_t{0});
    drawn_.clear();
}

PlanetPlace PlanetSky::draw(const SkyPose& pose) {
    erase();
    auto keep = [&](int x0, int y0, int x1, int y1) {
        const Rect r{std::max(x0, 0), std::max(y0, 0), std::min(x1, scene_.width),
                     std::min(y1, scene_.height)};
        if (r.x0 < r.x1 && r.y0 < r.y1) drawn_.push_back(r);
        return r;
    };
    const Patch& planet = planetAt(pose.blur);
    const double cx = scene_.width / 2.0 + pose.shiftX, cy = scene_.height / 2.0 + pose.shiftY;
    // Pasted whole pixels: the planet's centre lands on the pixel nearest to its place.
    const long px = std::lround(cx), py = std::lround(cy);
    if (std::abs(px) < 4 * kMaxSensorWidth && std::abs(py) < 4 * kMaxSensorHeight) {
        const int ox = static_cast<int>(px) - planet.centreX;
        const int oy = static_cast<int>(py) - planet.centreY;
        const Rect r = keep(ox, oy, ox + planet.width, oy + planet.height);
        const bool seen = r.x0 < r.x1 && r.y0 < r.y1;  // not wholly off the sensor
        for (int c = 0; c < 3 && seen; ++c)
            for (int y = r.y0; y < r.y1; ++y) {
                // The clipped rectangle starts at or right of the patch's corner.
                const uint8_t* src = planet.plane[c].data() +
                                     static_cast<ptrdiff_t>(y - oy) * planet.width + (r.x0 - ox);
                uint8_t* dst = scene_.plane[c].data() + static_cast<size_t>(y) * scene_.width;
                std::copy_n(src, r.x1 - r.x0, dst + r.x0);
            }
    }
    Canvas canvas = canvasOf(scene_);
    const double blur2 = pose.blur * pose.blur;
    for (const Spot& spot : kSpots) {
        const double x = cx + spot.dx * scale_, y = cy + spot.dy * scale_;
        // A blurred spot keeps its light: wider and fainter.
        const double sigma = spot.sigma * scale_, wide = std::sqrt(sigma * sigma + blur2);
        const double dim = sigma * sigma / (wide * wide);
        const Rgb c{spot.colour.r * dim, spot.colour.g * dim, spot.colour.b * dim};
        const int reach = static_cast<int>(std::ceil(wide * 4)) + 1;
        if (x < -reach || y < -reach || x > scene_.width + reach || y > scene_.height + reach)
            continue;
        const auto box = canvas.star(x, y, wide, c);
        keep(box[0], box[1], box[2], box[3]);
    }
    return {static_cast<double>(px), static_cast<double>(py), blurLevel(pose.blur)};
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

    const int x0 = r.left, y0 = r.top;
    const int step = r.flip ? -1 : 1;
    const int firstSx = r.flip ? x0 + r.width - 1 : x0;
    for (int y = 0; y < r.height; ++y) {
        const int sy = y0 + y;
        const bool oddRow = sy & 1;
        // Even columns: blue on even rows, green on odd rows; odd columns: green or red.
        const int chan[2] = {oddRow ? 1 : 0, oddRow ? 2 : 1};
        const uint8_t* src[2] = {scene.row(chan[0], sy), scene.row(chan[1], sy)};
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
    const int first = camera::shiftedPattern(TARVI_PATTERN_BGGR, r.left, r.top);
    return r.flip ? camera::mirroredPattern(first, r.width) : first;
}

}  // namespace simcam
