#pragma once
// Finds a planet's disc in a frame's samples: the largest blob clearly brighter than the sky
// around it, and its centre to a fraction of a pixel. Moons, stars and hot pixels are small
// blobs and lose to the disc; a frame whose brightest blob is too small or too faint (clouds)
// has no disc.
#include <opencv2/core.hpp>

struct DiscSearch {
    // The samples are a colour mosaic: each 2 x 2 cell is summed into one grey pixel first.
    bool mosaic = false;
    // Significant bits of a sample (8 for 8-bit frames, 9 to 16 in 16-bit ones).
    int bitsPerSample = 8;
    // The smallest disc, in frame pixels: a blob of less is a moon or a star.
    double minArea = 600;
    // How far the disc's bright level must stand above the sky, in parts of full scale.
    double minContrast = 0.06;
    // The bright level of the disc in clear frames, in samples (0: not known). A frame whose
    // bright level stays below minShareOfClear of it shows the disc through cloud: its
    // outline and centre are not to be trusted, and it has no disc.
    double clearBright = 0;
    double minShareOfClear = 0.4;
};

struct DiscFound {
    bool found = false;
    // The disc's centre in frame pixels (pixel (x, y) has its centre at x, y).
    cv::Point2d centre{0, 0};
    // The disc reaches the frame's edge: part of it may lie outside and its centre is that
    // of the part within.
    bool touchesEdge = false;
    double area = 0;       // frame pixels of the disc
    double bright = 0;     // the level of the frame's brightest pixels, in samples
    double sky = 0;        // the sky's level, in samples
    double threshold = 0;  // the level that divided disc from sky, in samples
};

// The disc in `samples` (1 channel, 8 or 16 bits, rows may be padded).
DiscFound findDisc(const cv::Mat& samples, const DiscSearch& search);
