// "Track Planet" in the window on the simulated camera: the subframe follows a drifting
// planet, checked against the camera's truth record of where the planet was, and every
// frame of a SER recording made meanwhile holds the whole disc.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <cmath>
#include <string>

#include "LiveWindow.h"
#include "TruthRecord.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "analysis/DiscFinder.h"
#include "display/PictureView.h"
#include "recording/RecordingController.h"
#include "serformat/SerFormat.h"
#include "session/PlanetTracker.h"
#include "shell/CapturePanel.h"
#include "shell/MainWindow.h"

namespace {

class Tracking : public ::testing::Test {
  protected:
    void TearDown() override {
        std::string error;
        applyCameraOptions({{"drift", "0,0"}, {"truth", ""}}, &error);
    }
    DisplayStateGuard guard_;
};

TEST_F(Tracking, TheSubframeFollowsADriftingPlanet) {
    constexpr int kW = 640, kH = 480;
    constexpr double kDriftX = 40, kDriftY = 25;  // pixels a second
    QTemporaryDir dir;
    const std::string truth = dir.filePath(QStringLiteral("truth.txt")).toStdString();
    std::string error;
    ASSERT_TRUE(loadCameraLibraryFrom(TV_SIMCAM_LIB, &error)) << error;
    ASSERT_TRUE(applyCameraOptions({{"drift", "40,25"}, {"truth", truth}}, &error)) << error;
    MainWindow mainWindow;
    ASSERT_TRUE(startLiveWindow(mainWindow));
    mainWindow.capture().setSubframe(kW, kH);
    mainWindow.capture().setExposureMs(50);
    waitUntil([] { return false; }, 500);  // the frames of the new size and exposure
    auto* item = mainWindow.findChild<QAction*>(QStringLiteral("TrackPlanet1"));
    ASSERT_NE(item, nullptr);
    item->setChecked(true);

    // Where the planet is against the subframe's centre, sampled while it drifts: the newest
    // truth line against the newest frame's place (at most an exposure or two apart).
    double farthestX = 0, farthestY = 0, firstX = NAN, lastX = NAN;
    int samples = 0;
    waitUntil([] { return false; }, 1000);  // the first move settles
    // A SER recording runs while the planet drifts.
    mainWindow.capturePanel().setCapturePath(dir.filePath(QStringLiteral("track")));
    mainWindow.findChild<QAction*>(QStringLiteral("SER8bit1"))->trigger();
    mainWindow.capturePanel().setCountText(QStringLiteral("0"));
    mainWindow.findChild<QPushButton*>(QStringLiteral("butCapture"))->click();
    ASSERT_TRUE(mainWindow.capture().recording());
    for (int i = 0; i < 40; ++i) {
        waitUntil([] { return false; }, 100);
        const CaptureStatus at = mainWindow.capture().status();
        const std::vector<TruthLine> lines = truthLines(truth, 1);
        if (lines.empty() || at.frameLeft < 0) continue;
        const TruthLine& planet = lines.back();
        farthestX = std::max(farthestX, std::abs(planet.x - (at.frameLeft + (kW - 1) / 2.0)));
        farthestY = std::max(farthestY, std::abs(planet.y - (at.frameTop + (kH - 1) / 2.0)));
        if (std::isnan(firstX)) firstX = planet.x;
        lastX = planet.x;
        ++samples;
    }
    mainWindow.findChild<QPushButton*>(QStringLiteral("CancelButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return !mainWindow.recorder().busy(); }));
    ASSERT_GT(samples, 30);
    // The planet drifted farther than the tracker lets it stray: the subframe moved with it.
    EXPECT_GT(lastX - firstX, 2 * kW / 10.0);
    EXPECT_GT(mainWindow.tracker().moves(), 1u);
    // A tenth of the subframe, and the drift over the time a move takes to reach the frames
    // and the sampling's mismatch of a few exposures.
    EXPECT_LT(farthestX, kW / 10.0 + kDriftX * 0.3);
    EXPECT_LT(farthestY, kH / 10.0 + kDriftY * 0.3);
    EXPECT_EQ(mainWindow.tracker().state(), PlanetTracker::State::Tracking);
    const auto* cameraPanel = mainWindow.findChild<QLabel*>(QStringLiteral("StatusPanel1"));
    ASSERT_NE(cameraPanel, nullptr);
    EXPECT_TRUE(cameraPanel->text().endsWith(QStringLiteral("Tracking the planet")))
        << cameraPanel->text().toStdString();

    // The disc's mark lies where the planet is, near the picture's centre (the subframe's);
    // the steady preview shifts the picture to hold it at the centre.
    const PictureView& picture = *mainWindow.findChild<PictureView*>(QStringLiteral("Image1"));
    const QPointF centre(picture.pictureSize().width() / 2.0, picture.pictureSize().height() / 2.0);
    ASSERT_TRUE(picture.trackedDisc().has_value());
    EXPECT_LT(std::abs(picture.trackedDisc()->x() - centre.x()), 0.15 * kW);
    EXPECT_EQ(picture.shift(), QPoint());
    mainWindow.findChild<QAction*>(QStringLiteral("SteadyPreview1"))->setChecked(true);
    waitUntil([] { return false; }, 300);
    ASSERT_TRUE(picture.trackedDisc().has_value());
    const QPointF held = *picture.trackedDisc() + QPointF(picture.shift());
    EXPECT_LE(std::abs(held.x() - centre.x()), 1.0);
    EXPECT_LE(std::abs(held.y() - centre.y()), 1.0);

    // Every recorded frame holds the disc whole: found, and clear of the frame's edges.
    const QStringList files = QDir(dir.path()).entryList({QStringLiteral("*.SER")});
    ASSERT_EQ(files.size(), 1);
    QFile file(dir.filePath(files[0]));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ser::Header header;
    ASSERT_TRUE(ser::decodeHeader(reinterpret_cast<const uint8_t*>(bytes.constData()), &header));
    ASSERT_EQ(header.width, kW);
    ASSERT_GT(header.frameCount, 30);
    const DiscSearch search{.mosaic = header.colorId != ser::KMono};
    for (int i = 0; i < header.frameCount; ++i) {
        const cv::Mat frame(kH, kW, CV_8UC1,
                            const_cast<char*>(bytes.constData()) + ser::frameOffset(header, i));
        const DiscFound disc = findDisc(frame, search);
        EXPECT_TRUE(disc.found && !disc.touchesEdge) << "frame " << i;
    }
}

}  // namespace
