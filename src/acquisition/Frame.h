#pragma once
// One camera frame: its pixel buffer as the camera library writes it, the 8-bit and
// colour images derived from it on the window thread, and the time and overlay text of
// its exposure. Frames travel as FramePtr: whoever holds the pointer owns the frame.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <opencv2/core.hpp>
#include <string>

#include "platform/Clock.h"

// Counts the frames handed to the window thread and not yet destroyed. The capture thread
// waits before its next exposure while the count is at its limit; each handed-over frame
// holds the budget and gives its place back when it is destroyed, on whichever thread.
class FrameBudget {
  public:
    int inFlight() const { return count_.load(std::memory_order_relaxed); }
    void take() { count_.fetch_add(1, std::memory_order_relaxed); }
    void give() { count_.fetch_sub(1, std::memory_order_relaxed); }

  private:
    std::atomic<int> count_{0};
};

struct Frame {
    Frame() = default;
    ~Frame();
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    TDateTime TimeStamp = 0.0;  // local clock when NewFrame created the frame
    // 1 channel, 8 or 16 bits, each row padded to a multiple of 4 bytes (RawImage.step).
    cv::Mat RawImage;
    cv::Mat Image8;      // 8-bit view: RawImage itself at depth 8; empty until PrepareImage8
    cv::Mat ColorImage;  // 8-bit BGR demosaic; empty until EnsureColorImage
    std::string StampText;
    bool Flipped = false;
    // Number of the exposure that filled the frame, counted by the capture thread from 1
    // as it starts each exposure; 0 for a frame no capture thread exposed. Tells a frame
    // exposed before a command from one exposed after it.
    uint64_t ExposureNumber = 0;

    // Marks the frame as handed over: it counts in `budget` until it is destroyed.
    void holdBudget(std::shared_ptr<FrameBudget> budget);
    bool handedOver() const { return budget_ != nullptr; }

  private:
    std::shared_ptr<FrameBudget> budget_;
};
using FramePtr = std::unique_ptr<Frame>;

// Row stride in bytes for a width and depth: padded to a multiple of 4.
size_t PaddedStride(int width, int depth);

// A frame of width x height samples of `depth` bits (8 or 16), stamped with the current
// time; nullptr for an empty size or when memory runs out.
FramePtr NewFrame(int width, int height, const std::string& stampText, bool flipped, int depth);
// Gives the frame its 8-bit image (the raw image itself at depth 8, scaled by 1/256 at 16).
void PrepareImage8(Frame& frame);
// Demosaics the frame into ColorImage once.
void EnsureColorImage(Frame& frame);

int FrameWidth(const Frame* frame);
int FrameHeight(const Frame* frame);
int FrameDepth(const Frame* frame);        // bits per sample, 8 or 16
uint8_t* FrameData(Frame* frame);          // first byte of the pixel memory
size_t FrameDataSize(const Frame* frame);  // bytes of pixel memory, row padding included
size_t FrameStride(const Frame* frame);    // bytes per row, padding included

// Demosaic code for a frame: flipped frames have their Bayer phase shifted by one column.
int DemosaicCode(bool flipped);
