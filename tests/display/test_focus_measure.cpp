// The focus number: HFD of synthetic stars, star / extended classification, sharpness
// against blur, the label texts and the history.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "QtTestEnv.h"
#include "display/FocusGraph.h"
#include "display/FocusMeasure.h"

namespace {

constexpr double kBackground = 20.0, kNoise = 2.0;

// An 8-bit frame: background, a round Gaussian star of `sigma` and `height` at `at`
// (clipped at 255 like a sensor), Gaussian noise.
cv::Mat starFrame(cv::Point2d at, double sigma, double height, uint64_t seed) {
    cv::Mat f(300, 400, CV_32F);
    for (int y = 0; y < f.rows; ++y)
        for (int x = 0; x < f.cols; ++x) {
            const double r2 = (x - at.x) * (x - at.x) + (y - at.y) * (y - at.y);
            f.at<float>(y, x) =
                static_cast<float>(kBackground + height * std::exp(-r2 / (2 * sigma * sigma)));
        }
    cv::Mat noise(f.size(), CV_32F);
    cv::RNG(seed).fill(noise, cv::RNG::NORMAL, 0, kNoise);
    cv::Mat out;
    cv::Mat(f + noise).convertTo(out, CV_8U);  // rounds and saturates
    return out;
}

// A defocused star: an evenly lit ring between `inner` and `outer` radius, each pixel lit
// by the part of its area inside the ring, plus background and noise.
cv::Mat ringFrame(cv::Point2d at, double inner, double outer, uint64_t seed) {
    cv::Mat f(300, 400, CV_32F, cv::Scalar(kBackground));
    constexpr int kSub = 8;
    for (int y = 0; y < f.rows; ++y)
        for (int x = 0; x < f.cols; ++x) {
            if (std::hypot(x - at.x, y - at.y) > outer + 1) continue;
            int inside = 0;
            for (int j = 0; j < kSub; ++j)
                for (int i = 0; i < kSub; ++i) {
                    const double r = std::hypot(x - 0.5 + (i + 0.5) / kSub - at.x,
                                                y - 0.5 + (j + 0.5) / kSub - at.y);
                    inside += r >= inner && r < outer;
                }
            f.at<float>(y, x) += 120.0f * inside / (kSub * kSub);
        }
    cv::Mat noise(f.size(), CV_32F);
    cv::RNG(seed).fill(noise, cv::RNG::NORMAL, 0, kNoise);
    cv::Mat out;
    cv::Mat(f + noise).convertTo(out, CV_8U);
    return out;
}

// A planet: limb-darkened disk with dark bands, blurred by `blur` (sigma; 0 none), plus noise.
cv::Mat planetFrame(double radius, double blur, uint64_t seed) {
    cv::Mat f(300, 400, CV_32F, cv::Scalar(5));
    const cv::Point2d c(200.4, 150.6);
    for (int y = 0; y < f.rows; ++y)
        for (int x = 0; x < f.cols; ++x) {
            const double dx = (x - c.x) / radius, dy = (y - c.y) / radius;
            const double rho2 = dx * dx + dy * dy;
            if (rho2 >= 1) continue;
            const double limb = 0.4 + 0.6 * std::sqrt(1 - rho2);
            const double bands = 1 - 0.3 * std::exp(-std::pow((dy - 0.25) / 0.08, 2)) -
                                 0.25 * std::exp(-std::pow((dy + 0.3) / 0.06, 2));
            f.at<float>(y, x) = static_cast<float>(5 + 200 * limb * bands);
        }
    if (blur > 0) cv::GaussianBlur(f, f, cv::Size(), blur);
    cv::Mat noise(f.size(), CV_32F);
    cv::RNG(seed).fill(noise, cv::RNG::NORMAL, 0, 1.5);
    cv::Mat out;
    cv::Mat(f + noise).convertTo(out, CV_8U);
    return out;
}

}  // namespace

TEST(FocusMeasure, HalfFluxDiameterOfGaussianStarsWithinFivePercent) {
    for (double sigma : {1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0}) {
        // Star off the pixel grid, the focus point a few pixels beside it, two noise draws.
        for (uint64_t seed : {1u, 2u}) {
            const cv::Point2d at(201.3 + 0.4 * seed, 148.6 - 0.3 * seed);
            const FocusFigure f = measureFocus(starFrame(at, sigma, 180, seed), {198, 152});
            ASSERT_EQ(f.kind, FocusFigure::Kind::Star) << "sigma " << sigma;
            EXPECT_NEAR(f.value, 2.355 * sigma, 0.05 * 2.355 * sigma) << "sigma " << sigma;
        }
    }
}

TEST(FocusMeasure, HalfFluxDiameterOfADefocusedRing) {
    // Half the light of a ring lies inside sqrt((inner^2 + outer^2) / 2).
    const FocusFigure f = measureFocus(ringFrame({200.3, 149.8}, 4, 9, 3), {196, 143});
    ASSERT_EQ(f.kind, FocusFigure::Kind::Star);
    EXPECT_NEAR(f.value, 2 * std::sqrt((16 + 81) / 2.0), 0.3);
}

TEST(FocusMeasure, ColourFrameMeasuresItsGreyLevels) {
    const cv::Mat grey = starFrame({200.2, 150.7}, 2.5, 150, 3);
    cv::Mat colour;
    cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
    const FocusFigure g = measureFocus(grey, {200, 150}), c = measureFocus(colour, {200, 150});
    EXPECT_EQ(c.kind, FocusFigure::Kind::Star);
    EXPECT_DOUBLE_EQ(c.value, g.value);
}

TEST(FocusMeasure, ClassifiesStarsPlanetsAndEmptySky) {
    using Kind = FocusFigure::Kind;
    // A saturated star is still a star; its HFD is larger than that of a faint copy.
    const FocusFigure bright = measureFocus(starFrame({200.5, 150.5}, 3, 2000, 4), {200, 150});
    EXPECT_EQ(bright.kind, Kind::Star);
    EXPECT_GT(bright.value, 2.355 * 3);
    // A faint star, 12 noise levels high.
    EXPECT_EQ(measureFocus(starFrame({200.5, 150.5}, 2, 24, 5), {200, 150}).kind, Kind::Star);
    // A planet larger than the patch, and one small enough to lie inside it.
    EXPECT_EQ(measureFocus(planetFrame(60, 0, 6), {200, 150}).kind, Kind::Extended);
    EXPECT_EQ(measureFocus(planetFrame(60, 0, 6), {240, 150}).kind, Kind::Extended);
    // Empty sky, also with a hot pixel, and a star too faint to tell from the noise.
    cv::Mat sky = starFrame({0, 0}, 1, 0, 8);
    EXPECT_EQ(measureFocus(sky, {200, 150}).kind, Kind::None);
    sky.at<uint8_t>(150, 200) = 255;
    EXPECT_EQ(measureFocus(sky, {200, 150}).kind, Kind::None);
    EXPECT_EQ(measureFocus(starFrame({200.5, 150.5}, 2, 6, 9), {200, 150}).kind, Kind::None);
    // A point at the frame's edge measures what is there without reading outside.
    EXPECT_EQ(measureFocus(starFrame({6, 5}, 1.5, 150, 10), {0, 0}).kind, Kind::Star);
    EXPECT_EQ(measureFocus(cv::Mat(), {0, 0}).kind, Kind::None);
}

TEST(FocusMeasure, SharpnessFallsStrictlyWithBlurAndIgnoresBrightness) {
    double previous = INFINITY;
    for (double blur : {0.0, 0.7, 1.0, 1.5, 2.0, 3.0, 4.0, 6.0}) {
        // Near the limb and across a band, where a planet shows its detail.
        const FocusFigure f = measureFocus(planetFrame(60, blur, 11), {200, 110});
        ASSERT_EQ(f.kind, FocusFigure::Kind::Extended) << "blur " << blur;
        EXPECT_LT(f.value, previous) << "blur " << blur;
        previous = f.value;
    }
    const cv::Mat planet = planetFrame(60, 1, 12);
    const cv::Rect patch(180, 90, 41, 41);
    cv::Mat dimmer;
    planet(patch).convertTo(dimmer, CV_8U, 0.5);
    EXPECT_NEAR(sharpness(dimmer) / sharpness(planet(patch)), 1.0, 0.1);
}

TEST(FocusMeasure, LabelTexts) {
    EXPECT_EQ(focusText({FocusFigure::Kind::Star, 4.66}), "HFD 4.7 px");
    EXPECT_EQ(focusText({FocusFigure::Kind::Star, 12.04}), "HFD 12.0 px");
    EXPECT_EQ(focusText({FocusFigure::Kind::Extended, 122.6}), "Sharpness 123");
    EXPECT_EQ(focusText({FocusFigure::Kind::None, 3}), "");
}

TEST(FocusHistory, KeepsTheLastHundredAndTheBestOfTheirKind) {
    using Kind = FocusFigure::Kind;
    FocusHistory h;
    for (int i = 0; i < 150; ++i) h.add({Kind::Star, 10.0 + std::abs(i - 60) / 10.0});
    ASSERT_EQ(h.values().size(), 100u);
    EXPECT_DOUBLE_EQ(h.values().front(), 11.0);  // i = 50
    EXPECT_DOUBLE_EQ(h.values().back(), 18.9);   // i = 149
    EXPECT_DOUBLE_EQ(*h.best(), 10.0);           // smallest HFD
    h.add({Kind::None, 0});                      // nothing measured: history unchanged
    EXPECT_EQ(h.values().size(), 100u);

    h.add({Kind::Extended, 50});  // another kind starts afresh; larger sharpness is better
    h.add({Kind::Extended, 80});
    h.add({Kind::Extended, 60});
    EXPECT_EQ(h.kind(), Kind::Extended);
    EXPECT_EQ(h.values().size(), 3u);
    EXPECT_DOUBLE_EQ(*h.best(), 80);

    h.reset();
    EXPECT_TRUE(h.values().empty());
    EXPECT_FALSE(h.best().has_value());
    h.add({Kind::Extended, 40});
    EXPECT_DOUBLE_EQ(*h.best(), 40);
}

TEST(FocusHistory, AtMostFiveUpdatesASecondAcrossTheTimerWrap) {
    for (uint32_t start : {1000u, 0xFFFFFF00u}) {
        FocusHistory h;
        int updates = 0;
        for (uint32_t t = 0; t < 1000; t += 10) updates += h.due(start + t);
        EXPECT_EQ(updates, 5) << start;
        // After a long pause the next call is due at once.
        EXPECT_TRUE(h.due(start + 100000));
        EXPECT_FALSE(h.due(start + 100199));
        EXPECT_TRUE(h.due(start + 100200));
    }
}

TEST(FocusGraph, DrawsTheHistoryAndAClickResetsIt) {
    ensureApp();
    FocusHistory history;
    for (double v : {6.0, 5.0, 4.2, 4.8}) history.add({FocusFigure::Kind::Star, v});
    FocusGraph graph;
    graph.setHistory(&history);
    int resets = 0;
    QObject::connect(&graph, &FocusGraph::resetRequested, [&] { ++resets; });
    const auto greenPixels = [&] {
        const QImage image = graph.grab().toImage();
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += qGreen(image.pixel(x, y)) > 150 && qRed(image.pixel(x, y)) < 100;
        return n;
    };
    EXPECT_GT(greenPixels(), 20);

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(50, 30), QPointF(50, 30), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&graph, &press);
    EXPECT_EQ(resets, 1);
    EXPECT_TRUE(history.values().empty());
    EXPECT_EQ(greenPixels(), 0);
}
