#include "display/StampOverlay.h"

#include <opencv2/imgproc.hpp>

void putStampText(cv::Mat& image, const std::string& text) {
    if (image.empty() || text.empty()) return;
    cv::putText(image, text, cv::Point(20, 20), cv::FONT_HERSHEY_PLAIN, 1.0,
                cv::Scalar(255, 255, 255, 0), 1, cv::LINE_8, false);
}
