#pragma once
// What a tracker does with the disc found in one frame: move the subframe so that the disc
// sits at its centre, keep it, or say the planet is lost. Frames exposed before the last
// move took effect are passed over. Plain arithmetic, no camera and no threads: the caller
// finds the disc and moves the subframe.
#include <opencv2/core.hpp>
#include <optional>

#include "analysis/DiscFinder.h"

// Where one frame lay on the sensor and how large the sensor is, in full-frame pixels.
struct FramePlacement {
    cv::Rect frame;  // the subframe's left, top, width and height on the sensor
    cv::Size sensor;
    // The rows are mirrored (horizontal flip): the frame's first column is the subframe's
    // last on the sensor.
    bool mirrored = false;
};

class SubframeTracking {
  public:
    enum class Step {
        Stale,  // exposed before the last move: not looked at
        Fixed,  // the subframe fills the sensor (or its place is unknown): nothing to move
        Lost,   // no disc in the frame: the subframe stays
        Held,   // the disc is near enough the centre
        Moved,  // the subframe is to move to `origin`
    };
    struct Decision {
        Step step = Step::Stale;
        cv::Point origin;          // the new left and top, for Moved
        cv::Point2d discOnSensor;  // the disc's centre on the sensor, when it was found
    };

    // A disc farther from the subframe's centre than this share of the subframe's width
    // (or height) moves the subframe.
    static constexpr double kMoveShare = 0.1;
    // A move not seen in this many frames is taken as overruled (the user placed the
    // subframe, or the camera could not): the frames are looked at again.
    static constexpr int kStaleLimit = 30;

    Decision step(const FramePlacement& at, const DiscFound& disc);
    // Forgets the move asked for (tracking turned off and on, a new subframe size).
    void reset() { asked_.reset(); }

  private:
    std::optional<cv::Point> asked_;
    int staleFrames_ = 0;
};

// The left and top that put `centre` at the subframe's centre as near as the sensor allows,
// rounded down to even (the mosaic's pattern stays that of the full frame).
cv::Point centredOrigin(cv::Point2d centre, cv::Size subframe, cv::Size sensor);
