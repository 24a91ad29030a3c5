#pragma once
// The focus number of the focus aid: the half-flux diameter of a star, or a sharpness figure
// for an extended object (planet, Moon), and the short history the focus aid draws.
//
// Everything works on an 8-bit grey frame (a colour frame is converted only where it is
// looked at) and needs no window.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

struct FocusFigure {
    enum class Kind { None, Star, Extended };
    Kind kind = Kind::None;
    // Star: half-flux diameter in frame pixels. Extended: sharpness (larger is sharper).
    double value = 0;
};

// Side of the square the focus aid shows and classifies; the star measurement grows its
// window beyond it up to kFocusMaxWindow pixels so that large, defocused stars are whole.
inline constexpr int kFocusPatch = 41;
inline constexpr int kFocusMaxWindow = 101;

// Measures the frame around `centre` (frame pixels). The square is centred on the point (the
// picture the focus aid shows reaches one row higher); near the frame's edges it is cut.
//
// Classification, on the kFocusPatch square around the centre:
//  - noise: 1.4826 * MAD of the differences of horizontal neighbours / sqrt(2) (insensitive to
//    smooth structure, so it holds on a planet as on the sky), at least 0.5 level;
//  - background: median of the square's border, refined to the mean of the border pixels
//    within 3 noise of it (sub-level precision on 8-bit data);
//  - levels are read from a 3 x 3 median of the square, so a hot pixel is not a star;
//  - None: the square's range is within 8 noise (nothing to focus on);
//  - Star: the peak stands more than 8 noise above the background, and the pixels above half
//    its height are compact: at most a quarter of the square and none on its edge. This takes
//    in the flat disk or ring of a defocused star, whose HFD is what the user turns the
//    focuser by, and a planet small enough to lie well inside the square, whose HFD falls
//    with focus just the same;
//  - Extended: everything else.
// Star: the background is measured again on the border of a window that holds the star to
// about four standard deviations (grown as needed, at most kFocusMaxWindow); the enclosed-
// flux curve around the flux-weighted centroid is taken from a bicubic sub-pixel resampling
// of the background-subtracted window, and the HFD is twice the radius where it reaches half
// the flux (2.355 sigma for a Gaussian star).
// Extended: see Sharpness().
FocusFigure measureFocus(const cv::Mat& frame, cv::Point centre);

// Sharpness of an 8-bit grey patch: the mean square of the Laplacian of the patch smoothed
// with a Gaussian of sigma 1 (which keeps pixel noise from dominating), divided by the square
// of the mean level so that brightness and exposure do not change it, times 1e6 (a sharp
// planet gives some hundreds, a badly blurred one tens).
double sharpness(const cv::Mat& grey);

// "HFD 4.7 px", "Sharpness 123", or empty for None.
std::string focusText(const FocusFigure& figure);

// The last kCapacity figures of one kind, the best since the last reset (smallest HFD,
// largest sharpness), and a limiter of at most one update per kIntervalMs.
class FocusHistory {
  public:
    static constexpr std::size_t kCapacity = 100;
    static constexpr uint32_t kIntervalMs = 200;

    // True when an update may run at `nowMs` (a wrapping millisecond counter); it then
    // counts as done. Wrap-safe: the next time is never more than kIntervalMs ahead.
    bool due(uint32_t nowMs);

    // Appends a figure; a figure of another kind than the ones held starts afresh, None is
    // ignored.
    void add(const FocusFigure& figure);
    void reset();

    FocusFigure::Kind kind() const { return kind_; }
    const std::deque<double>& values() const { return values_; }  // oldest first
    std::optional<double> best() const { return best_; }

  private:
    FocusFigure::Kind kind_ = FocusFigure::Kind::None;
    std::deque<double> values_;
    std::optional<double> best_;
    uint32_t next_ = 0;
    bool started_ = false;
};
