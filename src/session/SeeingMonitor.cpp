#include "session/SeeingMonitor.h"

#include "acquisition/Frame.h"
#include "analysis/FrameQuality.h"
#include "platform/Clock.h"

SeeingMonitor::SeeingMonitor(QObject* context, Measured measured)
    : onMeasured_(std::move(measured)), worker_(context) {}

void SeeingMonitor::offer(const Frame& frame, cv::Rect region) {
    if (frame.rawImage.empty()) return;
    const QualityPatch patch{.mosaic = frame.pattern != ColorPattern::Mono, .region = region};
    cv::Mat samples = frame.rawImage;
    worker_.submit([this, samples, patch]() -> AnalysisWorker::Result {
        const double figure = frameQuality(samples, patch);
        return [this, figure] {
            history_.add(monotonicMs(), figure);
            ++measured_;
            if (onMeasured_) onMeasured_(history_);
        };
    });
}
