// The main window's display side: the real hand-off with the overlay, zoom and centring,
// the focus aid through the picture, the histogram, the status panels and the overlay
// dialog.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <opencv2/core.hpp>

#include "FakeCamera.h"
#include "LiveForm.h"
#include "acquisition/CaptureThread.h"
#include "display/ConfigOverlay.h"
#include "display/FocusWindow.h"
#include "display/Histogram.h"
#include "display/PreviewRenderer.h"
#include "display/PictureView.h"
#include "shell/FrameDispatch.h"
#include "shell/FrameEvent.h"
#include "shell/Main.h"
#include "shell/LabelledSlider.h"

namespace {

// A posted frame of `width` x `height` filled by `fill` (x, y) -> value.
Frame* MakeFrame(int width, int height, const std::function<uint8_t(int, int)>& fill) {
    Frame* node = NewFrame(width, height, "", false, 8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) node->RawImage.at<uint8_t>(y, x) = fill(x, y);
    MarkPosted(node);
    return node;
}

Frame* Uniform(int width, int height, uint8_t value) {
    return MakeFrame(width, height, [value](int, int) { return value; });
}

int CountAtLeast(const cv::Mat& m, int level) {
    int n = 0;
    for (int y = 0; y < m.rows; ++y)
        for (int x = 0; x < m.cols * m.channels(); ++x) n += m.ptr<uint8_t>(y)[x] >= level;
    return n;
}

void SetColour(MainWindow& form, bool on) {
    form.Col1->setChecked(on);
    form.Col1Click();
}

class WindowDisplay : public ::testing::Test {
  protected:
    DisplayStateGuard guard;
};

}  // namespace

TEST_F(WindowDisplay, OverlayTextReachesTheRecordedPixelsOnlyWhileVisible) {
    MainWindow form;
    CurrentStampText.Set("M42 21:05:09.042");
    form.Capture->Recording = 1;
    form.PreviewDuringCapture1->setChecked(true);
    int written = -1;  // bright pixels of the frame the controller is given
    cv::Mat colour;
    form.RecordStepHook = [&](Frame& frame) {
        written = CountAtLeast(frame.RawImage, 255);
        colour = frame.ColorImage.clone();
    };

    SetColour(form, false);
    form.Visible1->trigger();  // checks itself
    ASSERT_TRUE(form.Stamp.isVisible());
    form.FrameReady(Uniform(320, 240, 0));
    EXPECT_GT(written, 20);  // the glyphs are in the grey frame's own pixels ...
    EXPECT_GT(CountAtLeast(cv::Mat(240, 320, CV_8UC1, form.Image1->Bitmap().bits(),
                                   form.Image1->Bitmap().bytesPerLine()),
                           255),
              20);  // ... and on screen

    // A colour camera: the colour picture carries the text, the raw mosaic does not.
    SetColour(form, true);
    form.FrameReady(Uniform(320, 240, 0));
    EXPECT_EQ(written, 0);
    EXPECT_GT(CountAtLeast(colour, 255), 20);

    form.Visible1->trigger();  // unchecks
    EXPECT_FALSE(form.Stamp.isVisible());
    SetColour(form, false);
    form.FrameReady(Uniform(320, 240, 0));
    EXPECT_EQ(written, 0);
    form.Capture->Recording = 0;
}

TEST_F(WindowDisplay, ZoomResizesTheNextFrameScrollsHomeAndTimer2Centres) {
    MainWindow form;
    form.resize(1200, 800);
    form.show();
    SetColour(form, false);
    form.N2001->trigger();
    form.FrameReady(Uniform(640, 480, 90));
    EXPECT_EQ(form.Image1->size(), QSize(1280, 960));
    QApplication::processEvents();
    form.ScrollBox1->horizontalScrollBar()->setValue(200);
    form.ScrollBox1->verticalScrollBar()->setValue(100);
    ASSERT_EQ(form.ScrollBox1->horizontalScrollBar()->value(), 200);

    form.N501->trigger();
    EXPECT_TRUE(form.N501->isChecked());
    EXPECT_EQ(ZoomPercent, 50);
    EXPECT_EQ(form.ScrollBox1->horizontalScrollBar()->value(), 0);
    EXPECT_EQ(form.ScrollBox1->verticalScrollBar()->value(), 0);
    EXPECT_EQ(form.Image1->size(), QSize(1280, 960));  // nothing redrawn before a frame

    form.FrameReady(Uniform(640, 480, 90));
    EXPECT_EQ(form.Image1->size(), QSize(320, 240));
    QApplication::processEvents();
    const QSize client = form.ScrollBox1->viewport()->size();
    form.CancelButton->show();
    form.Timer2Timer();
    EXPECT_EQ(form.Image1->pos(), QPoint((client.width() - 320) / 2, (client.height() - 240) / 2));
    EXPECT_FALSE(form.CancelButton->isVisible());  // no recording: the cancel button goes

    form.Capture->Recording = 1;
    form.CancelButton->show();
    form.Timer2Timer();
    EXPECT_TRUE(form.CancelButton->isVisible());
    form.Capture->Recording = 0;

    // A resize of the scroll box centres the picture on its outer size.
    form.resize(1100, 760);
    EXPECT_TRUE(WaitUntil(
        [&] {
            const QSize outer = form.ScrollBox1->size();
            return form.Image1->pos() ==
                   QPoint((outer.width() - 320) / 2, (outer.height() - 240) / 2);
        },
        1000));
}

TEST_F(WindowDisplay, ClickOnThePictureSetsTheFocusPointThroughTheZoom) {
    MainWindow form;
    FocusWindow focus;
    form.FocusForm = &focus;
    form.resize(1400, 1000);
    form.show();
    SetColour(form, false);
    const auto gradient = [](int x, int y) { return static_cast<uint8_t>((x + 3 * y) & 0xFF); };

    struct Case {
        QAction* zoom;
        QPoint click;
        QPoint expected;
    } cases[] = {{form.N501, {101, 51}, {202, 102}},
                 {form.N1001, {5, 5}, {30, 30}},
                 {form.N1001, {1279, 959}, {1250, 930}},
                 {form.N2001, {1001, 1001}, {500, 500}}};
    for (const Case& c : cases) {
        focus.hide();
        c.zoom->trigger();
        form.FrameReady(MakeFrame(1280, 960, gradient));
        QTest::mouseClick(form.Image1, Qt::LeftButton, {}, c.click);
        EXPECT_EQ(QPoint(FocusPointX, FocusPointY), c.expected) << ZoomPercent << "%";
        EXPECT_TRUE(focus.isVisible());
    }

    // The focus view follows the next rendered frame: its top-left block is frame pixel
    // (480, 479) of the square around (500, 500).
    form.FrameReady(MakeFrame(1280, 960, gradient));
    EXPECT_EQ(focus.PreviewImage().pixelIndex(0, 0), gradient(480, 479));
    EXPECT_EQ(focus.PreviewImage().pixelIndex(288, 288), gradient(520, 519));

    // A right click, or any click during a recording, changes nothing.
    focus.hide();
    QTest::mouseClick(form.Image1, Qt::RightButton, {}, QPoint(100, 100));
    form.Capture->Recording = 1;
    QTest::mouseClick(form.Image1, Qt::LeftButton, {}, QPoint(100, 100));
    form.Capture->Recording = 0;
    EXPECT_EQ(QPoint(FocusPointX, FocusPointY), QPoint(500, 500));
    EXPECT_FALSE(focus.isVisible());

    // Every change of the subframe closes the window.
    QTest::mouseClick(form.Image1, Qt::LeftButton, {}, QPoint(100, 100));
    ASSERT_TRUE(focus.isVisible());
    form.SliderWidth->SetPosition(form.SliderWidth->Position() - 50);
    EXPECT_FALSE(focus.isVisible());
    focus.show();
    form.SliderHeight->SetPosition(form.SliderHeight->Position() - 50);
    EXPECT_FALSE(focus.isVisible());
    form.FocusForm = nullptr;
}

TEST_F(WindowDisplay, HistogramFollowsTheFramesAtMostEveryHalfSecond) {
    uint32_t now = 10000;
    testclock::SetMillis([&] { return now; });
    MainWindow form;
    SetColour(form, true);  // counted from the raw frame all the same

    form.FrameReady(Uniform(64, 48, 10));
    EXPECT_EQ(form.lAvg->text(), "AVG:10");
    EXPECT_FALSE(form.sat->isVisibleTo(&form));
    now = 10200;
    form.FrameReady(Uniform(64, 48, 255));
    EXPECT_EQ(form.lAvg->text(), "AVG:10");  // within 500 ms: not counted
    now = 10500;
    form.FrameReady(Uniform(64, 48, 255));
    EXPECT_EQ(form.lAvg->text(), "AVG:255");
    EXPECT_TRUE(form.sat->isVisibleTo(&form));

    // Unchecking "Histogram" hides the panel and the Logarithmic box and stops counting;
    // checking it again shows the last histogram unchanged.
    form.HGram->click();
    EXPECT_FALSE(form.Panel6->isVisibleTo(&form));
    EXPECT_FALSE(form.loga->isVisibleTo(&form));
    now = 12000;
    form.FrameReady(Uniform(64, 48, 20));
    form.HGram->click();
    EXPECT_TRUE(form.Panel6->isVisibleTo(&form));
    EXPECT_TRUE(form.loga->isVisibleTo(&form));
    EXPECT_EQ(form.lAvg->text(), "AVG:255");
    now = 12001;
    form.FrameReady(Uniform(64, 48, 20));
    EXPECT_EQ(form.lAvg->text(), "AVG:20");
}

TEST_F(WindowDisplay, StatusBarShowsTheFrameRateUntilARecordingOwnsThePanel) {
    uint32_t now = 5000;
    testclock::SetMillis([&] { return now; });
    MainWindow form;
    form.Capture->FpsStart = 4000;
    form.Capture->FrameCount = 25;
    form.Timer1Timer();
    EXPECT_EQ(form.StatusPanel(0)->text(), "25 FPS");
    EXPECT_EQ(form.Capture->FrameCount.load(), 0);
    EXPECT_EQ(form.Capture->FpsStart.load(), 5000u);

    now = 7000;
    form.Capture->FrameCount = 9;
    form.Timer1Timer();
    EXPECT_EQ(form.StatusPanel(0)->text(), " 4 FPS");  // 4.5 truncated, width 2

    form.Capture->Recording = 1;
    form.StatusPanel(0)->setText("3 Frames left");
    now = 8000;
    form.Timer1Timer();
    EXPECT_EQ(form.StatusPanel(0)->text(), "3 Frames left");
    form.Capture->Recording = 0;
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 1000);
}

TEST_F(WindowDisplay, ACameraThatStopsAnsweringIsShownAndClearedWhenItComesBack) {
    tvtest::FakeCamera cam(320, 240);
    cam.Install();
    cam.SetCancelReleases(false);  // the exposure never ends by itself
    MainWindow form;
    form.Capture->StallMarginMs = 50;
    ASSERT_TRUE(StartForm(form));
    ASSERT_TRUE(cam.WaitForExposure(10000));
    ASSERT_TRUE(WaitUntil([&] { return form.Capture->State() == CameraState::Stalled; }));
    form.Timer1Timer();
    EXPECT_EQ(form.StatusPanel(1)->text(), "Camera not responding");

    cam.Release();  // it answers after all
    ASSERT_TRUE(WaitUntil([&] { return form.Capture->State() == CameraState::Exposing; }));
    form.Timer1Timer();
    EXPECT_EQ(form.StatusPanel(1)->text(), "");
}

TEST_F(WindowDisplay, ConfigureShowsTheDialogOverTheWindowAndFramesGoOnMeanwhile) {
    MainWindow form;
    form.ConfText = new TConfText(&form);
    form.setGeometry(100, 80, 1024, 750);
    form.show();
    const uint64_t before = form.FramesReceived;
    auto target = std::make_shared<FramePostTarget>(&form);
    bool sawDialog = false;
    QPoint where;
    QTimer::singleShot(20, &form, [&] {
        sawDialog = form.ConfText->isVisible();
        where = form.ConfText->pos();
        MakeFramePoster(target)(Uniform(64, 48, 1));
        QTimer::singleShot(50, form.ConfText, [&] { form.ConfText->findChild<QPushButton*>("Button1")->click(); });
    });
    form.Configure1->trigger();  // returns once OK has hidden the dialog
    EXPECT_TRUE(sawDialog);
    EXPECT_FALSE(form.ConfText->isVisible());
    EXPECT_EQ(where, OverlayDialogPosition(form.frameGeometry(), form.ConfText->width()));
    EXPECT_EQ(form.FramesReceived, before + 1);
    target->Detach();
}
