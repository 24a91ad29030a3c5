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
#include <vector>

#include "platform/DateTime.h"
#include "serformat/ColorPattern.h"

// A pattern value of the camera library or of a SER header; Mono for anything else.
ColorPattern patternFromId(int id);
// "RGGB", "GRBG", "GBRG", "BGGR"; "" for Mono.
const char* patternName(ColorPattern pattern);

// The memory held by frames that the capture thread has handed over and that are not yet
// destroyed, in bytes, in two accounts: frames on their way to or in the window thread's
// hand-off, and frames waiting in a recording's writer queue. The capture thread waits
// before its next exposure while either account is at its limit, so a slow window or a
// slow disk holds the camera back instead of letting memory grow; no frame is dropped.
// Each handed-over frame gives its bytes back when it is destroyed, on whichever thread.
class FrameBudget {
  public:
    // Which account keeps the next frame back, if any.
    enum class Hold { None, HandOff, Queue };

    // The limits in bytes. The hand-off always admits kMinHandOffFrames frames, however
    // large, so that the window thread has one frame to work on while the next arrives.
    void setLimits(uint64_t handOffBytes, uint64_t queueBytes) {
        handOffLimit_ = handOffBytes;
        queueLimit_ = queueBytes;
    }
    uint64_t handOffLimit() const { return handOffLimit_.load(std::memory_order_relaxed); }
    uint64_t queueLimit() const { return queueLimit_.load(std::memory_order_relaxed); }
    // Whether a frame of `bytes` may be handed over now.
    Hold holds(uint64_t bytes) const;

    int inFlight() const { return frames_.load(std::memory_order_relaxed); }
    uint64_t bytesInFlight() const { return bytes_.load(std::memory_order_relaxed); }
    int framesQueued() const { return queuedFrames_.load(std::memory_order_relaxed); }
    uint64_t bytesQueued() const { return queuedBytes_.load(std::memory_order_relaxed); }
    // The most bytes the writer queues ever held; resetPeak starts counting anew.
    uint64_t peakBytesQueued() const { return peakQueued_.load(std::memory_order_relaxed); }
    void resetPeak() { peakQueued_ = queuedBytes_.load(); }

    void take(uint64_t bytes);
    void give(uint64_t bytes, bool queued);
    // A frame of `bytes` moves from the hand-off into a writer queue.
    void enqueue(uint64_t bytes);

    static constexpr int kMinHandOffFrames = 2;
    // The frames of one size the program may hold at a time whatever the limits: the one the
    // camera fills and the next one made ready beside it, the kMinHandOffFrames of the
    // hand-off, and the one a writer queue always takes.
    static constexpr int kFramesAlwaysHeld = 2 + kMinHandOffFrames + 1;
    // Both limits together: the memory the program allows its frames.
    uint64_t totalLimit() const;
    // Whether the limits have room for kFramesAlwaysHeld frames of `bytes` each.
    bool fitsFrame(uint64_t bytes) const { return bytes <= totalLimit() / kFramesAlwaysHeld; }

  private:
    std::atomic<int> frames_{0};
    std::atomic<uint64_t> bytes_{0};
    std::atomic<int> queuedFrames_{0};
    std::atomic<uint64_t> queuedBytes_{0};
    std::atomic<uint64_t> peakQueued_{0};
    std::atomic<uint64_t> handOffLimit_{UINT64_MAX};
    std::atomic<uint64_t> queueLimit_{UINT64_MAX};
};

struct Frame {
    Frame() = default;
    ~Frame();
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    // Start of the exposure on the local clock: the moment newFrame created the frame
    // until the capture thread stamps it, at the camera library's precision where the
    // library reports the start.
    PreciseDateTime timeStamp;
    // 1 channel, 8 or 16 bits, each row padded to a multiple of 4 bytes (rawImage.step).
    cv::Mat rawImage;
    cv::Mat image8;      // 8-bit view: rawImage itself at depth 8; empty until prepareImage8
    cv::Mat colorImage;  // 8-bit BGR demosaic; empty until ensureColorImage
    std::string stampText;
    // The overlay stage put stampText into the frame's pictures (burnStampText): a mono
    // frame's samples carry it, a mosaic frame's colour image once it is made.
    bool stampBurnt = false;
    bool flipped = false;
    // Mosaic of the samples as stored; Mono for a monochrome camera or when the user said
    // the camera is not a colour one.
    ColorPattern pattern = ColorPattern::Mono;
    // Significant bits of each sample: 8 in 8-bit frames, 9 to 16 in 16-bit frames (the
    // samples lie in 0 .. 2^bits - 1, unshifted).
    int bitsPerSample = 8;
    // Number of the exposure that filled the frame, counted by the capture thread from 1
    // as it starts each exposure; 0 for a frame no capture thread exposed. Tells a frame
    // exposed before a command from one exposed after it.
    uint64_t exposureNumber = 0;
    // Where the frame lies on the sensor as the camera library reported it: the sensor column
    // of its left edge (also when flipped) and the row of its top, in full-frame pixels; -1
    // when the library does not say.
    int sensorLeft = -1;
    int sensorTop = -1;
    // The filter wheel turned during the exposure (or may have): the frame is shown but
    // never recorded.
    bool filterMoving = false;
    // The exposure was cancelled before its end (a cut): the frame holds less light than
    // its length says. It is shown, never recorded, and the analyses that judge the light
    // (the planet tracker, the seeing figure) pass it over.
    bool cutShort = false;
    // The part of the frame its seeing figure is measured on (a square around the tracked
    // planet's disc), in frame pixels; empty: the whole frame.
    cv::Rect qualityRegion;

    // Marks the frame as handed over: its pixel bytes count in `budget` until it is
    // destroyed.
    void holdBudget(std::shared_ptr<FrameBudget> budget);
    bool handedOver() const { return budget_ != nullptr; }
    // The frame goes into a writer queue: from now on it counts in the queue's account.
    void markQueued();

  private:
    std::shared_ptr<FrameBudget> budget_;
    uint64_t budgetBytes_ = 0;
    bool queued_ = false;
};
using FramePtr = std::unique_ptr<Frame>;

// Row stride in bytes for a width and depth: padded to a multiple of 4.
size_t paddedStride(int width, int depth);

// A frame of width x height samples of `depth` bits (8 or 16), stamped with the current
// time; nullptr for an empty size or when memory runs out.
FramePtr newFrame(int width, int height, const std::string& stampText, bool flipped, int depth);
// Gives the frame its 8-bit image: the raw image itself at depth 8; at 16 the samples
// scaled from their true range (bitsPerSample) to 0..255, rounded and limited to 255.
void prepareImage8(Frame& frame);
// The 8-bit samples of a frame's samples `raw`, as prepareImage8 makes them: `raw` itself at
// 8 bits, else a new image.
cv::Mat eightBitSamples(const cv::Mat& raw, int bitsPerSample);
// Samples (8 or 16 bits, 1 channel) through `table` (an 8-bit value for each sample value;
// samples past its end take the last entry) into 8-bit `out`, which keeps its memory when it
// has the samples' size already.
void mapSamples(const cv::Mat& samples, const std::vector<uint8_t>& table, cv::Mat& out);
// Demosaics the frame by its Pattern into colorImage once (a Mono frame gives three equal
// channels). The colour image of a frame whose stamp is burnt carries the stamp text.
void ensureColorImage(Frame& frame);

// Draws `text` into `image` (1 or 3 channels, 8 or 16 bits) in the value `white`: plain
// Hershey font, scale 1, thickness 1, 8-connected, base line starting at column 20, row 20;
// clipped at the image's edges.
void drawStampText(cv::Mat& image, const std::string& text, double white);
// The same into `part`, an image of the frame's pixels from `partAt` on of a frame of
// `frameSize`: the pixels of the text that fall into the part, exactly as drawStampText
// draws them into the whole frame's image (lines cut at the part's own edges would be
// drawn from other end points).
void drawStampTextInPart(cv::Mat& part, const std::string& text, double white, cv::Point partAt,
                         cv::Size frameSize);

// The overlay stage: burns the frame's stamp text into what is shown and recorded of it. A
// mono frame gets it in its samples at full scale (so every file format and the preview
// carry it); a colour mosaic keeps its samples as the camera made them (a raw file stores
// the mosaic untouched) and its colour image (AVI, BMP, the colour preview) gets the text.
// Done once, before any picture is made of the frame.
void burnStampText(Frame& frame);
// The frame reduced into `out`, which has the reduced size and 8-bit samples, 3 channels
// (BGR) for `colour`, else 1: each pixel from the frame pixel that nearest-neighbour
// resampling takes (column x * width / out.cols, likewise the row), scaled to 8 bits as
// prepareImage8 does; in colour from the 2 x 2 mosaic cell that holds that pixel, red and
// blue as they are and the two greens averaged (a Mono frame gives three equal channels).
// Only the pixels shown are read: a quarter-size preview of a large frame costs a
// sixteenth of the full conversion and demosaic.
// With `table` each sample goes through it (mapSamples) instead of the plain 8-bit scaling.
void reducedImage8(const Frame& frame, bool colour, cv::Mat& out,
                   const std::vector<uint8_t>* table = nullptr);
// The part `crop` of a frame's samples `raw` (as Frame::rawImage) as prepareImage8 and
// ensureColorImage make them of the whole frame: 8-bit grey or, for `colour`, BGR demosaiced
// by `pattern`. The demosaic reads a border of two pixels around the crop, so that its
// pixels are those of the whole frame's colour image; only the crop is converted.
// With `table` the samples go through it (mapSamples) instead of the plain 8-bit scaling.
void croppedImage8(const cv::Mat& raw, ColorPattern pattern, int bitsPerSample, bool colour,
                   cv::Rect crop, cv::Mat& out, const std::vector<uint8_t>* table = nullptr);

int frameWidth(const Frame* frame);
int frameHeight(const Frame* frame);
int frameDepth(const Frame* frame);        // bits per sample, 8 or 16
uint8_t* frameData(Frame* frame);          // first byte of the pixel memory
size_t frameDataSize(const Frame* frame);  // bytes of pixel memory, row padding included
size_t frameStride(const Frame* frame);    // bytes per row, padding included

// The OpenCV conversion from a mosaic of this pattern to BGR; COLOR_GRAY2BGR for Mono.
int demosaicCode(ColorPattern pattern);
// The pattern a library that reports none is taken to deliver while "Color Camera" is on:
// blue at the top left, its mirror image when the camera flips the frames.
ColorPattern assumedPattern(bool flipped);
