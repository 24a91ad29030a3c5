// Palette, zoom sizes and rendering into the picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <tuple>

#include "display/FocusWindow.h"
#include "display/PreviewRenderer.h"

namespace {

int grey(const QList<QRgb>& palette, int i) {
    const QRgb c = palette[i];
    EXPECT_EQ(qRed(c), qGreen(c));
    EXPECT_EQ(qRed(c), qBlue(c));
    return qRed(c);
}

cv::Mat randomFrame(int width, int height, int type, int seed) {
    cv::Mat m(height, width, type);
    cv::RNG rng(seed);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    return m;
}

}  // namespace

TEST(LevelsPalette, StartValuesGiveTheIdentityRamp) {
    const QList<QRgb> p = buildLevelsPalette(0, 255, 255, 255);
    ASSERT_EQ(p.size(), 256);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(grey(p, i), i) << "index " << i;
}

TEST(LevelsPalette, BlackAndWhiteLevelsStretchTheRampRoundingHalvesToEven) {
    const QList<QRgb> p = buildLevelsPalette(10, 200, 255, 255);
    for (int i = 0; i <= 10; ++i) EXPECT_EQ(grey(p, i), 0) << i;
    EXPECT_EQ(grey(p, 50), 54);
    EXPECT_EQ(grey(p, 150), 188);
    for (int i = 200; i <= 254; ++i) EXPECT_EQ(grey(p, i), 255) << i;

    // A step of exactly 1.5: 1.5 -> 2, 4.5 -> 4, 7.5 -> 8.
    const QList<QRgb> q = buildLevelsPalette(0, 170, 255, 255);
    EXPECT_EQ(grey(q, 1), 2);
    EXPECT_EQ(grey(q, 3), 4);
    EXPECT_EQ(grey(q, 5), 8);
    EXPECT_EQ(grey(q, 171), 255);
}

TEST(LevelsPalette, SaturationLimitAndEqualLevels) {
    const QList<QRgb> p = buildLevelsPalette(0, 255, 250, 0);
    EXPECT_EQ(grey(p, 249), 249);
    for (int i = 250; i < 256; ++i) EXPECT_EQ(grey(p, i), 0) << i;

    const QList<QRgb> q = buildLevelsPalette(100, 100, 255, 255);
    for (int i = 0; i <= 100; ++i) EXPECT_EQ(grey(q, i), 0) << i;
    for (int i = 101; i < 255; ++i) EXPECT_EQ(grey(q, i), 255) << i;

    // Reversed levels still give valid greys.
    const QList<QRgb> r = buildLevelsPalette(200, 10, 256, 0);
    for (int i = 0; i < 256; ++i) {
        const int g = grey(r, i);
        EXPECT_TRUE(g >= 0 && g <= 255);
    }
}

TEST(Zoom, SizesRoundHalvesToEven) {
    EXPECT_EQ(zoomedSize(1280, 960, 100), QSize(1280, 960));
    EXPECT_EQ(zoomedSize(1280, 960, 25), QSize(320, 240));
    EXPECT_EQ(zoomedSize(1280, 960, 200), QSize(2560, 1920));
    EXPECT_EQ(zoomedSize(1281, 961, 50), QSize(640, 480));
    EXPECT_EQ(zoomedSize(1286, 966, 25), QSize(322, 242));  // 321.5 -> 322, 241.5 -> 242
    EXPECT_EQ(zoomedSize(1, 2, 25), QSize(1, 1));           // never an empty picture
}

TEST(Zoom, CommandsAcceptOnlyTheMenuChoices) {
    PreviewRenderer renderer;
    EXPECT_EQ(renderer.zoomPercent(), 100);
    EXPECT_TRUE(renderer.setZoom(200));
    EXPECT_EQ(renderer.zoomPercent(), 200);
    EXPECT_FALSE(renderer.setZoom(300));
    EXPECT_EQ(renderer.zoomPercent(), 200);
    EXPECT_TRUE(renderer.setZoom(25));
    EXPECT_EQ(renderer.zoomPercent(), 25);
}

TEST(RenderPreview, DoubledPicturesAreTwoByTwoBlocksInPaddedRows) {
    PreviewRenderer renderer;
    renderer.setZoom(200);
    cv::Mat frame = randomFrame(7, 5, CV_8UC1, 1);  // 14 pixels wide: rows padded to 16
    const cv::Mat before = frame.clone();
    QImage picture, focus;
    ASSERT_TRUE(renderer.render(frame, picture, focus, false));
    ASSERT_EQ(picture.format(), QImage::Format_Indexed8);
    ASSERT_EQ(picture.size(), QSize(14, 10));
    EXPECT_EQ(picture.bytesPerLine(), 16);
    EXPECT_EQ(picture.colorTable(), buildLevelsPalette(0, 255, 255, 255));
    for (int y = 0; y < 10; ++y) {
        const uchar* row = picture.constScanLine(y);
        for (int x = 0; x < 14; ++x)
            ASSERT_EQ(row[x], frame.at<uchar>(y / 2, x / 2)) << x << "," << y;
    }
    EXPECT_EQ(cv::norm(frame, before, cv::NORM_INF), 0.0);
}

TEST(RenderPreview, GreyRowsOfAnOddWidthLandInTheirOwnRows) {
    PreviewRenderer renderer;
    renderer.setZoom(100);
    cv::Mat buffer = randomFrame(16, 9, CV_8UC1, 2);
    cv::Mat frame = buffer(cv::Rect(0, 0, 13, 9));  // a padded frame view, as the camera's
    QImage picture, focus;
    ASSERT_TRUE(renderer.render(frame, picture, focus, false));
    ASSERT_EQ(picture.size(), QSize(13, 9));
    for (int y = 0; y < 9; ++y)
        ASSERT_EQ(0, memcmp(picture.constScanLine(y), frame.ptr(y), 13)) << "row " << y;
}

TEST(RenderPreview, ColourFramesAreCopiedByteForByteWhenReduced) {
    PreviewRenderer renderer;
    renderer.setZoom(50);
    cv::Mat frame = randomFrame(21, 10, CV_8UC3, 3);
    QImage picture, focus;
    ASSERT_TRUE(renderer.render(frame, picture, focus, false));
    ASSERT_EQ(picture.format(), QImage::Format_BGR888);
    ASSERT_EQ(picture.size(), QSize(10, 5));  // 10.5 -> 10
    EXPECT_EQ(focus.format(), QImage::Format_BGR888);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 10; ++x) {
            const cv::Vec3b src = frame.at<cv::Vec3b>(y * 2, x * 2);
            const uchar* px = picture.constScanLine(y) + 3 * x;
            ASSERT_EQ(px[0], src[0]);
            ASSERT_EQ(px[1], src[1]);
            ASSERT_EQ(px[2], src[2]);
        }
    }
}

TEST(RenderPreview, FollowsFormatChangesAndFeedsTheHiddenFocusPicture) {
    PreviewRenderer renderer;
    renderer.setZoom(100);
    renderer.setLevels({.black = 10, .white = 200});
    QImage picture, focus;
    cv::Mat colour = randomFrame(40, 30, CV_8UC3, 4);
    ASSERT_TRUE(renderer.render(colour, picture, focus, false));
    EXPECT_EQ(picture.format(), QImage::Format_BGR888);

    cv::Mat grey = randomFrame(40, 30, CV_8UC1, 5);
    focus = QImage(kFocusPictureSize, kFocusPictureSize, QImage::Format_Indexed8);
    focus.fill(77);
    ASSERT_TRUE(renderer.render(grey, picture, focus, false));
    const QList<QRgb> levels = buildLevelsPalette(10, 200, 255, 255);
    EXPECT_EQ(picture.format(), QImage::Format_Indexed8);
    EXPECT_EQ(picture.colorTable(), levels);
    EXPECT_EQ(focus.colorTable(), levels);
    // Hidden: the focus picture takes the palette but no pixels.
    for (int y = 0; y < kFocusPictureSize; ++y)
        for (int x = 0; x < kFocusPictureSize; ++x) ASSERT_EQ(focus.pixelIndex(x, y), 77);
}

TEST(RenderPreview, NeverWritesIntoACopyOfThePicture) {
    PreviewRenderer renderer;
    renderer.setZoom(100);
    QImage picture, focus;
    cv::Mat first(8, 8, CV_8UC1, cv::Scalar(1));
    ASSERT_TRUE(renderer.render(first, picture, focus, false));
    const QImage copy = picture;  // e.g. held by a paint in progress
    cv::Mat second(8, 8, CV_8UC1, cv::Scalar(2));
    ASSERT_TRUE(renderer.render(second, picture, focus, false));
    EXPECT_EQ(copy.pixelIndex(3, 3), 1);
    EXPECT_EQ(picture.pixelIndex(3, 3), 2);
}

TEST(RenderPreview, RejectsWhatItCannotShow) {
    const PreviewRenderer renderer;
    QImage picture(4, 4, QImage::Format_Indexed8), focus;
    const qint64 key = picture.cacheKey();
    cv::Mat empty;
    cv::Mat deep(4, 4, CV_16UC1, cv::Scalar(0));
    cv::Mat four(4, 4, CV_8UC4, cv::Scalar(0));
    EXPECT_FALSE(renderer.render(empty, picture, focus, false));
    EXPECT_FALSE(renderer.render(deep, picture, focus, false));
    EXPECT_FALSE(renderer.render(four, picture, focus, false));
    EXPECT_EQ(picture.cacheKey(), key);
}

// The overlay stage puts the text into a mono frame's samples (only into its box, at full
// scale); the preview then shows it with the frame, twice as large at 200 %, and changes no
// sample itself.
TEST(RenderPreview, TheOverlayStageAloneChangesTheFrame) {
    PreviewRenderer renderer;
    renderer.setZoom(200);
    FramePtr f = newFrame(160, 60, "21:05:09.042", false, 8);
    f->rawImage.setTo(40);
    const cv::Mat before = f->rawImage.clone();
    burnStampText(*f);
    prepareImage8(*f);
    cv::Mat& frame = f->image8;
    const cv::Mat burnt = frame.clone();
    QImage picture, focus;
    renderer.setFocusPoint(QPoint(80, 30));
    ASSERT_TRUE(renderer.render(frame, picture, focus, true));
    EXPECT_EQ(cv::norm(frame, burnt, cv::NORM_INF), 0.0);

    int baseline = 0;
    const cv::Size text =
        cv::getTextSize("21:05:09.042", cv::FONT_HERSHEY_PLAIN, 1.0, 1, &baseline);
    const cv::Rect textBox(19, 20 - text.height - 1, text.width + 2, text.height + baseline + 2);
    int changed = 0;
    for (int y = 0; y < frame.rows; ++y) {
        for (int x = 0; x < frame.cols; ++x) {
            if (frame.at<uchar>(y, x) == before.at<uchar>(y, x)) continue;
            ++changed;
            ASSERT_TRUE(textBox.contains(cv::Point(x, y))) << x << "," << y;
            ASSERT_EQ(frame.at<uchar>(y, x), 255);
        }
    }
    EXPECT_GT(changed, 20);
    // The picture shows the text too, twice as large.
    cv::Mat expected;
    cv::resize(frame, expected, cv::Size(320, 120), 0, 0, cv::INTER_NEAREST);
    for (int y = 0; y < 120; ++y)
        ASSERT_EQ(0, memcmp(picture.constScanLine(y), expected.ptr(y), 320)) << y;
}

// Below 100 % a camera frame is drawn straight from its samples; it must show what the
// whole-frame road (8-bit view, demosaic, nearest-neighbour render) shows. Params: colour
// pattern, bits per sample word.
class ReducedPreview : public ::testing::TestWithParam<std::tuple<ColorPattern, int>> {};

TEST_P(ReducedPreview, ShowsWhatTheWholeFrameRoadShows) {
    const auto [pattern, depth] = GetParam();
    const bool colour = pattern != ColorPattern::Mono;
    FramePtr frame = newFrame(64, 48, "", false, depth);
    frame->pattern = pattern;
    frame->bitsPerSample = depth == 16 ? 12 : 8;
    const int unit = depth == 16 ? 16 : 1;
    if (colour) {
        // One colour everywhere: red 200, green 100, blue 40 (at 8 bits) on their sites.
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const bool redRow = (pattern == ColorPattern::RGGB || pattern == ColorPattern::GRBG)
                                        ? y % 2 == 0
                                        : y % 2 == 1;
                const bool redCol = (pattern == ColorPattern::RGGB || pattern == ColorPattern::GBRG)
                                        ? x % 2 == 0
                                        : x % 2 == 1;
                const int v = redRow && redCol ? 200 : (!redRow && !redCol ? 40 : 100);
                if (depth == 16)
                    frame->rawImage.at<uint16_t>(y, x) = static_cast<uint16_t>(v * unit);
                else
                    frame->rawImage.at<uint8_t>(y, x) = static_cast<uint8_t>(v);
            }
    } else {
        cv::RNG(9).fill(frame->rawImage, cv::RNG::UNIFORM, 0, 256 * unit);
    }
    PreviewRenderer renderer;
    renderer.setZoom(25);
    QImage reduced, whole, focus;
    if (!colour && depth == 8) {
        EXPECT_FALSE(renderer.renderReduced(*frame, false, reduced, focus, false));
        return;  // its own 8-bit view: the ordinary render
    }
    ASSERT_TRUE(renderer.renderReduced(*frame, colour, reduced, focus, false));
    prepareImage8(*frame);
    if (colour) ensureColorImage(*frame);
    ASSERT_TRUE(renderer.render(colour ? frame->colorImage : frame->image8, whole, focus, false));
    ASSERT_EQ(reduced.size(), QSize(16, 12));
    ASSERT_EQ(reduced.format(), whole.format());
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            if (colour) {
                const uchar* px = reduced.constScanLine(y) + 3 * x;
                ASSERT_EQ(cv::Vec3b(px[0], px[1], px[2]), cv::Vec3b(40, 100, 200)) << x << "," << y;
            }
            // The whole-frame demosaic is exact inside the frame; its border may differ.
            if (!colour || (x > 0 && y > 0)) {
                ASSERT_EQ(
                    0, memcmp(reduced.constScanLine(y) + x * reduced.depth() / 8,
                              whole.constScanLine(y) + x * whole.depth() / 8, reduced.depth() / 8))
                    << x << "," << y;
            }
        }
    // The whole-frame road stays in charge at 100 % and with the focus picture shown.
    EXPECT_FALSE(renderer.renderReduced(*frame, colour, reduced, focus, true));
    renderer.setZoom(100);
    EXPECT_FALSE(renderer.renderReduced(*frame, colour, reduced, focus, false));
}

INSTANTIATE_TEST_SUITE_P(
    PatternsAndDepths, ReducedPreview,
    ::testing::Combine(::testing::Values(ColorPattern::Mono, ColorPattern::RGGB, ColorPattern::GRBG,
                                         ColorPattern::GBRG, ColorPattern::BGGR),
                       ::testing::Values(8, 16)));

// A part of the picture at 100 % and 200 % holds the pixels of the whole picture under it,
// demosaic and burnt-in text included, for a part at odd offsets and one at the frame's edge.
class RegionPreview : public ::testing::TestWithParam<std::tuple<ColorPattern, int>> {};

TEST_P(RegionPreview, HoldsTheWholePicturesPixelsUnderIt) {
    const auto [pattern, zoom] = GetParam();
    const bool colour = pattern != ColorPattern::Mono;
    FramePtr frame = newFrame(96, 64, "21:05:09.042", false, 16);
    frame->pattern = pattern;
    frame->bitsPerSample = 12;
    cv::RNG(5).fill(frame->rawImage, cv::RNG::UNIFORM, 0, 4096);
    burnStampText(*frame);
    PreviewRenderer renderer;
    renderer.setZoom(zoom);
    QImage whole, part, focus;
    if (zoom < 100) {
        ASSERT_TRUE(renderer.renderReduced(*frame, colour, whole, focus, false));
    } else {
        ensureColorImage(*frame);
        ASSERT_TRUE(
            renderer.render(colour ? frame->colorImage : frame->image8, whole, focus, false));
    }
    for (const QRect visible : {QRect(5, 3, 11, 9), QRect(whole.width() - 7, 5, 500, 500)}) {
        const auto region =
            renderer.renderRegion(previewSourceOf(*frame, colour), visible, part, focus);
        ASSERT_TRUE(region);
        EXPECT_EQ(region->pictureSize, whole.size());
        ASSERT_EQ(part.format(), whole.format());
        const QRect covered(region->origin, part.size());
        EXPECT_TRUE(covered.contains(visible & whole.rect())) << covered.x() << "," << covered.y();
        const int bytes = part.depth() / 8;
        for (int y = 0; y < part.height(); ++y)
            ASSERT_EQ(0, memcmp(part.constScanLine(y),
                                whole.constScanLine(y + covered.y()) + covered.x() * bytes,
                                static_cast<size_t>(part.width() * bytes)))
                << "row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(PatternsAndZooms, RegionPreview,
                         ::testing::Combine(::testing::Values(ColorPattern::Mono,
                                                              ColorPattern::GRBG),
                                            ::testing::Values(25, 50, 100, 200)));

// The display table against a grey computed here from its definition, and against the plain
// 8-bit view, which the table without a stretch must reproduce exactly. Param: bits.
class DisplayTable : public ::testing::TestWithParam<int> {};

TEST_P(DisplayTable, MatchesTheReferenceAndMarksOnlyFullScale) {
    const int bits = GetParam();
    const int depth = bits > 8 ? CV_16U : CV_8U;
    cv::Mat all(1, 1 << bits, depth);
    for (int v = 0; v < (1 << bits); ++v) {
        if (depth == CV_16U)
            all.at<uint16_t>(0, v) = static_cast<uint16_t>(v);
        else
            all.at<uint8_t>(0, v) = static_cast<uint8_t>(v);
    }
    const cv::Mat plain = eightBitSamples(all, bits);
    const std::vector<uint8_t> identity = displayTable(DisplayLevels{}, bits, false);
    const DisplayLevels stretch{.black = 20, .white = 180, .gamma = 1.8};
    const std::vector<uint8_t> marked = displayTable(stretch, bits, true);
    for (int v = 0; v < (1 << bits); ++v) {
        ASSERT_EQ(identity[static_cast<size_t>(v)], plain.at<uint8_t>(0, v)) << v;
        const double t = std::clamp((v / std::ldexp(1.0, bits - 8) - 20) / 160.0, 0.0, 1.0);
        const int grey = std::min(254, static_cast<int>(std::lround(255 * std::pow(t, 1 / 1.8))));
        ASSERT_EQ(marked[static_cast<size_t>(v)], v == (1 << bits) - 1 ? 255 : grey) << v;
    }
}
INSTANTIATE_TEST_SUITE_P(Depths, DisplayTable, ::testing::Values(8, 10, 12, 16));

// The picture drawn with a stretch and the clip mark shows each sample's reference grey, a
// clipped sample in the signal colour (also in colour, at its own site), at every zoom, and the
// frame's samples stay as they were. Params: colour, bits per sample word, zoom.
class StretchedPreview : public ::testing::TestWithParam<std::tuple<bool, int, int>> {};

TEST_P(StretchedPreview, ShowsTheStretchAndTheClippedSamplesOnly) {
    const bool colour = std::get<0>(GetParam());
    const int depth = std::get<1>(GetParam()), zoom = std::get<2>(GetParam());
    const int bits = depth == 16 ? 12 : 8, full = (1 << bits) - 1;
    FramePtr frame = newFrame(64, 48, "", false, depth);
    frame->bitsPerSample = bits;
    frame->pattern = colour ? ColorPattern::RGGB : ColorPattern::Mono;
    const auto at = [&](int x, int y) -> int {
        return depth == 16 ? frame->rawImage.at<uint16_t>(y, x) : frame->rawImage.at<uint8_t>(y, x);
    };
    const auto put = [&](int x, int y, int v) {
        if (depth == 16)
            frame->rawImage.at<uint16_t>(y, x) = static_cast<uint16_t>(v);
        else
            frame->rawImage.at<uint8_t>(y, x) = static_cast<uint8_t>(v);
    };
    if (colour) {  // red 200, greens 100, blue 40 at 8 bits; one red site clipped
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                put(x, y,
                    ((x % 2) + (y % 2) == 0   ? 200
                     : (x % 2) + (y % 2) == 2 ? 40
                                              : 100) *
                        (full + 1) / 256);
    } else {
        cv::RNG(3).fill(frame->rawImage, cv::RNG::UNIFORM, 0, full + 1);
    }
    put(20, 12, full);
    const cv::Mat before = frame->rawImage.clone();
    PreviewRenderer renderer;
    renderer.setZoom(zoom);
    const DisplayLevels stretch{.black = 30, .white = 220, .gamma = 1.5};
    renderer.setLevels(stretch);
    renderer.setShowClipped(true);
    const std::vector<uint8_t> table = displayTable(stretch, bits, true);
    const auto grey = [&](int v) { return static_cast<int>(table[static_cast<size_t>(v)]); };
    QImage picture, focus;
    const auto region = renderer.renderRegion(previewSourceOf(*frame, colour),
                                              QRect(0, 0, 200, 200), picture, focus);
    ASSERT_TRUE(region);
    // Each picture pixel shows the sample at the top left of its square (nearest neighbour).
    const auto sampleAt = [&](int px) { return px * 100 / zoom; };
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const int sx = sampleAt(x), sy = sampleAt(y);
            const QRgb shown = picture.pixel(x, y);
            if (!colour) {
                const int v = at(sx, sy);
                ASSERT_EQ(shown, v == full ? kClippedColor : qRgb(grey(v), grey(v), grey(v)))
                    << x << "," << y;
                continue;
            }
            // The clipped site's pixel and no other far from it.
            const bool clippedSite =
                zoom >= 100 ? sx == 20 && sy == 12 : sx / 2 == 10 && sy / 2 == 6;
            if (clippedSite) {
                ASSERT_EQ(shown, kClippedColor) << x << "," << y;
            } else if ((std::abs(sx - 20) > 2 || std::abs(sy - 12) > 2) && sx > 1 && sy > 1 &&
                       sx < 62 && sy < 46) {  // the demosaic's border is its own
                ASSERT_EQ(shown, qRgb(grey(200 * (full + 1) / 256), grey(100 * (full + 1) / 256),
                                      grey(40 * (full + 1) / 256)))
                    << x << "," << y;
            }
        }
    EXPECT_EQ(cv::norm(before, frame->rawImage, cv::NORM_INF), 0.0);
}
INSTANTIATE_TEST_SUITE_P(ColoursDepthsZooms, StretchedPreview,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(8, 16),
                                            ::testing::Values(50, 100, 200)));

TEST(AutoStretch, BlackAtTheSkyWhiteAtTheBrightestTenthOfAPercent) {
    std::array<uint32_t, 256> counts{};
    counts[12] = 9000;  // the sky
    counts[130] = 990;  // the planet
    counts[240] = 10;   // its brightest 0.1 %
    const DisplayLevels levels = autoStretchLevels(counts, DisplayLevels{.gamma = 2.0});
    EXPECT_EQ(levels.black, 12);
    EXPECT_EQ(levels.white, 240);
    EXPECT_EQ(levels.gamma, 2.0);
    counts = {};
    counts[255] = 100;  // a flat frame still gets a white above its black
    const DisplayLevels flat = autoStretchLevels(counts, DisplayLevels{});
    EXPECT_LT(flat.black, flat.white);
}
