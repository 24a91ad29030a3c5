#pragma once
// The timestamp text drawn into rendered frames. The text of the moment is built by the
// acquisition thread (CurrentStampText); whether it is drawn is the main window's
// "Visible" item, kept by the StampOverlay that the window owns.
#include <opencv2/core.hpp>
#include <string>

// Draws `text` into `image` (8-bit, 1 or 3 channels): plain Hershey font, scale 1,
// thickness 1, 8-connected, white, base line starting at column 20, row 20; clipped at
// the image's edges.
void PutStampText(cv::Mat& image, const std::string& text);

class StampOverlay {
  public:
    // Hidden until the "Visible" item is checked.
    bool isVisible() const { return visible_; }
    void setVisible(bool visible) { visible_ = visible; }

    // Draws CurrentStampText into the frame image while visible; nothing otherwise or for
    // an empty image.
    void draw(cv::Mat& image) const;

  private:
    bool visible_ = false;
};
