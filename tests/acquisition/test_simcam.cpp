#include <dlfcn.h>
#include <gtest/gtest.h>
#include <semaphore.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <numeric>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <thread>
#include <vector>

#include "FrameInfoProbe.h"
#include "FrameQueue.h"
#include "LoadedCamera.h"
#include "RankCorrelation.h"
#include "SemaphoreWait.h"
#include "TruthRecord.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "analysis/DiscFinder.h"
#include "analysis/FrameQuality.h"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kW = 1280, kH = 960;
// The colour test card, in full-frame pixels.
const cv::Point kRed(448, 400), kGreen(640, 400), kBlue(832, 400), kWhite(640, 740);

sem_t g_done;  // lives as long as the process: the library keeps its address

bool waitDone(int ms) {
    return waitPosted(g_done, ms);
}

// Left and top of a centred subframe: half the spare room, down to an even pixel.
int left(int w) {
    return ((kW - w) / 2) & ~1;
}
int top(int h) {
    return ((kH - h) / 2) & ~1;
}

class SimCamTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { sem_init(&g_done, 0, 0); }

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(loadCameraLibraryFrom(TV_SIMCAM_LIB, &error)) << error;
        configure_ = tvtest::simCamConfigure(TV_SIMCAM_LIB);
        ASSERT_NE(configure_, nullptr);
        ASSERT_EQ(configure_(1, 0), 1);  // test card, no noise, no motion
        ASSERT_EQ(api().openUSB(0), 1);
        openedAt_ = Clock::now();
        api().exposureSemaphore(&g_done);
        while (sem_trywait(&g_done) == 0) {
        }
    }
    void TearDown() override {
        configure_(0, 1);
        setRender("live");
        std::string error;
        EXPECT_TRUE(applyCameraOptions(
            {{"drift", "0,0"}, {"seeing", "0"}, {"clouds", "0"}, {"truth", ""}}, &error))
            << error;
        api().subframeOrigin(-1, -1);
        if (!truthPath_.empty()) std::remove(truthPath_.c_str());
        setCameraApi(TarviApi{});
    }
    static void setRender(const char* mode) {
        std::string error;
        EXPECT_TRUE(applyCameraOptions({{"render", mode}}, &error)) << error;
    }
    static TarviApi& api() { return camera(); }

    // One exposure of w x h into a fresh buffer whose rows are padded to 4 bytes and
    // pre-filled with 0xAB; returns the w x h view of it.
    cv::Mat expose(int w, int h, bool flip = false) {
        EXPECT_EQ(api().subframe(w, h), 1);
        api().horizontalFlip(flip ? 1 : 0);
        const size_t stride = (static_cast<size_t>(w) + 3) & ~size_t{3};
        cv::Mat buffer(h, static_cast<int>(stride), CV_8UC1, cv::Scalar(0xAB));
        EXPECT_EQ(api().threadedExposure(buffer.data, 0, 1), 1);
        EXPECT_TRUE(waitDone(10000));
        padded_ = buffer;
        return buffer(cv::Rect(0, 0, w, h));
    }
    // The frame as the program colours it: a Frame through ensureColorImage.
    cv::Mat exposeInColour(bool flip) {
        FramePtr n = newFrame(kW, kH, "", flip, 8);
        api().subframe(kW, kH);
        api().horizontalFlip(flip ? 1 : 0);
        api().threadedExposure(frameData(n.get()), 0, 1);
        EXPECT_TRUE(waitDone(10000));
        TarviFrameInfo info{sizeof info, 0, 0, 0, 0, -1, -1};
        EXPECT_EQ(api().cameraFrameInfo(&info), 1);
        n->pattern = patternFromId(info.colorPattern);  // as the camera reports it
        prepareImage8(*n);
        ensureColorImage(*n);
        return n->colorImage.clone();
    }

    // One exposure at the settings in force: the whole buffer, its padded rows pre-filled
    // with 0xAB, and the depth and pattern the camera reported.
    struct RawFrame {
        std::vector<uint8_t> bytes;
        int bits = 0;
        int pattern = 0;
        bool operator==(const RawFrame&) const = default;
    };
    RawFrame exposeRaw(int w, int h, int depth) {
        const size_t stride = (static_cast<size_t>(w) * (depth / 8) + 3) & ~size_t{3};
        RawFrame frame{std::vector<uint8_t>(stride * h, 0xAB)};
        EXPECT_EQ(api().threadedExposure(frame.bytes.data(), 0, 1), 1);
        EXPECT_TRUE(waitDone(10000));
        TarviFrameInfo info{sizeof info, 0, 0, 0, 0, -1, -1};
        EXPECT_EQ(api().cameraFrameInfo(&info), 1);
        frame.bits = info.bitsPerSample;
        frame.pattern = info.colorPattern;
        return frame;
    }

    // One exposure of the full frame and its start as CameraFrameInfo reports it.
    struct SkyFrame {
        cv::Mat mosaic;
        long long startUs = 0;
        int pattern = 0;
    };
    SkyFrame exposeSky() {
        SkyFrame frame{expose(kW, kH).clone()};
        TarviFrameInfo info{sizeof info, 0, 0, 0, 0, -1, -1};
        EXPECT_EQ(api().cameraFrameInfo(&info), 1);
        frame.startUs = info.startUnixUs;
        frame.pattern = info.colorPattern;
        return frame;
    }
    // With clouds every 3 s (the first from 3 to 5 s): a clear frame at once and one at the
    // thickest cloud, 4 s after the open, with their two lines of the truth record.
    struct CloudPair {
        SkyFrame clear, cloudy;
        std::vector<TruthLine> truth;
    };
    CloudPair exposeClearAndCloudy() {
        const std::string path = recordTruth({{"clouds", "3"}});
        api().setExposureLength(100);
        CloudPair pair;
        pair.clear = exposeSky();
        std::this_thread::sleep_until(openedAt_ + 3900ms);
        pair.cloudy = exposeSky();
        pair.truth = truthLines(path, 2);
        return pair;
    }
    // The planet scene with its noise and motion, recording into a fresh truth file.
    std::string recordTruth(std::vector<CameraOptionValue> sky) {
        configure_(0, 1);
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');  // a parameterised case's name
        const std::string path = ::testing::TempDir() + "truth_" + name;
        std::remove(path.c_str());
        truthPath_ = path;
        sky.push_back({"truth", path});
        std::string error;
        EXPECT_TRUE(applyCameraOptions(sky, &error)) << error;
        return path;
    }

    tvtest::SimCamConfigureFn configure_ = nullptr;
    cv::Mat padded_;
    Clock::time_point openedAt_;
    std::string truthPath_;
};

// The centre of the planet's disc in a mosaic: the mean place of the sites above `level`
// within `reach` pixels of `near` (the planet's banding leaves the disc's outline alone).
cv::Point2d discCentre(const cv::Mat& mosaic, cv::Point2d near, int reach, int level) {
    const cv::Rect window =
        cv::Rect(cvRound(near.x) - reach, cvRound(near.y) - reach, 2 * reach + 1, 2 * reach + 1) &
        cv::Rect(0, 0, mosaic.cols, mosaic.rows);
    const cv::Moments m = cv::moments(mosaic(window) > level, true);
    return {window.x + m.m10 / m.m00, window.y + m.m01 / m.m00};
}

// How sharp the planet is: the squared differences between sites of one colour (two apart).
double sharpness(const cv::Mat& mosaic, cv::Point2d centre, int reach) {
    const cv::Rect window(cvRound(centre.x) - reach, cvRound(centre.y) - reach, 2 * reach,
                          2 * reach);
    cv::Mat a, b;
    mosaic(window + cv::Point(2, 0)).convertTo(a, CV_32F);
    mosaic(window).convertTo(b, CV_32F);
    return cv::norm(a, b, cv::NORM_L2SQR);
}

// Blue, green, red of a pixel.
cv::Vec3b at(const cv::Mat& bgr, cv::Point p) {
    return bgr.at<cv::Vec3b>(p);
}

void expectDominant(const cv::Vec3b& px, int channel, const char* what) {
    for (int c = 0; c < 3; ++c) {
        if (c == channel)
            EXPECT_GT(px[c], 150) << what;
        else
            EXPECT_LT(px[c], 40) << what << " channel " << c;
    }
}

TEST_F(SimCamTest, NameAndSensorSize) {
    int w = 0, h = 0;
    const std::string name = api().getCameraInfo(&w, &h);
    EXPECT_EQ(w, kW);
    EXPECT_EQ(h, kH);
    EXPECT_FALSE(name.empty());
}

TEST_F(SimCamTest, FrameInfoTellsWhenEachExposureStartedAndKeepsToTheCallersSize) {
    FrameInfoProbe probe{api().threadedExposure, api().cameraFrameInfo};
    ASSERT_NE(probe.cameraFrameInfo, nullptr);
    ASSERT_EQ(api().subframe(64, 48), 1);
    api().setExposureLength(30);
    std::vector<uint8_t> buffer(64 * 48);
    EXPECT_EQ(probe.expose(g_done, buffer.data()).status, TARVI_FRAME_GOOD);
    const TarviFrameInfo old =
        probe.expose(g_done, buffer.data(), offsetof(TarviFrameInfo, startUnixUs));
    EXPECT_EQ(old.status, TARVI_FRAME_GOOD);
    EXPECT_EQ(old.startUnixUs, -7);  // beyond the size this caller knows
}

TEST_F(SimCamTest, ColoursComeOutTrueUnflippedAndFlipped) {
    const cv::Mat plain = exposeInColour(false);
    expectDominant(at(plain, kRed), 2, "red disk");
    expectDominant(at(plain, kGreen), 1, "green disk");
    expectDominant(at(plain, kBlue), 0, "blue disk");
    const cv::Vec3b white = at(plain, kWhite);
    EXPECT_GT(white[0], 150);
    EXPECT_NEAR(white[0], white[2], 10);
    EXPECT_NEAR(white[1], white[2], 10);

    const cv::Mat flipped = exposeInColour(true);
    auto mirror = [](cv::Point p) { return cv::Point(kW - 1 - p.x, p.y); };
    expectDominant(at(flipped, mirror(kRed)), 2, "flipped red disk");
    expectDominant(at(flipped, mirror(kGreen)), 1, "flipped green disk");
    expectDominant(at(flipped, mirror(kBlue)), 0, "flipped blue disk");
}

TEST_F(SimCamTest, FlipAndSubframeAreMirrorAndCentredCropOfTheFullFrame) {
    const cv::Mat full = expose(kW, kH).clone();
    cv::Mat mirrored;
    cv::flip(full, mirrored, 1);
    EXPECT_EQ(cv::norm(expose(kW, kH, true), mirrored, cv::NORM_INF), 0.0);

    const cv::Rect crop(left(640), top(480), 640, 480);
    EXPECT_EQ(crop.x, 320);
    EXPECT_EQ(cv::norm(expose(640, 480), full(crop), cv::NORM_INF), 0.0);
    cv::Mat cropMirrored;
    cv::flip(full(crop), cropMirrored, 1);
    EXPECT_EQ(cv::norm(expose(640, 480, true), cropMirrored, cv::NORM_INF), 0.0);
}

TEST_F(SimCamTest, WidthsNotMultipleOfFourKeepTheRowPadding) {
    const cv::Mat full = expose(kW, kH).clone();
    for (cv::Size size : {cv::Size(102, 50), cv::Size(101, 7), cv::Size(1, 1)}) {
        const cv::Mat sub = expose(size.width, size.height);
        const cv::Rect crop(left(size.width), top(size.height), size.width, size.height);
        EXPECT_EQ(cv::norm(sub, full(crop), cv::NORM_INF), 0.0) << size;
        const cv::Mat padding =
            padded_(cv::Rect(size.width, 0, padded_.cols - size.width, size.height));
        if (!padding.empty()) {
            EXPECT_EQ(cv::countNonZero(padding != 0xAB), 0) << size;
        }
    }
    EXPECT_EQ(api().subframe(kW + 4, kH), 0);  // larger than the sensor: refused
}

TEST_F(SimCamTest, LevelFollowsExposureGainAndBalanceAndSaturates) {
    // Red, green and blue sites inside the disks of their colour.
    const cv::Point redSite(449, 401), greenSite(641, 400), blueSite(832, 400);
    auto level = [&](cv::Point site) { return expose(kW, kH).at<uint8_t>(site); };
    api().setGain(10);
    api().setExposureLength(100);
    EXPECT_EQ(level(redSite), 200);
    api().setExposureLength(50);
    EXPECT_EQ(level(redSite), 100);
    api().setExposureLength(100);
    api().setGain(60);  // ten times
    EXPECT_EQ(level(redSite), 255);
    api().setGain(10);
    api().setWhiteBalance(254, 127, 64);
    const cv::Mat balanced = expose(kW, kH);
    EXPECT_EQ(balanced.at<uint8_t>(redSite), 101);
    EXPECT_EQ(balanced.at<uint8_t>(greenSite), 200);
    EXPECT_EQ(balanced.at<uint8_t>(blueSite), 255);
}

TEST_F(SimCamTest, MicrosecondExposuresSetTheLevelAndReachItThroughTheThread) {
    api().setGain(100);  // 63 times gain 10, where the red disk reads 200 at 100 ms
    for (const auto [us, level] : {std::pair{1000, 126}, {50, 6}}) {
        ASSERT_EQ(api().setExposureMicroseconds(us), 1);
        EXPECT_NEAR(expose(kW, kH).at<uint8_t>(401, 449), level, 1) << us;
    }
    FrameQueue frames;  // the acquisition thread keeps the 50 us
    {
        CaptureThread capture(frames.poster());
        capture.setExposureUs(50);
        ASSERT_TRUE(capture.openCamera());
        capture.start();
        for (int i = 0; i < 2; ++i) ASSERT_NE(frames.pop(), nullptr);  // past the settings
        EXPECT_EQ(capture.status().exposureUs, 50);
    }
    api().exposureSemaphore(&g_done);
}

TEST_F(SimCamTest, ExposureRunsInRealTimeAndCancelEndsIt) {
    std::vector<uint8_t> buffer(kW * kH);
    api().setExposureLength(300);
    auto t0 = Clock::now();
    ASSERT_EQ(api().threadedExposure(buffer.data(), 0, 1), 1);
    EXPECT_LT(Clock::now() - t0, 100ms);
    EXPECT_EQ(api().threadedExposure(buffer.data(), 0, 1), 0);  // busy
    std::this_thread::sleep_for(100ms);
    EXPECT_NE(sem_trywait(&g_done), 0);
    ASSERT_TRUE(waitDone(10000));
    EXPECT_GE(Clock::now() - t0, 290ms);

    api().setExposureLength(10000);
    t0 = Clock::now();
    ASSERT_EQ(api().threadedExposure(buffer.data(), 0, 1), 1);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(api().cancelExposure(), 1);
    ASSERT_TRUE(waitDone(10000));
    EXPECT_LT(Clock::now() - t0, 1000ms);
    EXPECT_EQ(api().cancelExposure(), 0);  // nothing running: nothing released
    EXPECT_FALSE(waitDone(50));
}

TEST_F(SimCamTest, PlanetSceneMovesAndHasNoise) {
    configure_(0, 1);
    api().setExposureLength(20);
    api().setGain(40);
    const cv::Mat a = expose(kW, kH).clone();
    const cv::Mat b = expose(kW, kH).clone();
    EXPECT_GT(cv::norm(a, b, cv::NORM_L1), 0.0);
    const double centre = cv::mean(a(cv::Rect(kW / 2 - 50, kH / 2 - 50, 100, 100)))[0];
    const double corner = cv::mean(a(cv::Rect(0, 0, 100, 100)))[0];
    EXPECT_GT(centre, corner + 50);
}

TEST_F(SimCamTest, TruthRecordsWhereTheDriftingPlanetIsInEachFrame) {
    const std::string path = recordTruth({{"drift", "200,100"}});
    api().setExposureLength(100);
    std::vector<SkyFrame> frames;
    for (int i = 0; i < 4; ++i) frames.push_back(exposeSky());
    const std::vector<TruthLine> truth = truthLines(path, frames.size());
    ASSERT_EQ(truth.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(truth[i].number, truth[0].number + i);
        EXPECT_EQ(truth[i].startUs, frames[i].startUs);
        EXPECT_EQ(truth[i].blur, 0.0);
        EXPECT_EQ(truth[i].transparency, 1.0);
        const cv::Point2d disc = discCentre(frames[i].mosaic, {truth[i].x, truth[i].y}, 230, 12);
        EXPECT_NEAR(disc.x, truth[i].x, 1.0) << "frame " << i;
        EXPECT_NEAR(disc.y, truth[i].y, 1.0) << "frame " << i;
    }
    // The drift as asked, give or take the image motion of up to 3 pixels each way.
    const double seconds = (truth.back().startUs - truth[0].startUs) / 1e6;
    EXPECT_NEAR(truth.back().x - truth[0].x, 200 * seconds, 7);
    EXPECT_NEAR(truth.back().y - truth[0].y, 100 * seconds, 7);
}

TEST_F(SimCamTest, DriftCarriesThePlanetOffTheSensor) {
    const std::string path = recordTruth({{"drift", "-5000,0"}});
    api().setExposureLength(100);
    SkyFrame last;
    for (int i = 0; i < 3; ++i) last = exposeSky();
    const std::vector<TruthLine> truth = truthLines(path, 3);
    ASSERT_EQ(truth.size(), 3u);
    EXPECT_LT(truth[2].x, -200);  // more than its half width off the left edge
    EXPECT_LT(cv::countNonZero(last.mosaic > 12), 1000);  // a moon and a star at most
}

TEST_F(SimCamTest, SeeingBlursAndTiltsEachFrameByItsOwnRecordedAmount) {
    const std::string path = recordTruth({{"seeing", "2"}});
    api().setExposureLength(60);  // longer than the seeing's 50 ms: every frame its own
    std::vector<SkyFrame> frames;
    for (int i = 0; i < 8; ++i) frames.push_back(exposeSky());
    const std::vector<TruthLine> truth = truthLines(path, frames.size());
    ASSERT_EQ(truth.size(), frames.size());
    size_t sharpest = 0, softest = 0;
    for (size_t i = 0; i < truth.size(); ++i) {
        EXPECT_GT(truth[i].blur, 0.3);
        EXPECT_LT(truth[i].blur, 6.0);
        if (truth[i].blur < truth[sharpest].blur) sharpest = i;
        if (truth[i].blur > truth[softest].blur) softest = i;
        const cv::Point2d disc = discCentre(frames[i].mosaic, {truth[i].x, truth[i].y}, 240, 12);
        EXPECT_NEAR(disc.x, truth[i].x, 1.0) << "frame " << i;
        EXPECT_NEAR(disc.y, truth[i].y, 1.0) << "frame " << i;
    }
    ASSERT_GT(truth[softest].blur - truth[sharpest].blur, 0.2);
    const cv::Point2d a(truth[sharpest].x, truth[sharpest].y),
        b(truth[softest].x, truth[softest].y);
    EXPECT_GT(sharpness(frames[sharpest].mosaic, a, 150),
              sharpness(frames[softest].mosaic, b, 150));
}

TEST_F(SimCamTest, SeeingFigureRanksFramesByTheirTrueBlurAtAnyGain) {
    const std::string path = recordTruth({{"seeing", "2"}});
    api().setExposureLength(20);
    std::vector<double> figures, sharpness;
    std::vector<SkyFrame> frames;
    for (int i = 0; i < 150; ++i) frames.push_back(exposeSky());
    const std::vector<TruthLine> truth = truthLines(path, frames.size());
    ASSERT_EQ(truth.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(truth[i].startUs, frames[i].startUs);
        figures.push_back(frameQuality(frames[i].mosaic, {.mosaic = true, .region = {}}));
        sharpness.push_back(-truth[i].blur);
    }
    EXPECT_GE(spearman(figures, sharpness), 0.8);

    // Without seeing, the scene at twice the gain has the same figure (the noise aside: the
    // median of four frames, after one that may have begun before the change).
    std::string error;
    ASSERT_TRUE(applyCameraOptions({{"seeing", "0"}}, &error)) << error;
    const auto figureAt = [&](int gain) {
        api().setGain(gain);
        exposeSky();
        std::vector<double> f;
        for (int i = 0; i < 4; ++i)
            f.push_back(frameQuality(exposeSky().mosaic, {.mosaic = true, .region = {}}));
        std::sort(f.begin(), f.end());
        return (f[1] + f[2]) / 2;
    };
    const double low = figureAt(20);
    EXPECT_NEAR(figureAt(40) / low, 1.0, 0.1);
}

TEST_F(SimCamTest, CloudsFadeThePlanetToATenthAndTheRecordSaysHowMuch) {
    const auto [clear, cloudy, truth] = exposeClearAndCloudy();
    ASSERT_EQ(truth.size(), 2u);
    EXPECT_EQ(truth[0].transparency, 1.0);
    EXPECT_LT(truth[1].transparency, 0.2);
    // The planet's light above the bias of 4, as the record says.
    const cv::Rect centre(kW / 2 - 100, kH / 2 - 100, 200, 200);
    const double ratio =
        (cv::mean(cloudy.mosaic(centre))[0] - 4) / (cv::mean(clear.mosaic(centre))[0] - 4);
    EXPECT_NEAR(ratio, truth[1].transparency, 0.03);
}

TEST_F(SimCamTest, SubframeOriginPlacesTheCropOnEvenPixelsInsideTheSensor) {
    const cv::Mat full = expose(kW, kH).clone();
    struct Case {
        int askLeft, askTop, left, top;
    };
    for (const Case c : {Case{100, 50, 100, 50}, Case{101, 51, 100, 50},
                         Case{5000, -1, kW - 320, top(240)}, Case{-1, 5000, left(320), kH - 240}}) {
        ASSERT_EQ(api().subframeOrigin(c.askLeft, c.askTop), 1);
        const cv::Mat sub = expose(320, 240);
        TarviFrameInfo info{sizeof info, 0, 0, 0, 0, -1, -1};
        ASSERT_EQ(api().cameraFrameInfo(&info), 1);
        EXPECT_EQ(info.subframeLeft, c.left) << c.askLeft;
        EXPECT_EQ(info.subframeTop, c.top) << c.askTop;
        EXPECT_EQ(cv::norm(sub, full(cv::Rect(c.left, c.top, 320, 240)), cv::NORM_INF), 0.0)
            << c.askLeft << ", " << c.askTop;
    }
}

TEST_F(SimCamTest, CachedFramesAreTheLiveRenderAtEachSizeDepthAndFlip) {
    // The test card without noise or motion renders the same frame every time. Each case
    // changes one thing the cache depends on.
    struct Case {
        int w, h, depth;
        bool flip;
    };
    for (const Case c : {Case{kW, kH, 8, false}, Case{kW, kH, 8, true}, Case{999, 701, 16, true}}) {
        ASSERT_EQ(api().subframe(c.w, c.h), 1);
        api().horizontalFlip(c.flip ? 1 : 0);
        ASSERT_EQ(api().cameraSampleDepth(c.depth), 1);
        setRender("live");
        const RawFrame live = exposeRaw(c.w, c.h, c.depth);
        setRender("cached");
        const RawFrame cached = exposeRaw(c.w, c.h, c.depth);
        EXPECT_EQ(cached.bits, live.bits) << c.w;
        EXPECT_EQ(cached.pattern, live.pattern) << c.w;
        EXPECT_TRUE(cached.bytes == live.bytes) << c.w << " x " << c.h << " " << c.depth;
    }
}

TEST_F(SimCamTest, CachedFramesDifferFromOneExposureToTheNextAndRepeatEverySixteen) {
    configure_(0, 1);
    api().setExposureLength(1);
    ASSERT_EQ(api().subframe(320, 240), 1);
    setRender("cached");
    std::vector<RawFrame> frames;
    for (int i = 0; i < 18; ++i) frames.push_back(exposeRaw(320, 240, 8));
    for (int i = 0; i < 16; ++i)
        for (int j = i + 1; j < 16; ++j) EXPECT_FALSE(frames[i] == frames[j]) << i << ", " << j;
    EXPECT_TRUE(frames[16] == frames[0]);
    EXPECT_TRUE(frames[17] == frames[1]);

    // A longer exposure renders the cache anew: ten times the light.
    const auto sum = [](const RawFrame& f) {
        return std::accumulate(f.bytes.begin(), f.bytes.end(), int64_t{0});
    };
    api().setExposureLength(10);
    EXPECT_GT(sum(exposeRaw(320, 240, 8)), 2 * sum(frames[0]));
}

TEST_F(SimCamTest, AcquisitionThreadDeliversSimulatedFrames) {
    FrameQueue frames;
    {
        CaptureThread capture(frames.poster());
        capture.setExposureMs(1);
        capture.setGain(10);
        ASSERT_TRUE(capture.openCamera());
        capture.start();
        const FramePtr first = frames.pop();
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(frameWidth(first.get()), kW);
        capture.setExposureMs(100);
        capture.setSubframeWidth(640);
        capture.setSubframeHeight(480);
        FramePtr sub;
        for (int i = 0; i < 10 && !sub; ++i) {
            FramePtr n = frames.pop();
            ASSERT_NE(n, nullptr);
            if (frameWidth(n.get()) == 640) sub = std::move(n);
        }
        ASSERT_NE(sub, nullptr);
        EXPECT_EQ(sub->sensorLeft, 320);
        EXPECT_EQ(sub->sensorTop, 240);
        // Moved: the frames say where they lie, and the picture moves with them.
        capture.setSubframeOrigin(100, 61);
        FramePtr moved;
        for (int i = 0; i < 10 && !moved; ++i) {
            FramePtr n = frames.pop();
            ASSERT_NE(n, nullptr);
            if (n->sensorLeft == 100) moved = std::move(n);
        }
        ASSERT_NE(moved, nullptr);
        EXPECT_EQ(moved->sensorTop, 60);
        EXPECT_EQ(capture.status().frameLeft, 100);
        EXPECT_TRUE(capture.stop(3000));
        for (Frame* f : {sub.get(), moved.get()}) {
            prepareImage8(*f);
            ensureColorImage(*f);
            const cv::Point origin(f->sensorLeft, f->sensorTop);
            expectDominant(at(f->colorImage, kRed - origin), 2, "red disk in subframe");
        }
    }
    api().exposureSemaphore(&g_done);
}

// Every option of the simulated camera, taken or refused with the reason the program shows.
struct OptionCase {
    const char* key;
    const char* value;
    const char* reason;  // "" when the option is taken
};
class SimCamOption : public ::testing::TestWithParam<OptionCase> {
  protected:
    void TearDown() override {
        EXPECT_TRUE(applyCameraOptions(
            {{"sensor", "1280x960"}, {"depth", "12"}, {"render", "live"}}, nullptr));
        setCameraApi(TarviApi{});
    }
};
TEST_P(SimCamOption, IsTakenOrRefusedWithTheReason) {
    const OptionCase& c = GetParam();
    std::string error;
    ASSERT_TRUE(loadCameraLibraryFrom(TV_SIMCAM_LIB, &error)) << error;
    EXPECT_EQ(applyCameraOptions({{c.key, c.value}}, &error), !*c.reason);
    const std::string option = std::string(c.key) + "=" + c.value;
    EXPECT_EQ(error, *c.reason ? "camera option " + option + " refused: " + c.reason : "");
}
INSTANTIATE_TEST_SUITE_P(
    Options, SimCamOption,
    ::testing::Values(
        OptionCase{"sensor", "16x16", ""}, OptionCase{"sensor", "6248x4176", ""},
        OptionCase{"sensor", "99999x3", "sensor: 99999x3 is outside 16 x 16 to 6248 x 4176"},
        OptionCase{"sensor", "99999999999x960",
                   "sensor: 99999999999x960 is outside 16 x 16 to 6248 x 4176"},
        OptionCase{"sensor", "-640x480",
                   "sensor: '-640x480' is not WIDTHxHEIGHT (for example sensor=1280x960)"},
        OptionCase{"depth", "16", ""}, OptionCase{"depth", "7", "depth: 7 is outside 8 to 16"},
        OptionCase{"depth", "12 bits", "depth: '12 bits' is not a number of bits (8 to 16)"},
        OptionCase{"render", "cached", ""}, OptionCase{"render", "live", ""},
        OptionCase{"render", "Cached", "render: 'Cached' is neither live nor cached"},
        OptionCase{"foo", "1",
                   "unknown option 'foo' (the simulated camera takes sensor=WxH, depth=8..16, "
                   "render=live|cached, drift=DX,DY, seeing=S, clouds=SECONDS, truth=PATH)"},
        OptionCase{"drift", "-50,2.5", ""},
        OptionCase{"drift", "50",
                   "drift: '50' is not DX,DY in pixels per second (for example 50,-20)"},
        OptionCase{"drift", "1e3,0",
                   "drift: '1e3,0' is not DX,DY in pixels per second (for example 50,-20)"},
        OptionCase{"seeing", "1.5", ""},
        OptionCase{"seeing", "11", "seeing: '11' is not 0 to 10 pixels (0 off, 1 average, 2 poor)"},
        OptionCase{"clouds", "30", ""},
        OptionCase{"clouds", "2", "clouds: '2' is neither 0 (none) nor more than 2 seconds"},
        OptionCase{"truth", "/nonexistent/truth.txt",
                   "truth: /nonexistent/truth.txt: No such file or directory"},
        OptionCase{"truth", "/dev/null", "truth: /dev/null: not a regular file"},
        OptionCase{"truth", "", ""}));

TEST(CameraLibrary, FoundBesideTheExecutable) {
    std::string error;
    ASSERT_TRUE(loadCameraLibrary(&error)) << error;
    EXPECT_TRUE(camera().complete());
    // The entry points come from the simulated camera built beside the test program.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(camera().openUSB), &info), 0);
    char* found = realpath(info.dli_fname, nullptr);
    char* built = realpath(TV_SIMCAM_LIB, nullptr);
    ASSERT_TRUE(found && built);
    EXPECT_STREQ(found, built);
    free(found);
    free(built);
    setCameraApi(TarviApi{});
}

TEST(CameraLibrary, ATableLoadedBesideLeavesTheCameraInUseAlone) {
    setCameraApi(TarviApi{});
    TarviApi table;
    std::string error;
    ASSERT_TRUE(loadCameraTable(TV_SIMCAM_LIB, table, &error)) << error;
    EXPECT_TRUE(table.complete());
    EXPECT_EQ(table.cameraListDevices, nullptr);  // the simulated camera has no server
    EXPECT_EQ(camera().openUSB, nullptr);
    EXPECT_FALSE(loadCameraTable(TV_INCOMPLETE_LIB, table, &error));
    EXPECT_NE(error.find("HorizontalFlip"), std::string::npos) << error;
}

TEST(CameraLibrary, IncompleteOrMissingLibraryIsNoCamera) {
    std::string error;
    EXPECT_FALSE(loadCameraLibraryFrom(TV_INCOMPLETE_LIB, &error));
    EXPECT_NE(error.find("HorizontalFlip"), std::string::npos) << error;
    EXPECT_FALSE(camera().complete());
    EXPECT_EQ(camera().openUSB, nullptr);
    FrameQueue frames;
    CaptureThread capture(frames.poster());
    EXPECT_FALSE(capture.openCamera());

    EXPECT_FALSE(loadCameraLibraryFrom("/nonexistent/libtarvidll.so", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(camera().complete());
}

// The disc finder on the simulated sky, against the planet's centre that the truth record
// gives (the planet is 400 x 374 pixels at this sensor size).
DiscFound findDiscIn(const cv::Mat& mosaic, int pattern, double clearBright = 0) {
    return findDisc(mosaic, {.mosaic = patternFromId(pattern) != ColorPattern::Mono,
                             .clearBright = clearBright});
}

struct DiscSky {
    const char* name;
    std::vector<CameraOptionValue> options;
};

class SimCamDiscTest : public SimCamTest, public ::testing::WithParamInterface<DiscSky> {};

TEST_P(SimCamDiscTest, FinderHitsThePlanetsCentreNotItsMoonsOrStars) {
    const std::string path = recordTruth(GetParam().options);
    api().setExposureLength(60);
    std::vector<SkyFrame> frames;
    for (int i = 0; i < 6; ++i) frames.push_back(exposeSky());
    const std::vector<TruthLine> truth = truthLines(path, frames.size());
    ASSERT_EQ(truth.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        const DiscFound disc = findDiscIn(frames[i].mosaic, frames[i].pattern);
        ASSERT_TRUE(disc.found) << "frame " << i;
        EXPECT_FALSE(disc.touchesEdge);
        EXPECT_NEAR(disc.centre.x, truth[i].x, 1.5) << "frame " << i;
        EXPECT_NEAR(disc.centre.y, truth[i].y, 1.5) << "frame " << i;
        EXPECT_NEAR(disc.area, M_PI * 200 * 187, 0.1 * M_PI * 200 * 187);
    }
}

INSTANTIATE_TEST_SUITE_P(Sky, SimCamDiscTest,
                         ::testing::Values(DiscSky{"Still", {}},
                                           DiscSky{"Drifting", {{"drift", "150,-90"}}},
                                           DiscSky{"PoorSeeing", {{"seeing", "2"}}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimCamTest, FinderSeesNoDiscBehindThickCloud) {
    const auto [clear, cloudy, truth] = exposeClearAndCloudy();
    ASSERT_EQ(truth.size(), 2u);
    ASSERT_LT(truth[1].transparency, 0.15);
    const DiscFound seen = findDiscIn(clear.mosaic, clear.pattern);
    EXPECT_TRUE(seen.found);
    const DiscFound hidden = findDiscIn(cloudy.mosaic, cloudy.pattern, seen.bright);
    EXPECT_FALSE(hidden.found) << "sky " << hidden.sky << ", bright " << hidden.bright
                               << " (clear: " << seen.sky << ", " << seen.bright << ")";
}

TEST_F(SimCamTest, FinderMarksADiscCutByTheSensorsEdge) {
    const std::string path = recordTruth({{"drift", "-600,0"}});
    api().setExposureLength(50);
    std::vector<SkyFrame> frames;
    std::vector<TruthLine> truth;
    // Until the planet's centre is within 100 pixels of the left edge (about 1 s).
    for (int i = 0; i < 60; ++i) {
        frames.push_back(exposeSky());
        truth = truthLines(path, frames.size());
        if (truth.size() == frames.size() && truth.back().x < 100) break;
    }
    ASSERT_EQ(truth.size(), frames.size());
    ASSERT_LT(truth.back().x, 100);
    ASSERT_GT(truth.back().x, -100);
    const DiscFound disc = findDiscIn(frames.back().mosaic, frames.back().pattern);
    ASSERT_TRUE(disc.found);
    EXPECT_TRUE(disc.touchesEdge);
    // The centre of the part on the sensor: between the edge and the planet's right rim, on
    // the planet's own row (the cut is upright).
    EXPECT_GT(disc.centre.x, 0);
    EXPECT_LT(disc.centre.x, truth.back().x + 200);
    EXPECT_GT(disc.centre.x, truth.back().x);
    EXPECT_NEAR(disc.centre.y, truth.back().y, 1.5);
}

}  // namespace
