// The overlay text drawn into frames, and the "Text Overlay Properties" dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <opencv2/imgproc.hpp>

#include "QtTestEnv.h"
#include "acquisition/VideoCapture.h"
#include "display/ConfigOverlay.h"
#include "platform/DateTime.h"

namespace {

struct OverlayGuard {
    bool visible = StampVisible;
    ~OverlayGuard() {
        StampVisible = visible;
        CurrentStampText.Set("");
        OverlayKeyboardToggle = nullptr;
        OverlayKeyboardHide = nullptr;
    }
};

// Pixels that differ between two images of the same size, as a bounding box; count in n.
cv::Rect ChangedBox(const cv::Mat& a, const cv::Mat& b, int& n) {
    cv::Mat diff;
    cv::absdiff(a, b, diff);
    if (diff.channels() > 1) cv::cvtColor(diff, diff, cv::COLOR_BGR2GRAY);
    std::vector<cv::Point> points;
    cv::findNonZero(diff, points);
    n = static_cast<int>(points.size());
    return points.empty() ? cv::Rect() : cv::boundingRect(points);
}

TDateTime SampleMoment() {
    DateTimeParts p;
    p.year = 2011;
    p.month = 3;
    p.day = 3;
    p.hour = 21;
    p.minute = 5;
    p.second = 9;
    p.millisecond = 42;
    return EncodeDateTime(p);
}

}  // namespace

TEST(StampText, DrawnOnlyWhenVisibleAndNotEmpty) {
    OverlayGuard guard;
    cv::Mat frame(50, 200, CV_8UC1, cv::Scalar(30));
    const cv::Mat before = frame.clone();
    CurrentStampText.Set("M42 ");
    StampVisible = false;
    DrawStampText(frame);
    EXPECT_EQ(cv::norm(frame, before, cv::NORM_INF), 0.0);

    StampVisible = true;
    CurrentStampText.Set("");
    DrawStampText(frame);
    EXPECT_EQ(cv::norm(frame, before, cv::NORM_INF), 0.0);

    cv::Mat none;
    DrawStampText(none);  // no image: nothing happens
    EXPECT_TRUE(none.empty());
}

TEST(StampText, WhiteGlyphsOnTheBaseLineAtTwentyTwenty) {
    OverlayGuard guard;
    StampVisible = true;
    const std::string text = "21:05:09.042";
    CurrentStampText.Set(text);
    int baseline = 0;
    const cv::Size size = cv::getTextSize(text, cv::FONT_HERSHEY_PLAIN, 1.0, 1, &baseline);

    cv::Mat grey(60, 200, CV_8UC1, cv::Scalar(30));
    const cv::Mat greyBefore = grey.clone();
    DrawStampText(grey);
    int n = 0;
    const cv::Rect box = ChangedBox(grey, greyBefore, n);
    EXPECT_GT(n, 30);
    EXPECT_GE(box.x, 19);
    EXPECT_LE(box.x, 22);
    EXPECT_LE(box.br().x, 20 + size.width + 1);
    EXPECT_GE(box.y, 20 - size.height - 1);
    EXPECT_LE(box.br().y, 20 + baseline + 1);
    double maxValue = 0, minValue = 0;
    cv::minMaxLoc(grey, &minValue, &maxValue);
    EXPECT_EQ(maxValue, 255.0);

    cv::Mat colour(60, 200, CV_8UC3, cv::Scalar(10, 20, 30));
    const cv::Mat colourBefore = colour.clone();
    DrawStampText(colour);
    const cv::Rect colourBox = ChangedBox(colour, colourBefore, n);
    EXPECT_EQ(colourBox, box);
    cv::Mat mask;
    cv::inRange(colour, cv::Scalar(255, 255, 255), cv::Scalar(255, 255, 255), mask);
    EXPECT_EQ(cv::countNonZero(mask), n);  // every changed pixel is white
}

TEST(StampText, NarrowFrameCutsTheTextAtItsEdge) {
    OverlayGuard guard;
    StampVisible = true;
    CurrentStampText.Set("03/03/2011 21:05:09.042");
    cv::Mat buffer(40, 120, CV_8UC1, cv::Scalar(0));
    cv::Mat frame = buffer(cv::Rect(0, 0, 50, 40));  // a view: its right neighbours stay
    DrawStampText(frame);
    EXPECT_GT(cv::countNonZero(frame.colRange(45, 50)), 0);  // text runs to the edge
    EXPECT_EQ(cv::countNonZero(buffer.colRange(50, 120)), 0);
}

TEST(StampDialog, ItemsCarrySamplesOfTheCreationMoment) {
    EnsureApp();
    OverlayGuard guard;
    StampFormat.Set("");
    TConfText dialog(nullptr, SampleMoment());
    EXPECT_EQ(dialog.windowTitle(), "Text Overlay Properties");
    EXPECT_EQ(dialog.size(), QSize(353, 202));
    EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(dialog.isHidden());
    EXPECT_EQ(dialog.RadioGroup1->title(), "Date/Time format select");
    EXPECT_EQ(dialog.RadioGroup1->size(), QSize(339, 129));
    EXPECT_EQ(dialog.Label2->text(), "Text Prefix");
    EXPECT_EQ(dialog.fixed->width(), 273);
    EXPECT_EQ(dialog.Button1->text(), "OK");
    EXPECT_TRUE(dialog.AdvGlassButton1->text().isEmpty());
    EXPECT_FALSE(dialog.AdvGlassButton1->icon().isNull());

    const QStringList expected = {
        "No Data", "Date (03/03/2011)", "Date/Time (s) (03/03/2011 21:05:09)",
        "Date/Time(ms) (03/03/2011 21:05:09.042)", "Time(ms) (21:05:09.042)"};
    ASSERT_EQ(dialog.RadioItems->buttons().size(), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(dialog.RadioItems->button(i)->text(), expected[i]);
    EXPECT_EQ(dialog.ItemIndex(), 3);
    EXPECT_EQ(StampFormat.Get(), "dd/mm/yyyy hh:mm:ss.zzz");
}

TEST(StampDialog, ChoicesTakeEffectAsTheyAreMade) {
    EnsureApp();
    OverlayGuard guard;
    int hides = 0;
    QWidget* toggledDialog = nullptr;
    QLineEdit* toggledEdit = nullptr;
    OverlayKeyboardHide = [&] { ++hides; };
    OverlayKeyboardToggle = [&](QWidget* d, QLineEdit* e) {
        toggledDialog = d;
        toggledEdit = e;
    };
    TConfText dialog(nullptr, SampleMoment());
    dialog.show();
    QApplication::processEvents();

    dialog.RadioItems->button(0)->click();
    EXPECT_EQ(StampFormat.Get(), "");
    dialog.RadioItems->button(4)->click();
    EXPECT_EQ(StampFormat.Get(), "hh:mm:ss.zzz");

    dialog.fixed->setText("  M42 ");
    EXPECT_EQ(StampPrefix.Get(), "  M42 ");  // as typed, blanks kept
    dialog.fixed->clear();
    EXPECT_EQ(StampPrefix.Get(), "");

    dialog.AdvGlassButton1->click();
    EXPECT_EQ(toggledDialog, &dialog);
    EXPECT_EQ(toggledEdit, dialog.fixed);

    dialog.Button1->click();
    EXPECT_TRUE(dialog.isHidden());
    EXPECT_EQ(hides, 1);
    EXPECT_EQ(StampFormat.Get(), "hh:mm:ss.zzz");  // OK applies nothing more
}

TEST(StampDialog, ConfigurePlacesTheDialogAndWaitsUntilItIsHidden) {
    EXPECT_EQ(ConfTextPosition(QRect(100, 50, 800, 600), 353), QPoint(323, 105));
    EXPECT_EQ(ConfTextPosition(QRect(0, 0, 300, 200), 353), QPoint(-26, 55));  // -26.5

    EnsureApp();
    OverlayGuard guard;
    QWidget main;
    main.setGeometry(100, 50, 800, 600);
    main.show();
    QApplication::processEvents();
    const QPoint expected = ConfTextPosition(main.frameGeometry(), 353);
    TConfText dialog(&main, SampleMoment());
    bool ranMeanwhile = false;
    QTimer::singleShot(10, [&] {
        ranMeanwhile = dialog.isVisible();
        dialog.Button1->click();
    });
    ShowConfTextAndWait(&dialog, &main);
    EXPECT_TRUE(ranMeanwhile);
    EXPECT_TRUE(dialog.isHidden());
    EXPECT_EQ(dialog.pos(), expected);
}
