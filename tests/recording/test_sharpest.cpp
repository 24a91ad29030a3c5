// "Keep Sharpest Frames" and the seeing figures beside a recording: frames of known blur go
// through the recording controller into a SER file; the file, its trailer, its figures file
// and its log are read back.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "CaptureLogReader.h"
#include "RecTestUtil.h"
#include "analysis/FrameQuality.h"
#include "platform/Clock.h"
#include "recording/FileNames.h"
#include "recording/QualityFile.h"
#include "recording/RecordingController.h"
#include "recording/SerWriter.h"
#include "recording/SessionRecord.h"
#include "recording/SharpestFrames.h"

using namespace rectest;

namespace {
constexpr int kW = 160, kH = 120;
constexpr int kRate = 40;  // frames a second

// A textured scene blurred by `sigma` (the same scene for every frame), at `gain` times its
// level, stamped `ms` after a fixed start.
FramePtr blurredFrame(double sigma, int64_t ms, double gain = 1) {
    static const cv::Mat kScene = [] {
        cv::Mat s(kH, kW, CV_32F);
        cv::RNG rng(11);
        rng.fill(s, cv::RNG::UNIFORM, 20, 110);
        return s;
    }();
    FramePtr f = newFrame(kW, kH, "", false, 8);
    cv::Mat blurred;
    cv::GaussianBlur(kScene, blurred, cv::Size(0, 0), sigma);
    cv::Mat(blurred * gain).convertTo(f->rawImage, CV_8U);
    f->timeStamp = PreciseDateTime::fromTicks(PreciseDateTime(LocalDateTime{46000.5}).ticks() +
                                              ms * PreciseDateTime::kTicksPerMillisecond);
    return f;
}

// The blur of frame `i`: a different one for each frame of a second, in no order.
double sigmaOf(int i) {
    return 0.6 + 0.05 * ((i * 17) % kRate);
}

std::vector<std::vector<std::string>> csvRows(const std::string& path, std::string& header) {
    std::ifstream in(path);
    std::getline(in, header);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        std::stringstream cellsIn(line);
        for (std::string cell; std::getline(cellsIn, cell, ',');) cells.push_back(cell);
        rows.push_back(cells);
    }
    return rows;
}
}  // namespace

TEST(SeeingFigure, RanksBlurAndIgnoresBrightness) {
    const cv::Rect whole;
    const double sharp = frameQuality(blurredFrame(0.8, 0)->rawImage, {false, whole});
    const double soft = frameQuality(blurredFrame(1.6, 0)->rawImage, {false, whole});
    const double sharpBright = frameQuality(blurredFrame(0.8, 0, 2.0)->rawImage, {false, whole});
    EXPECT_GT(sharp, 2 * soft);
    EXPECT_NEAR(sharpBright, sharp, 0.02 * sharp);
}

TEST(SharpestFrames, KeepsTheShareOfEachSecondAndTheLastPartOne) {
    EXPECT_EQ(SharpestFrames::keptOf(40, 25), 10);
    EXPECT_EQ(SharpestFrames::keptOf(3, 25), 1);  // never a second without a frame
    EXPECT_EQ(SharpestFrames::keptOf(10, 100), 10);
    // Held bytes would pass the limit at the fourth frame: the first three are judged alone.
    SharpestFrames small(50, 3 * kW * kH);
    std::vector<SharpestFrames::Judged> out;
    for (int i = 0; i < 4; ++i) small.add(blurredFrame(1, i), i, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].quality, 1);
    EXPECT_EQ(out[1].quality, 2);
}

class KeepSharpestTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        RecordingFacts facts;
        facts.utcOffsetSeconds = utcOffsetSeconds();
        rec_.setFacts(facts);
        rec_.setWriteLog(true);
    }
    TempDir dir_;
    RecordingController rec_;
};

TEST_P(KeepSharpestTest, SerHoldsTheSharpestWithTheirStampsAndItsFiguresFile) {
    const bool keep = GetParam();
    rec_.setKeepSharpest(keep, 25);
    const std::string path = dir_ / "moon_00000.SER";
    ASSERT_TRUE(rec_.startRecording(CaptureFormat::Ser, path, kW, kH, false, 8, {0, false}, false))
        << rec_.lastError();
    // 3.5 s: three whole seconds and a half one, judged at the close.
    const int frames = 7 * kRate / 2;
    for (int i = 0; i < frames; ++i) rec_.recordFrame(blurredFrame(sigmaOf(i), i * 1000 / kRate));
    rec_.waitForWriter();
    ASSERT_TRUE(rec_.close()) << rec_.lastError();

    // The frames expected: of each second the quarter with the least blur, in their order.
    std::vector<int> expected;
    for (int first = 0; first < frames; first += kRate) {
        std::vector<int> second;
        for (int i = first; i < std::min(frames, first + kRate); ++i) second.push_back(i);
        if (keep) {
            std::vector<int> bySharpness = second;
            std::sort(bySharpness.begin(), bySharpness.end(),
                      [](int a, int b) { return sigmaOf(a) < sigmaOf(b); });
            bySharpness.resize(SharpestFrames::keptOf(static_cast<int64_t>(second.size()), 25));
            std::sort(bySharpness.begin(), bySharpness.end());
            second = bySharpness;
        }
        expected.insert(expected.end(), second.begin(), second.end());
    }
    ASSERT_EQ(expected.size(), keep ? 35u : static_cast<size_t>(frames));

    const auto bytes = readAll(path);
    ASSERT_EQ(bytes.size(), 178 + expected.size() * (kW * kH + 8));
    uint32_t count = 0;
    std::memcpy(&count, bytes.data() + 38, 4);
    EXPECT_EQ(count, expected.size());
    const uint8_t* trailer = bytes.data() + 178 + expected.size() * kW * kH;
    std::string header;
    const auto rows = csvRows(qualityFilePath(path), header);
    EXPECT_EQ(header + "\n", QualityFile::kHeader);
    ASSERT_EQ(rows.size(), expected.size());
    int64_t firstTicks = 0;
    for (size_t k = 0; k < expected.size(); ++k) {
        const FramePtr f = blurredFrame(sigmaOf(expected[k]), expected[k] * 1000 / kRate);
        int64_t ticks = 0;
        std::memcpy(&ticks, trailer + 8 * k, 8);
        if (k == 0) firstTicks = ticks - toSerTicks(f->timeStamp);
        EXPECT_EQ(ticks - toSerTicks(f->timeStamp), firstTicks) << "frame " << k;
        ASSERT_EQ(rows[k].size(), 3u);
        EXPECT_EQ(rows[k][0], std::to_string(k));
        EXPECT_EQ(rows[k][1], isoDateTime(toUtc(f->timeStamp, utcOffsetSeconds())) + "Z");
        EXPECT_NEAR(std::stod(rows[k][2]), frameQuality(f->rawImage, {false, {}}), 0.001);
    }
    EXPECT_EQ(rec_.lastQualityFile(), qualityFilePath(path));
    bool wellFormed = false;
    const auto log = parseLog(rec_.lastLogPath(), &wellFormed);
    EXPECT_TRUE(wellFormed);
    EXPECT_EQ(log.find("Frame selection")->second,
              keep ? "sharpest 25 % of each second" : "every frame");
    EXPECT_EQ(log.count("Seeing figure median"), 1u);
    EXPECT_EQ(log.find("Seeing figures")->second, qualityFilePath(path));
    if (keep) {
        EXPECT_EQ(log.find("Frames kept")->second, "35");
        EXPECT_EQ(log.find("Frames left out")->second, std::to_string(frames - 35));
        EXPECT_EQ(gapText(rec_.lastGaps()), "sharpest 25 % kept: 35 frames, 105 left out");
    }
}
INSTANTIATE_TEST_SUITE_P(KeepOrAll, KeepSharpestTest, ::testing::Bool());

TEST(QualityFileNames, AFiguresFileLeftBehindIsNeverOverwritten) {
    TempDir dir;
    const std::string base = dir / "moon.SER";
    const std::string stray = qualityFilePath(numberedName(base, 0));
    { std::ofstream(stray) << "not ours\n"; }
    EXPECT_EQ(nextRecordingNumber(base), 1);
    QualityFile file;
    EXPECT_FALSE(file.create(stray));
    EXPECT_FALSE(file.error().empty());
    std::ifstream in(stray);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "not ours");
}
