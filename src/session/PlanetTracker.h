#pragma once
// Keeps the planet in the subframe: while it is on, frames are searched for the disc on a
// thread of their own (the newest frame; frames that come while one is searched are
// skipped), and the subframe is moved before the disc strays more than a tenth of the
// subframe from the centre (SubframeTracking leads the drift). The window thread only hands
// frames over and acts on the results; it never waits for a search.
#include <QObject>
#include <cstdint>
#include <functional>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

#include "analysis/SubframeTracking.h"
#include "session/AnalysisWorker.h"

struct Frame;

class PlanetTracker {
  public:
    // What the tracker sees, for the status bar.
    enum class State { Off, Searching, Tracking, Lost, Fixed };
    struct Hooks {
        // Asks the capture thread for the subframe's new left and top.
        std::function<void(int left, int top)> moveSubframe;
        // A move was asked for: its text for the capture log of a running recording.
        std::function<void(const std::string& text)> noteMove;
        // The state changed.
        std::function<void(State state)> showState;
    };

    PlanetTracker(QObject* context, Hooks hooks);

    void setOn(bool on);
    bool on() const { return on_; }
    void setSensorSize(int width, int height) { sensor_ = {width, height}; }
    // Hands the frame's samples over to the search (shared, not copied); does nothing while
    // off or for a frame whose place on the sensor is unknown.
    void offer(const Frame& frame);

    State state() const { return state_; }
    uint64_t moves() const { return moves_; }
    // Until the searches handed over so far have run; true when done within `timeoutMs`.
    bool waitIdle(int timeoutMs) const { return worker_.waitIdle(timeoutMs); }

    // The part of `frame` the seeing figure is measured on: a square around the disc where
    // the last search found it (on the sensor, so that a move of the subframe since does not
    // put it astray); empty (the whole frame) while off or without a disc.
    cv::Rect qualityRegion(const Frame& frame) const;
    // The disc's centre in the pixels of `frame` (of any frame, from its place on the
    // sensor: also one shown after a move, before a search of it); empty while off, without
    // a disc, or for a frame whose place is unknown.
    std::optional<cv::Point2d> discInFrame(const Frame& frame) const;

    // "Tracking: planet lost" and the like; "" while off.
    static std::string stateText(State state);

  private:
    void act(const FramePlacement& at, const DiscFound& disc, uint32_t atMs);
    void setState(State state);

    Hooks hooks_;
    bool on_ = false;
    cv::Size sensor_;
    SubframeTracking tracking_;
    State state_ = State::Off;
    uint64_t moves_ = 0;
    // Where the last search found the disc, on the sensor (the centre of sensor column x at
    // x), and its area in pixels; area 0 while no disc is known.
    cv::Point2d discOnSensor_;
    double discArea_ = 0;
    // The disc's bright level in clear frames, fading by half in 2 s so that a lower
    // exposure or gain is soon taken as the new clear level, while a cloud that dims the
    // planet within a second or so hides it.
    double clearBright_ = 0;
    uint32_t clearBrightAtMs_ = 0;
    AnalysisWorker worker_;  // last: its thread ends before the members its results use
};
