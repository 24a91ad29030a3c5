// The camera's own controls through the acquisition thread, on the simulated camera: the list,
// a change and its effect on the frames, what a recording holds back.
#include <gtest/gtest.h>

#include <chrono>
#include <opencv2/core.hpp>
#include <thread>

#include "FrameQueue.h"
#include "LoadedCamera.h"
#include "acquisition/CameraControls.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"

namespace {
using namespace std::chrono_literals;

const CameraControl* find(const ControlSnapshot& s, const std::string& id) {
    for (const CameraControl& c : s.controls)
        if (c.id == id) return &c;
    return nullptr;
}

// Waits until `done` holds for the thread's snapshot; false after 5 s.
template <typename Pred>
bool waitFor(const CaptureThread& capture, Pred done) {
    for (int i = 0; i < 250; ++i) {
        if (done(capture.controls(), capture.status())) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// The mean of a frame that began after everything asked for so far reached the camera.
double freshMean(FrameQueue& frames, CaptureThread& capture, int* width = nullptr) {
    const uint64_t after = capture.status().exposuresStarted + 1;
    for (FramePtr f; (f = frames.pop(3000));)
        if (f->exposureNumber > after) {
            if (width) *width = f->rawImage.cols;
            return cv::mean(f->rawImage)[0];
        }
    return -1;
}

class CameraControlsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tvtest::loadedCamera(TV_SIMCAM_LIB);
        std::string error;
        ASSERT_TRUE(loadCameraLibraryFrom(TV_SIMCAM_LIB, &error)) << error;
        ASSERT_EQ(tvtest::simCamConfigure(TV_SIMCAM_LIB)(1, 0), 1);  // test card, no noise
        capture_.setExposureMs(5);
        ASSERT_TRUE(capture_.openCamera());
        capture_.start();
    }
    void TearDown() override {
        capture_.stop(5000);
        tvtest::simCamConfigure(TV_SIMCAM_LIB)(0, 1);
        setCameraApi(TarviApi{});
    }
    FrameQueue frames_;
    CaptureThread capture_{frames_.poster()};
};

TEST_F(CameraControlsTest, ListsTheSimulatedCamerasControlsWithTheirKindsAndRoles) {
    const ControlSnapshot s = capture_.controls();
    const CameraControl* offset = find(s, "Offset");
    const CameraControl* binning = find(s, "Binning");
    const CameraControl* temp = find(s, "SensorTemperature");
    const CameraControl* warm = find(s, "WarmUp");
    ASSERT_TRUE(offset && binning && temp && warm && find(s, "Cooler") &&
                find(s, "TargetTemperature"));
    EXPECT_EQ(offset->role, TARVI_ROLE_OFFSET);
    EXPECT_EQ(offset->value, 0.0);
    EXPECT_TRUE(binning->geometry);
    EXPECT_EQ(binning->maximum, 4);
    EXPECT_TRUE(temp->readOnly && temp->changesByItself);
    EXPECT_EQ(temp->unit, "C");
    EXPECT_EQ(warm->kind, ControlKind::Action);
    EXPECT_EQ(std::count_if(s.controls.begin(), s.controls.end(), shownInPanel),
              static_cast<long>(s.controls.size()));
}

TEST_F(CameraControlsTest, OffsetRaisesTheFramesAndReadsBack) {
    const double before = freshMean(frames_, capture_);
    capture_.setControl("Offset", 40.4);  // a whole number is sent
    ASSERT_TRUE(waitFor(capture_, [](const ControlSnapshot& s, const CaptureStatus&) {
        return find(s, "Offset")->value == 40.0;
    }));
    EXPECT_NEAR(freshMean(frames_, capture_) - before, 40, 1);
}

TEST_F(CameraControlsTest, BinningShrinksTheSensorAndTheFrames) {
    capture_.setControl("Binning", 2);
    ASSERT_TRUE(waitFor(capture_, [](const ControlSnapshot&, const CaptureStatus& st) {
        return st.sensorWidth == 640 && st.sensorHeight == 480;
    }));
    int width = 0;
    freshMean(frames_, capture_, &width);
    EXPECT_EQ(width, 640);
}

TEST_F(CameraControlsTest, ARecordingHoldsBackWhatMayNotChangeDuringIt) {
    capture_.setRecording(true);
    capture_.setControl("Offset", 30);
    capture_.setControl("Cooler", 1);
    ASSERT_TRUE(waitFor(capture_, [](const ControlSnapshot& s, const CaptureStatus&) {
        return find(s, "Cooler")->value == 1.0;
    }));
    EXPECT_EQ(find(capture_.controls(), "Offset")->value, 0.0);
    EXPECT_FALSE(controlEnabled(*find(capture_.controls(), "Offset"), true));
    capture_.setRecording(false);
    EXPECT_TRUE(waitFor(capture_, [](const ControlSnapshot& s, const CaptureStatus&) {
        return find(s, "Offset")->value == 30.0;
    }));
}

TEST_F(CameraControlsTest, ARefusedValueIsReportedAndChangesNothing) {
    const uint64_t refusals = capture_.controls().refusals;
    capture_.setControl("Offset", 300);
    capture_.setControl("SensorTemperature", -10);
    capture_.setControl("NoSuchControl", 1);
    ASSERT_TRUE(waitFor(capture_, [&](const ControlSnapshot& s, const CaptureStatus&) {
        return s.refusals == refusals + 3;
    }));
    EXPECT_NE(capture_.controls().lastRefusal.find("NoSuchControl"), std::string::npos);
    EXPECT_EQ(find(capture_.controls(), "Offset")->value, 0.0);
}

struct ValueCase {
    ControlKind kind;
    double minimum, maximum, step, asked;
    std::optional<double> sent;
};

class AcceptedValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(AcceptedValueTest, RoundsOntoTheStepAndKeepsTheRange) {
    const ValueCase& c = GetParam();
    CameraControl control;
    control.caption = "X";
    control.kind = c.kind;
    control.minimum = c.minimum;
    control.maximum = c.maximum;
    control.step = c.step;
    EXPECT_EQ(acceptedValue(control, c.asked), c.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, AcceptedValueTest,
    ::testing::Values(ValueCase{ControlKind::Integer, 1, 9, 2, 4.2, 5.0},
                      ValueCase{ControlKind::Integer, 0, 10, 1, 10.4, 10.0},
                      ValueCase{ControlKind::Integer, 0, 10, 1, 11, std::nullopt},
                      ValueCase{ControlKind::Number, -40, 30, 0.5, -12.34, -12.34},
                      ValueCase{ControlKind::Number, -40, 30, 0.5, NAN, std::nullopt},
                      ValueCase{ControlKind::Choice, 0, 2, 1, -1, std::nullopt}));
}  // namespace
