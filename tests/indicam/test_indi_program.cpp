// The INDI camera through the program, against a real indiserver with the simulated CCD: the
// camera choice's device listing, a SER recording with the simulator's frames through the main
// window, the server killed in the middle of a recording, and a known colour mosaic served by
// the simulator recorded in SER and FIT.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "IndiPeer.h"
#include "IndiServer.h"
#include "MosaicPatches.h"
#include "RunCommand.h"
#include "ShellTestEnv.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "platform/Message.h"
#include "recording/RecordingController.h"
#include "settings/ProfileStore.h"
#include "shell/CapturePanel.h"
#include "shell/MainWindow.h"
#include "shell/SequenceRunner.h"
#include "widgets/CameraDialog.h"
#include "widgets/OutputNameDialog.h"

namespace fs = std::filesystem;
namespace {
constexpr const char* kDevice = "CCD Simulator";

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

}  // namespace

TEST(IndiDeviceListing, TheDialogListsTheServersCamerasAndStoresTheOneChosen) {
    ensureApp();
    indi_test::Server server;
    ASSERT_TRUE(server.start());
    std::vector<std::string> devices;
    std::string error;
    ASSERT_TRUE(listIndiDevices(server.address(), devices, error)) << error;
    EXPECT_EQ(devices, std::vector<std::string>{kDevice});

    std::vector<CameraSelection> stored;
    CameraDialog dialog({"indi", "sim"}, {QStringLiteral("indi"), {}},
                        [&](const CameraSelection& s) {
                            stored.push_back(s);
                            return true;
                        });
    find<QLineEdit>(dialog, "ServerEdit")->setText(QString::fromStdString(server.address()));
    find<QPushButton>(dialog, "FetchButton")->click();
    auto* list = find<QListWidget>(dialog, "DeviceList");
    ASSERT_TRUE(waitUntil([&] { return !dialog.fetching() && list->count() == 2; }, 10000))
        << find<QLabel>(dialog, "DeviceStatus")->text().toStdString();
    list->setCurrentRow(1);
    find<QDialogButtonBox>(dialog, "Buttons")->button(QDialogButtonBox::Ok)->click();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].options, (QStringList{QString::fromStdString("server=" + server.address()),
                                              QStringLiteral("device=") + QLatin1String(kDevice)}));

    // No server there any more: the reason, in the dialog too.
    server.stop();
    EXPECT_FALSE(listIndiDevices(server.address(), devices, error));
    EXPECT_NE(error.find("no INDI server"), std::string::npos) << error;
    EXPECT_FALSE(listIndiDevices("no port", devices, error));
    find<QPushButton>(dialog, "FetchButton")->click();
    ASSERT_TRUE(waitUntil([&] { return !dialog.fetching(); }, 10000));
    EXPECT_TRUE(
        find<QLabel>(dialog, "DeviceStatus")->text().contains(QStringLiteral("no INDI server")));
}

class IndiRecording : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApp();
        ASSERT_TRUE(server_.start(drivers_)) << "indiserver with the simulators did not start";
        startProgram(QByteArray::fromStdString(ini_));
    }
    // Starts the main window on the server's camera with these settings, recording to
    // captures/sky in SER.
    void startProgram(const QByteArray& ini) {
        previous_ =
            setMessageHandler([this](const QString& t) { messages_.push_back(t.toStdString()); });
        out_ = config_.dir().toStdString() + "/captures";
        fs::create_directories(out_);
        ASSERT_TRUE(config_.writeIni(ini));
        MainWindow::StartOptions options;
        // As the program loads "--camera indi --camera-option server=...".
        options.loadCameraLibrary = [address = server_.address()](std::string* error) {
            return loadChosenCamera("indi", error) &&
                   applyCameraOptions({{"server", address}}, error);
        };
        mainWindow_ = std::make_unique<MainWindow>(std::move(options));
        mainWindow_->start();
        ASSERT_TRUE(messages_.empty()) << messages_[0];

        const QString folder = QString::fromStdString(out_);
        mainWindow_->capturePanel().setFolderChooser([folder](QWidget*) { return folder; });
        find<QAction>(*mainWindow_, "SetCaptureLocation1")->trigger();
        QTimer::singleShot(0, mainWindow_.get(), [this] {
            mainWindow_->outputNameDialog()->findChild<QLineEdit*>("Edit1")->setText(
                QStringLiteral("sky"));
            mainWindow_->outputNameDialog()->findChild<QPushButton*>("Button1")->click();
        });
        find<QAction>(*mainWindow_, "SetCaptureFilename1")->trigger();
        find<QAction>(*mainWindow_, "SER8bit1")->trigger();
    }
    void TearDown() override {
        mainWindow_.reset();  // stops the acquisition thread, even with the camera gone
        setCameraApi(TarviApi{});
        setMessageHandler(previous_);
    }
    // A recording of `frames` frames: SER through "butCapture", FIT files through "Button3".
    void record(int frames, const char* button = "butCapture") {
        find<QLineEdit>(*mainWindow_, "expos")->setText(QString::number(frames));
        find<QPushButton>(*mainWindow_, button)->click();
        ASSERT_TRUE(messages_.empty()) << messages_[0];
        ASSERT_TRUE(mainWindow_->recorder().busy());
    }
    std::vector<std::string> files(const std::string& extension) const {
        std::vector<std::string> files;
        for (const auto& e : fs::directory_iterator(out_))
            if (e.path().extension() == extension) files.push_back(e.path().string());
        std::sort(files.begin(), files.end());
        return files;
    }
    std::vector<std::string> serFiles() const { return files(".SER"); }

    std::vector<std::string> drivers_{"indi_simulator_ccd"};
    // 40 ms: the library takes the driver's video stream.
    std::string ini_ = "[TarviVideo2R]\nEXPOLENGTH=40\n";
    indi_test::Server server_;
    TempConfig config_;
    std::unique_ptr<MainWindow> mainWindow_;
    std::vector<std::string> messages_;
    std::string out_;
    MessageHandler previous_;
};

TEST_F(IndiRecording, SerFramesFromTheSimulatorThroughTheProgram) {
    record(5);
    ASSERT_TRUE(waitUntil([this] { return !mainWindow_->recorder().busy(); }, 30000));
    EXPECT_EQ(mainWindow_->capture().status().width, 1280);
    EXPECT_EQ(mainWindow_->capture().status().height, 1024);
    ASSERT_EQ(serFiles().size(), 1u);
    EXPECT_EQ(tvtest::recordingProblems("ser", serFiles()[0], 1280, 1024, 5), "");
    EXPECT_TRUE(messages_.empty()) << messages_[0];
}

TEST_F(IndiRecording, ServerKilledMidRecordingShowsTheCameraStateAndTheFileEndsWhole) {
    mainWindow_->capture().setStallMarginMs(1000);
    record(100000);
    ASSERT_TRUE(waitUntil([this] { return mainWindow_->recorder().framesWritten() >= 5; }, 30000));
    server_.stop();
    // The status bar says the camera stopped answering, and why.
    auto* state = find<QLabel>(*mainWindow_, "StatusPanel1");
    ASSERT_TRUE(
        waitUntil([&] { return state->text().contains(QStringLiteral("lost the server")); }, 15000))
        << state->text().toStdString();
    EXPECT_TRUE(state->text().startsWith(QStringLiteral("Camera not responding")));
    EXPECT_TRUE(mainWindow_->recorder().busy());

    // The user ends the recording: the file holds every frame written, header to trailer.
    find<QPushButton>(*mainWindow_, "CancelButton")->click();
    ASSERT_TRUE(waitUntil([this] { return !mainWindow_->recorder().busy(); }, 10000));
    const int frames = mainWindow_->recorder().framesWritten();
    EXPECT_GE(frames, 5);
    ASSERT_EQ(serFiles().size(), 1u);
    EXPECT_EQ(tvtest::recordingProblems("ser", serFiles()[0], 1280, 1024, frames), "");

    // The server back on the same port: the camera opens again by itself and live view
    // resumes, the status bar back to normal.
    ASSERT_TRUE(server_.start(drivers_, server_.port()));
    const uint64_t shown = mainWindow_->framesReceived();
    EXPECT_TRUE(waitUntil(
        [&] { return mainWindow_->framesReceived() > shown + 5 && state->text().isEmpty(); },
        30000))
        << state->text().toStdString();
}

// Another client keeps the stream's preview rate down during a recording: the status bar says
// the stream stalled, in the library's words, and so do the recording's summary and its log.
TEST_F(IndiRecording, AStreamKeptDownIsShownStalledAndNamedInTheSummaryAndTheLog) {
    indi_test::Peer other;
    ASSERT_TRUE(other.join(server_.port(), /*connect=*/false));
    record(100000);
    ASSERT_TRUE(waitUntil([this] { return mainWindow_->recorder().framesWritten() >= 5; }, 30000));
    other.meddle(true);
    const QRegularExpression stalled(QStringLiteral("INDI stream stalled: \\d+\\.\\d fps of \\d+"));
    auto* state = find<QLabel>(*mainWindow_, "StatusPanel1");
    const bool seen = waitUntil([&] { return stalled.match(state->text()).hasMatch(); }, 30000);
    other.meddle(false);
    ASSERT_TRUE(seen) << state->text().toStdString();
    find<QPushButton>(*mainWindow_, "CancelButton")->click();
    ASSERT_TRUE(waitUntil([this] { return !mainWindow_->recorder().busy(); }, 10000));
    const QString summary = find<QLabel>(*mainWindow_, "HTMLabel1")->text();
    EXPECT_TRUE(stalled.match(summary).hasMatch()) << summary.toStdString();
    ASSERT_EQ(serFiles().size(), 1u);
    std::ifstream log(serFiles()[0] + ".txt");
    const std::string text((std::istreambuf_iterator<char>(log)), {});
    EXPECT_NE(text.find("\nCamera trouble: INDI stream stalled: "), std::string::npos) << text;
}

// The simulator with its own Bayer mosaic on (RGGB) serving, from its image folder, a GBRG
// mosaic of a red and a blue square: the program records it in SER and FIT at 8 and 16 bits,
// and an independent reader debayering each file by its own label finds the red square red
// and the blue one blue, at the image's levels.
class IndiColourRecording : public IndiRecording, public ::testing::WithParamInterface<int> {
  protected:
    void SetUp() override {
        ensureApp();
        ASSERT_TRUE(server_.start()) << "indiserver with indi_simulator_ccd did not start";
        const std::string images = config_.dir().toStdString() + "/images";
        fs::create_directories(images);
        std::string log;
        ASSERT_EQ(tvtest::runCommand("/usr/bin/python3 " TV_SOURCE_DIR
                                     "/tests/indicam/mosaic_target.py '" +
                                         images + "/target.fits' GBRG 1280 1024 448 512 832 512",
                                     log),
                  0)
            << log;
        // The folder's properties come with the connection; the program finds the device
        // connected.
        const std::string dev = std::string(kDevice) + ".";
        ASSERT_TRUE(server_.set(dev + "SIMULATE_BAYER.INDI_ENABLED=On;INDI_DISABLED=Off"));
        ASSERT_EQ(server_.await(dev + "SIMULATE_BAYER.INDI_ENABLED", "On"), "On");
        ASSERT_TRUE(server_.set(dev + "CONNECTION.CONNECT=On;DISCONNECT=Off"));
        ASSERT_EQ(server_.await(dev + "CONNECTION.CONNECT", "On"), "On");
        ASSERT_TRUE(server_.set(dev + "CCD_DIRECTORY_LOCATION.LOCATION=" + images));
        ASSERT_EQ(server_.await(dev + "CCD_DIRECTORY_LOCATION.LOCATION", images), images);
        ASSERT_TRUE(server_.set(dev + "CCD_DIRECTORY_TOGGLE.INDI_ENABLED=On;INDI_DISABLED=Off"));
        ASSERT_EQ(server_.await(dev + "CCD_DIRECTORY_TOGGLE.INDI_ENABLED", "On"), "On");
        // 200 ms: single exposures, which the folder serves (the video stream does not).
        startProgram("[TarviVideo2R]\nEXPOLENGTH=200\n[Capture]\nSampleDepth=" +
                     QByteArray::number(GetParam()) + "\n");
    }
};

TEST_P(IndiColourRecording, RedAndBluePatchesReadBackByTheFilesLabel) {
    const int depth = GetParam();
    EXPECT_EQ(find<QAction>(*mainWindow_, "Depth16bit1")->isChecked(), depth == 16);
    record(3);
    ASSERT_TRUE(waitUntil([this] { return !mainWindow_->recorder().busy(); }, 30000));
    find<QAction>(*mainWindow_, "FIT1")->trigger();
    record(1, "Button3");
    ASSERT_TRUE(waitUntil([this] { return !mainWindow_->recorder().busy(); }, 30000));
    ASSERT_EQ(files(".SER").size(), 1u);
    ASSERT_EQ(files(".FIT").size(), 1u);
    EXPECT_TRUE(messages_.empty()) << messages_[0];

    const double level = depth == 16 ? 50000 : 195;  // 50000 >> 8 in 8 bits
    for (const std::string& path : {files(".SER")[0], files(".FIT")[0]})
        tvtest::expectRedAndBluePatches(path, "448 512 80 832 512 80", level, 0.05,
                                        depth == 16 ? 16 : 0);
}

INSTANTIATE_TEST_SUITE_P(Depths, IndiColourRecording, ::testing::Values(8, 16));

// With the simulated filter wheel: the capture panel offers its filters; a filter chosen turns
// the wheel and a recording asked for meanwhile waits for it; a turn by another client during
// the recording is left out of it; the wheel's filter, not the one typed in the session
// details, goes into the observation names, the SER header, the log and the FITS cards.
class IndiWheelRecording : public IndiRecording {
  protected:
    IndiWheelRecording() {
        drivers_.push_back("indi_simulator_wheel");
        // Single exposures, whose starts are the driver's own (DATE-OBS).
        ini_ =
            "[TarviVideo2R]\nEXPOLENGTH=150\n[Session]\nTarget=Jupiter\nFilter=Typed\n"
            "[Capture]\nObservationNames=1\n";
    }
    std::string only(const std::string& ext) const {
        std::vector<std::string> files;
        for (const auto& e : fs::directory_iterator(out_))
            if (e.path().extension() == ext) files.push_back(e.path().string());
        EXPECT_EQ(files.size(), 1u) << ext;
        return files.empty() ? std::string() : files[0];
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(IndiWheelRecording, FramesExposedWhileTheWheelTurnsAreNotRecordedAndFilesNameTheFilter) {
    auto* filter = find<QComboBox>(*mainWindow_, "FilterWheel");
    ASSERT_TRUE(waitUntil([&] { return filter->count() == 8; }, 10000));
    EXPECT_TRUE(filter->isVisibleTo(mainWindow_.get()));
    indi_test::WheelWatcher watcher;
    watcher.setServer("localhost", static_cast<unsigned>(server_.port()));
    ASSERT_TRUE(watcher.connectServer());
    emit filter->activated(3);  // H_Alpha
    find<QLineEdit>(*mainWindow_, "expos")->setText(QStringLiteral("0"));
    find<QPushButton>(*mainWindow_, "butCapture")->click();
    EXPECT_TRUE(mainWindow_->capturePanel().waiting() && !mainWindow_->recorder().busy());
    ASSERT_TRUE(waitUntil([&] { return mainWindow_->recorder().framesWritten() >= 5; }, 30000));
    ASSERT_TRUE(server_.set("Filter Simulator.FILTER_SLOT.FILTER_SLOT_VALUE=5"));  // SII
    ASSERT_TRUE(
        waitUntil([&] { return watcher.moves().size() == 2 && watcher.moves()[1].restUs; }, 30000));
    const int before = mainWindow_->recorder().framesWritten();
    ASSERT_TRUE(
        waitUntil([&] { return mainWindow_->recorder().framesWritten() >= before + 5; }, 30000));
    find<QPushButton>(*mainWindow_, "CancelButton")->click();
    ASSERT_TRUE(waitUntil([this] { return !mainWindow_->recorder().busy(); }, 30000));
    const auto moves = watcher.moves();
    ASSERT_TRUE(moves.size() == 2 && moves[0].slot == 4 && moves[1].slot == 5);

    const std::string path = only(".ser"), ser = read(path);
    EXPECT_NE(path.find("-Jupiter-H_Alpha.ser"), std::string::npos) << path;
    const int frames = mainWindow_->recorder().framesWritten();
    EXPECT_EQ(tvtest::recordingProblems("ser", path, 1280, 1024, frames), "");
    EXPECT_EQ(ser.substr(82, 40), "CCD Simulator, filter H_Alpha" + std::string(11, ' '));
    // Exposure starts (trailer: UTC, 100 ns since year 1) against the moves the other client
    // saw, 5 ms allowed for the clocks' resolution and the connections. The second move is
    // another program's: the program learns of it only from the server's notice, which may
    // come after the image of an exposure whose last few milliseconds the move began in.
    const size_t trailer = 178 + static_cast<size_t>(frames) * 1280 * 1024;
    ASSERT_EQ(ser.size(), trailer + 8u * frames);
    constexpr long long kTol = 5000, kNoticeUs = 30000, kExposureUs = 150000;
    int during = 0, after = 0;
    for (int i = 0; i < frames; ++i) {
        int64_t ticks = 0;
        std::memcpy(&ticks, ser.data() + trailer + 8u * i, 8);
        const long long start = (ticks - 621355968000000000LL) / 10;
        EXPECT_GE(start, moves[0].restUs - kTol) << "frame " << i;
        during +=
            start < moves[1].restUs - kTol && start + kExposureUs > moves[1].busyUs + kNoticeUs;
        after += start >= moves[1].restUs;
    }
    EXPECT_EQ(during, 0);
    EXPECT_TRUE(after > 0 && after < frames);
    const std::string log = read(path + ".txt");
    EXPECT_NE(log.find("\nFilter: H_Alpha\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" Filter = SII\n"), std::string::npos) << log;

    // A FITS series afterwards takes the filter the other client left in the beam.
    find<QAction>(*mainWindow_, "FIT1")->trigger();
    find<QLineEdit>(*mainWindow_, "expos")->setText(QStringLiteral("1"));
    find<QPushButton>(*mainWindow_, "Button3")->click();
    ASSERT_TRUE(waitUntil([this] { return !mainWindow_->recorder().busy(); }, 30000));
    const std::string fit = only(".fit");
    EXPECT_NE(fit.find("-Jupiter-SII_1.fit"), std::string::npos) << fit;
    EXPECT_NE(read(fit).substr(0, 2880).find("FILTER  = 'SII     '"), std::string::npos);
    EXPECT_TRUE(messages_.empty()) << messages_[0];
}

// A profile's sequence of two loops through Red and Green, with the simulated wheel and
// focuser: four FITS files under observation names, each with its filter's FILTER card,
// exposure and gain; the focuser ends at the offset of the last filter; the status bar
// follows the sequence.
class IndiSequence : public IndiWheelRecording {
  protected:
    IndiSequence() { drivers_.push_back("indi_simulator_focus"); }
    // A FITS value card's first 30 bytes: the value right-aligned in columns 11 to 30.
    static std::string valueCard(const std::string& key, const std::string& value) {
        return key + std::string(8 - key.size(), ' ') + "= " + std::string(20 - value.size(), ' ') +
               value;
    }
};

TEST_F(IndiSequence, TwoLoopsOfRedAndGreenRecordFourFilesWithTheirFiltersAndExposures) {
    CaptureThread& capture = mainWindow_->capture();
    ASSERT_TRUE(waitUntil(
        [&] { return capture.status().filterSlot >= 1 && capture.focuser().status().present; },
        10000));
    TargetProfile profile;
    profile.name = "Jupiter";
    profile.session.target = "Jupiter";
    profile.format = CaptureFormat::Fit;
    profile.filters = {{"Red", 120'000, 20, -100}, {"Green", 200'000, 30, 150}};
    profile.steps = {{"Red", 1, 0, 0}, {"Green", 1, 0, 1}};
    profile.loops = 2;
    std::string error;
    ASSERT_TRUE(ProfileStore().save(profile, error)) << error;
    const CaptureStatus camera = capture.status();
    const int base = capture.focuser().status().position -
                     profile.focusOffsetFor(camera.filterNames[camera.filterSlot - 1]);

    // A loop budget shorter than the loop is refused before anything moves.
    profile.loopBudgetSeconds = 1;
    profile.name = "Hurried";
    ASSERT_TRUE(ProfileStore().save(profile, error)) << error;
    EXPECT_TRUE(mainWindow_->startSequence(QStringLiteral("Hurried"))
                    .contains(QStringLiteral("longer than")));

    ASSERT_EQ(mainWindow_->startSequence(QStringLiteral("Jupiter")), QString());
    auto* state = find<QLabel>(*mainWindow_, "StatusPanel1");
    const QRegularExpression shown(QStringLiteral("^Sequence: loop 2/2, step Green, 0:0\\d left"));
    bool seen = false;
    ASSERT_TRUE(waitUntil(
        [&] {
            seen = seen || shown.match(state->text()).hasMatch();
            return !mainWindow_->sequence().running();
        },
        90000));
    EXPECT_TRUE(seen) << state->text().toStdString();
    EXPECT_EQ(mainWindow_->sequence().lastError(), QString());
    EXPECT_EQ(mainWindow_->sequence().recordingsMade(), 4);
    EXPECT_TRUE(find<QPushButton>(*mainWindow_, "Button3")->isEnabled());

    const std::vector<std::string> fits = files(".fit");
    ASSERT_EQ(fits.size(), 4u);
    int red = 0, green = 0;
    for (const std::string& path : fits) {
        const std::string header = read(path).substr(0, 2880);
        const bool isRed = path.find("-Jupiter-Red_") != std::string::npos;
        red += isRed;
        green += path.find("-Jupiter-Green_") != std::string::npos;
        EXPECT_NE(header.find(isRed ? "FILTER  = 'Red     '" : "FILTER  = 'Green   '"),
                  std::string::npos)
            << path;
        for (const std::string& card : {valueCard("EXPTIME", isRed ? "0.120000" : "0.200000"),
                                        valueCard("GAIN", isRed ? "20" : "30")})
            EXPECT_NE(header.find(card), std::string::npos) << path << ": " << card;
    }
    EXPECT_EQ(red, 2);
    EXPECT_EQ(green, 2);
    EXPECT_EQ(server_.await("Focuser Simulator.ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION",
                            std::to_string(base + 150)),
              std::to_string(base + 150));
    EXPECT_TRUE(messages_.empty()) << messages_[0];
}

int main(int argc, char** argv) {
    indi_test::runInPrivateNetwork(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
