#pragma once
// The histogram of the newest frame: the "Histogram" and "Logarithmic" boxes and the chart
// with its "SAT" warning and average level. At most one frame counted every 500 ms.
#include <QWidget>
#include <opencv2/core.hpp>

#include "display/Histogram.h"

class QCheckBox;
class QFrame;
class QLabel;
struct DisplayLevels;

class HistogramPanel : public QWidget {
    Q_OBJECT
  public:
    explicit HistogramPanel(QWidget* parent = nullptr);

    // The "Histogram" box is ticked: frames are to be offered.
    bool enabled() const;
    // Counts and shows an 8-bit grey image when the throttle lets it through, with the
    // preview's black and white levels as markers. True when it counted.
    bool offer(const cv::Mat& image8, const DisplayLevels& levels);
    // The same in two steps, so that a frame's 8-bit view is made only when it is counted:
    // whether the throttle lets the frame at this moment through (it then counts as taken),
    // and the count and display of a taken frame.
    bool takeFrame();
    bool show(const cv::Mat& image8, const DisplayLevels& levels);

  private:
    QCheckBox* enabled_ = nullptr;
    QCheckBox* logarithmic_ = nullptr;
    QFrame* chartPanel_ = nullptr;
    HistogramView view_;
    HistogramThrottle throttle_;
    HistogramResult result_;  // kept between frames, so no memory is allocated per update
};
