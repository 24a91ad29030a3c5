#include "shell/HistogramPanel.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <memory>

#include "acquisition/Frame.h"
#include "display/HistogramChart.h"
#include "display/PreviewRenderer.h"
#include "platform/Clock.h"

HistogramPanel::HistogramPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("HistogramPanel"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    enabled_ = new QCheckBox(tr("Histogram"), this);
    enabled_->setObjectName(QStringLiteral("HGram"));
    enabled_->setChecked(true);
    enabled_->setToolTip(tr("Counts the levels of the picture twice a second"));
    logarithmic_ = new QCheckBox(tr("Logarithmic"), this);
    logarithmic_->setToolTip(tr("Bar heights on a logarithmic scale: small counts stay visible"));
    logarithmic_->setObjectName(QStringLiteral("loga"));
    column->addWidget(enabled_);
    column->addWidget(logarithmic_);

    // The chart with the "SAT" and "AVG: ---" labels below it, 183 x 95.
    chartPanel_ = new QFrame(this);
    chartPanel_->setObjectName(QStringLiteral("Panel6"));
    chartPanel_->setFixedSize(183, 95);
    view_.chart = new HistogramChart(chartPanel_);
    view_.chart->setObjectName(QStringLiteral("H1"));
    view_.chart->move(11, 1);
    view_.sat = new QLabel(tr("SAT"), chartPanel_);
    view_.sat->setObjectName(QStringLiteral("sat"));
    view_.sat->setStyleSheet(QStringLiteral("QLabel { color: red; font-weight: bold; }"));
    view_.sat->setGeometry(11, 80, 40, 15);
    view_.sat->setToolTip(tr("Some pixel is at full scale (a star or a hot pixel is enough)"));
    view_.average = new QLabel(tr("AVG: ---"), chartPanel_);
    view_.average->setObjectName(QStringLiteral("lAvg"));
    view_.average->setGeometry(44, 80, 64, 15);
    view_.average->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    view_.average->setToolTip(tr("The mean level of the whole frame, 0 to 255"));
    view_.brightest = new QLabel(tr("TOP: ---"), chartPanel_);
    view_.brightest->setObjectName(QStringLiteral("lTop"));
    view_.brightest->setGeometry(110, 80, 62, 15);
    view_.brightest->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    view_.brightest->setToolTip(
        tr("The level of the brightest 0.5 % of the frame in % of full scale: how well a "
           "planet is exposed"));
    column->addSpacing(3);
    column->addWidget(chartPanel_);

    // The chart and the "Logarithmic" box are visible exactly while "Histogram" is ticked,
    // however the tick changes (mouse, keyboard, accessibility).
    connect(enabled_, &QCheckBox::toggled, this, [this](bool on) {
        chartPanel_->setVisible(on);
        logarithmic_->setVisible(on);
    });
}

bool HistogramPanel::enabled() const {
    return enabled_->isChecked();
}

bool HistogramPanel::offer(const cv::Mat& image8, const DisplayLevels& levels) {
    if (image8.empty()) return false;
    return takeFrame() && show(image8, levels);
}

bool HistogramPanel::takeFrame() {
    return throttle_.due(monotonicMs());
}

bool HistogramPanel::show(const cv::Mat& image8, const DisplayLevels& levels) {
    if (image8.empty()) return false;
    view_.logarithmic = logarithmic_->isChecked();
    if (!computeHistogram(image8, view_.logarithmic, result_)) return false;
    showHistogram(result_, view_, levels.black, levels.white);
    if (counted_) counted_(result_);
    return true;
}

void HistogramPanel::countFrame(const Frame& frame, const DisplayLevels& levels) {
    const bool own8 = !frame.image8.empty();
    cv::Mat samples = own8 ? frame.image8 : frame.rawImage;
    const int bits = own8 ? 8 : frame.bitsPerSample;
    const bool logarithmic = logarithmic_->isChecked();
    const int black = levels.black, white = levels.white;
    counter_.submit([this, samples, bits, logarithmic, black, white]() -> AnalysisWorker::Result {
        auto result = std::make_shared<HistogramResult>();
        if (!computeHistogram(eightBitSamples(samples, bits), logarithmic, *result)) return {};
        return [this, result, logarithmic, black, white] {
            view_.logarithmic = logarithmic;
            result_ = *result;
            showHistogram(result_, view_, black, white);
            if (counted_) counted_(result_);
        };
    });
}

bool HistogramPanel::waitCounted(int timeoutMs) {
    const bool done = counter_.waitIdle(timeoutMs);
    QCoreApplication::sendPostedEvents(this);
    return done;
}
