#pragma once
// The histogram of the newest frame: the "Histogram" and "Logarithmic" boxes and the chart
// with its "SAT" warning and average level. At most one frame counted every 500 ms.
#include <QWidget>
#include <functional>
#include <opencv2/core.hpp>

#include "display/Histogram.h"
#include "session/AnalysisWorker.h"

class QCheckBox;
class QFrame;
class QLabel;
struct DisplayLevels;
struct Frame;

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
    // Counts a taken frame on the panel's own thread, from the frame's samples shared with
    // it (a 12-megapixel count is no work for the window thread), and shows the count when
    // done; a frame taken while one is counted replaces the one waiting.
    void countFrame(const Frame& frame, const DisplayLevels& levels);
    // Called on the window thread with every count shown (the automatic stretch).
    void setCountedHook(std::function<void(const HistogramResult&)> hook) {
        counted_ = std::move(hook);
    }
    // Until the frames taken so far are counted and shown (tests, benchmarks).
    bool waitCounted(int timeoutMs);

  private:
    QCheckBox* enabled_ = nullptr;
    QCheckBox* logarithmic_ = nullptr;
    QFrame* chartPanel_ = nullptr;
    HistogramView view_;
    HistogramThrottle throttle_;
    std::function<void(const HistogramResult&)> counted_;
    HistogramResult result_;        // kept between frames, so no memory is allocated per update
    AnalysisWorker counter_{this};  // last: it stops before the rest of the panel goes
};
