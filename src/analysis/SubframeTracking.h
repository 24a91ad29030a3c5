#pragma once
// What a tracker does with the disc found in one frame: move the subframe so that the disc
// sits at its centre, keep it, or say the planet is lost. Frames exposed before the last
// move took effect are passed over. Plain arithmetic, no camera and no threads: the caller
// finds the disc and moves the subframe.
//
// A mount that drifts moves the disc steadily one way. The tracker measures that drift (the
// slope of the disc's path over the last few seconds) and how long a move takes to show in
// the frames, and leads: it moves when the disc will have strayed by the time the move
// shows, and places the subframe so that the disc starts on the side it comes from and
// drifts across the centre, which halves the moves and keeps the disc within a tenth of
// the centre while the move is on its way.
#include <deque>
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
    // The disc's path that its drift is measured over, in seconds.
    static constexpr double kPathSeconds = 4.0;
    // A move is asked for when the disc will lie beyond this share of the limit above by the
    // time it shows, and places the disc this share of the limit from the centre on the side
    // it drifts from.
    static constexpr double kTriggerShare = 0.85;
    static constexpr double kStartShare = 0.6;
    // The lead is the move's delay and one frame more, at most kMaxLead seconds.
    static constexpr double kMaxLead = 2.0;

    // `seconds`: when the frame was handed over, on any steady clock.
    Decision step(const FramePlacement& at, const DiscFound& disc, double seconds);
    // Forgets the move asked for, the drift and the delay (tracking turned off and on).
    void reset();

    // The disc's drift on the sensor in pixels a second (0, 0 until measured) and the time
    // a move takes to show in the frames (0 until one was seen).
    cv::Point2d drift() const { return drift_; }
    double moveDelay() const { return moveDelay_; }

  private:
    void notePath(double seconds, cv::Point2d onSensor);

    std::optional<cv::Point> asked_;
    double askedAt_ = 0;
    int staleFrames_ = 0;
    std::deque<std::pair<double, cv::Point2d>> path_;  // the disc's centres, newest last
    cv::Point2d drift_;
    double moveDelay_ = 0;
};

// The left and top that put `centre` at the subframe's centre as near as the sensor allows,
// rounded down to even (the mosaic's pattern stays that of the full frame).
cv::Point centredOrigin(cv::Point2d centre, cv::Size subframe, cv::Size sensor);
