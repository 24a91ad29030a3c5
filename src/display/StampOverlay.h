#pragma once
// The timestamp text drawn into rendered frames. The text of the moment is built by the
// capture thread; whether it is drawn is the preview renderer's choice (the "Visible" item).
#include <opencv2/core.hpp>
#include <string>

// Draws `text` into `image` (8-bit, 1 or 3 channels): plain Hershey font, scale 1,
// thickness 1, 8-connected, white, base line starting at column 20, row 20; clipped at
// the image's edges.
void putStampText(cv::Mat& image, const std::string& text);
