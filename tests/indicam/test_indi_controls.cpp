// The INDI camera's controls against indiserver with the simulated CCD: the list made of the
// driver's properties, and a number and a choice set through it, seen by the driver.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "IndiServer.h"
#include "LoadedCamera.h"
#include "acquisition/CameraControls.h"

namespace {
using namespace std::chrono_literals;

const TarviApi& indi() {
    return tvtest::loadedCamera(TV_INDICAM_LIB);
}

const CameraControl* find(const std::vector<CameraControl>& list, const std::string& id) {
    for (const CameraControl& c : list)
        if (c.id == id) return &c;
    return nullptr;
}

// The control's value as the library reads it, once it is `want` (the driver answers a moment
// after the change); the last value read after 3 s.
double awaitValue(const std::string& id, double want) {
    double v = NAN;
    for (int i = 0; i < 60 && !(indi().cameraControlGet(id.c_str(), &v) == 1 && v == want); ++i)
        std::this_thread::sleep_for(50ms);
    return v;
}

TEST(IndiControls, TheSimulatorsPropertiesBecomeControlsThatReachTheDriver) {
    indi_test::Server server;
    ASSERT_TRUE(server.start()) << "indiserver with indi_simulator_ccd did not start";
    ASSERT_EQ(indi().cameraOption("server", server.address().c_str()), 1);
    ASSERT_EQ(indi().openUSB(0), 1) << indi().cameraLastError();
    const std::vector<CameraControl> list = readCameraControls(indi());

    const CameraControl* offset = find(list, "CCD_OFFSET.OFFSET");
    const CameraControl* binning = find(list, "CCD_BINNING.HOR_BIN");
    const CameraControl* temp = find(list, "CCD_TEMPERATURE.CCD_TEMPERATURE_VALUE");
    const CameraControl* frameType = find(list, "CCD_FRAME_TYPE");
    ASSERT_TRUE(offset && binning && temp && frameType && find(list, "CCD_GAIN.GAIN"));
    EXPECT_EQ(offset->role, TARVI_ROLE_OFFSET);
    EXPECT_FALSE(offset->readOnly);
    EXPECT_EQ(binning->role, TARVI_ROLE_BINNING);
    EXPECT_TRUE(temp->changesByItself);
    EXPECT_EQ(find(list, "CCD_TEMPERATURE.SET_POINT")->role, TARVI_ROLE_TARGET_TEMPERATURE);
    EXPECT_FALSE(shownInPanel(*find(list, "CCD_GAIN.GAIN")));  // the gain slider's
    ASSERT_EQ(frameType->kind, ControlKind::Choice);
    EXPECT_EQ(frameType->choices.size(), 4u);
    EXPECT_EQ(frameType->choices[2], "Dark");
    EXPECT_EQ(find(list, "CCD_FRAME.X"), nullptr);  // never offered: the library sets it

    const std::string device = "CCD Simulator.";
    ASSERT_EQ(indi().cameraControlSet("CCD_OFFSET.OFFSET", 12), 1);
    EXPECT_EQ(server.await(device + "CCD_OFFSET.OFFSET", "12"), "12");
    EXPECT_EQ(awaitValue("CCD_OFFSET.OFFSET", 12), 12);
    ASSERT_EQ(indi().cameraControlSet("CCD_FRAME_TYPE", 2), 1);
    EXPECT_EQ(server.await(device + "CCD_FRAME_TYPE.FRAME_DARK", "On"), "On");
    EXPECT_EQ(awaitValue("CCD_FRAME_TYPE", 2), 2);
    EXPECT_EQ(indi().cameraControlSet("CCD_BINNING.HOR_BIN", 2), 0);  // shown, not set
    EXPECT_EQ(indi().cameraControlSet("CCD_FRAME_TYPE", 0), 1);
    indi().cameraClose();
}
}  // namespace
