// Camera Setup > Auto Exposure in the window on the simulated camera: from a dark and from a
// clipped start it reaches its target and holds it; during a recording it changes nothing.
#include <gtest/gtest.h>

#include <QAction>
#include <cmath>
#include <tuple>

#include "LiveWindow.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "shell/ExposurePanel.h"
#include "shell/MainWindow.h"
#include "shell/PreviewControls.h"

namespace {

// The window on the simulated camera at a start setting, Auto Exposure off.
struct SimulatedWindow {
    DisplayStateGuard guard;
    MainWindow window;
    ExposurePanel* panel = nullptr;

    bool start(int64_t exposureUs, int gain) {
        std::string error;
        if (!loadCameraLibraryFrom(TV_SIMCAM_LIB, &error) || !startLiveWindow(window)) return false;
        panel = window.findChild<ExposurePanel*>();
        panel->setExposureUs(exposureUs);
        panel->commitExposure();
        panel->setGain(gain);
        return true;
    }
    uint64_t exposures() { return window.capture().status().exposuresStarted; }
    void waitExposures(uint64_t count) {
        const uint64_t until = exposures() + count;
        waitUntil([&] { return exposures() >= until; }, 30000);
    }
    AutoExposure& loop() { return window.previewControls().autoExposure(); }
    QAction* item() { return window.findChild<QAction*>(QStringLiteral("AutoExposure1")); }
};

// Params: the start's exposure (us) and gain.
class AutoExposureLoop : public ::testing::TestWithParam<std::tuple<int64_t, int>> {};

TEST_P(AutoExposureLoop, ReachesTheTargetWithinFiftyExposuresAndHoldsIt) {
    const auto [exposureUs, gain] = GetParam();
    SimulatedWindow sim;
    ASSERT_TRUE(sim.start(exposureUs, gain));
    sim.waitExposures(3);
    sim.item()->setChecked(true);
    const uint64_t first = sim.exposures();
    // Within 50 exposures of at most 100 ms (the default longest): 5 s of camera time.
    ASSERT_TRUE(waitUntil([&] { return sim.loop().control().settled(); }, 30000));
    EXPECT_LE(sim.exposures() - first, 50u);
    RecordProperty("exposures_to_settle", static_cast<int>(sim.exposures() - first));
    EXPECT_NEAR(sim.loop().lastLevel(), 75.0, 75.0 * 0.03);
    EXPECT_LE(sim.panel->exposureUs(), 100'000);

    // Held: no change over the next 30 exposures, the sliders where it left them.
    const uint64_t changes = sim.loop().changes();
    const int64_t settledUs = sim.panel->exposureUs();
    const int settledGain = sim.panel->gain();
    sim.waitExposures(30);
    EXPECT_EQ(sim.loop().changes(), changes);
    EXPECT_EQ(sim.panel->exposureUs(), settledUs);
    EXPECT_EQ(sim.panel->gain(), settledGain);
    EXPECT_EQ(sim.window.capture().settings().exposureUs, settledUs);
    EXPECT_NEAR(sim.loop().lastLevel(), 75.0, 7.5);
}

INSTANTIATE_TEST_SUITE_P(DarkAndClipped, AutoExposureLoop,
                         ::testing::Values(std::make_tuple(int64_t{2'000}, 0),
                                           std::make_tuple(int64_t{100'000}, 100)));

TEST(AutoExposure, ChangesNothingDuringARecording) {
    SimulatedWindow sim;
    ASSERT_TRUE(sim.start(2'000, 0));
    sim.window.capture().setRecording(true);
    sim.item()->setChecked(true);
    sim.waitExposures(20);
    EXPECT_EQ(sim.loop().changes(), 0u);
    EXPECT_EQ(sim.panel->exposureUs(), 2'000);
    EXPECT_EQ(sim.panel->gain(), 0);
    sim.window.capture().setRecording(false);
    EXPECT_TRUE(waitUntil([&] { return sim.loop().changes() > 0; }, 10000));
}

}  // namespace
