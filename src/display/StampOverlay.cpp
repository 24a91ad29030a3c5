#include "display/StampOverlay.h"

#include "acquisition/Frame.h"

void putStampText(cv::Mat& image, const std::string& text) {
    drawStampText(image, text, 255);
}
