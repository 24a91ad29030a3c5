// The window on the simulated camera: one of its own controls set in the "Camera Controls"
// dock and found in a FITS file's header, and the camera changed while the program runs.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QSpinBox>
#include <filesystem>
#include <fstream>

#include "LiveWindow.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "platform/Message.h"
#include "recording/SerWriter.h"
#include "shell/CameraControlsPanel.h"
#include "shell/CapturePanel.h"
#include "shell/MainWindow.h"
#include "widgets/LabelledSlider.h"

namespace {
namespace fs = std::filesystem;
const std::string kSerLib = TV_BINARY_DIR "/bin/libtarvidll-ser.so";

class CameraSwitch : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = setMessageHandler([this](const QString& t) { messages_ << t; });
        std::string error;
        ASSERT_TRUE(loadCameraLibraryFrom(TV_SIMCAM_LIB, &error)) << error;
        ASSERT_TRUE(startLiveWindow(window_));
        ASSERT_TRUE(waitUntil([&] { return window_.controlsPanel().rowCount() > 0; }));
    }
    void TearDown() override { setMessageHandler(previous_); }
    // Frames of the camera in use reach the window.
    bool framesFlow() {
        const uint64_t until = window_.framesReceived() + 3;
        return waitUntil([&] { return window_.framesReceived() >= until; });
    }
    int sliderMax(const char* name) { return find<LabelledSlider>(window_, name)->maximum(); }
    fs::path folder() { return fs::path(testing::TempDir()) / "camera_switch"; }

    DisplayStateGuard guard_;
    MainWindow window_;
    MessageHandler previous_;
    QStringList messages_;
};

TEST_F(CameraSwitch, AnOffsetSetInTheDockLandsInTheFitsHeader) {
    auto* offset = find<QSpinBox>(window_, "Control_Offset");
    offset->setValue(25);
    ASSERT_TRUE(waitUntil([&] {
        for (const CameraControl& c : window_.capture().controls().controls)
            if (c.id == "Offset") return c.value == 25.0;
        return false;
    }));
    fs::remove_all(folder());
    fs::create_directories(folder());
    window_.capturePanel().setCapturePath(QString::fromStdString((folder() / "m").string()));
    window_.capturePanel().selectFormat(CaptureFormat::Fit);
    find<QPushButton>(window_, "Button3")->click();
    const fs::path file = folder() / "m_00000.FIT";
    ASSERT_TRUE(waitUntil([&] { return fs::exists(file) && !window_.capture().recording(); }));
    std::ifstream in(file, std::ios::binary);
    std::string header(2880, '\0');
    in.read(header.data(), 2880);
    EXPECT_EQ(header.substr(7 * 80, 9), "TIMESTAMP");  // the first eight cards keep their place
    EXPECT_NE(header.find("OFFSET  =                   25"), std::string::npos);
    EXPECT_NE(header.find("CCD-TEMP="), std::string::npos);
    EXPECT_NE(header.find("XBINNING=                    1"), std::string::npos);
    EXPECT_EQ(header.find("SET-TEMP="), std::string::npos);  // the cooler is off
    fs::remove_all(folder());
}

TEST_F(CameraSwitch, ToTheSerCameraAndBackWithTheSlidersSized) {
    fs::create_directories(folder());
    const std::string ser = (folder() / "small.ser").string();
    fs::remove(ser);
    SerWriter writer;
    ASSERT_TRUE(writer.open(ser, 320, 240, 8)) << writer.error();
    for (int i = 0; i < 3; ++i) writer.writeFrame(*newFrame(320, 240, "", false, 8));
    ASSERT_TRUE(writer.close()) << writer.error();

    ASSERT_TRUE(window_.switchCamera(
        {QString::fromStdString(kSerLib), {"file=" + QString::fromStdString(ser)}}));
    EXPECT_EQ(window_.capture().status().sensorWidth, 320);
    EXPECT_EQ(sliderMax("SliderWidth"), 320);
    EXPECT_EQ(sliderMax("SliderHeight"), 240);
    EXPECT_TRUE(window_.cameraName().startsWith("SER playback"));
    EXPECT_EQ(window_.controlsPanel().rowCount(), 0);  // the SER camera has no controls
    EXPECT_TRUE(framesFlow());

    ASSERT_TRUE(window_.switchCamera({QString::fromLatin1(TV_SIMCAM_LIB), {}}));
    EXPECT_EQ(sliderMax("SliderWidth"), 1280);
    EXPECT_EQ(find<LabelledSlider>(window_, "SliderHeight")->value(), 960);
    EXPECT_GT(window_.controlsPanel().rowCount(), 0);
    EXPECT_TRUE(framesFlow());
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("; ").toStdString();
    fs::remove_all(folder());
}

TEST_F(CameraSwitch, ACameraThatFailsToOpenLeavesTheOneBeforeRunning) {
    const QString before = window_.cameraName();
    EXPECT_FALSE(window_.switchCamera({QString::fromStdString(kSerLib), {}}));  // no file
    ASSERT_EQ(messages_.size(), 1);
    EXPECT_TRUE(messages_[0].contains("no SER file chosen")) << messages_[0].toStdString();
    EXPECT_TRUE(messages_[0].contains("The camera before is in use again"));
    EXPECT_EQ(window_.cameraName(), before);
    EXPECT_EQ(sliderMax("SliderWidth"), 1280);
    EXPECT_TRUE(framesFlow());
}
}  // namespace
