#pragma once
// The timestamp text drawn into 8-bit pictures. The text of the moment is built by the
// capture thread; the capture session burns it into the frames (burnStampText) while the
// "Visible" item is on, and the reduced preview of a colour mosaic draws it on its picture.
#include <opencv2/core.hpp>
#include <string>

// Draws `text` into `image` (8-bit, 1 or 3 channels): plain Hershey font, scale 1,
// thickness 1, 8-connected, white, base line starting at column 20, row 20; clipped at
// the image's edges.
void putStampText(cv::Mat& image, const std::string& text);
