#pragma once
// The seeing figure: how sharp a frame's picture is, larger for sharper, independent of the
// brightness (exposure, gain, thin cloud) and little moved by pixel noise, so that the frames
// of one night rank by the air's blur alone.
//
// The measure is the energy of the Laplacian of the picture smoothed by a Gaussian of sigma 1
// pixel, divided by the square of the picture's mean level above its darkest smoothed level.
// The Laplacian weighs the finest detail most, which is the detail the air's blur takes first
// (a gradient's energy falls more slowly with blur, so it ranks frames of nearly equal seeing
// less clearly); the light smoothing keeps the pixel-to-pixel noise, which the Laplacian would
// otherwise amplify most, from dominating; and the division makes the figure a ratio of
// levels: a frame twice as bright (gain, exposure) has exactly the same figure.
#include <opencv2/core.hpp>

// Where a frame is measured and how its samples are laid out.
struct QualityPatch {
    // The samples are a colour mosaic: each 2 x 2 cell is summed into one grey pixel first,
    // so that the mosaic's pattern does not count as detail.
    bool mosaic = false;
    // The part of the frame to measure (the planet's disc while it is tracked), in frame
    // pixels; empty: the whole frame. Cut to the frame.
    cv::Rect region;
};

// A patch of more pixels than this (after the mosaic's cells are summed) is reduced by a
// whole factor first, so that a large frame costs no more than a 640 x 480 one.
inline constexpr int kQualityMaxPixels = 640 * 480;
// The figure's scale: a well-exposed sharp planet gives tens of thousands, a blurred one
// thousands.
inline constexpr double kQualityScale = 1e6;

// The figure of one frame's samples (1 channel, 8 or 16 bits, rows may be padded); 0 for an
// empty or black patch.
double frameQuality(const cv::Mat& samples, const QualityPatch& patch);

// The measure itself on a grey patch (any depth, 1 channel): the mean square of the Laplacian
// of the patch smoothed with a Gaussian of sigma 1, over the square of its mean level above
// `dark`, times kQualityScale; its outer 3 pixels, which see the reflected border, are left
// out where the patch allows. `darkFromPatch` takes the smoothed patch's lowest level as
// `dark` instead. 0 when the level is not above the dark one.
double laplacianSharpness(const cv::Mat& grey, double dark, bool darkFromPatch = false);

// The square around a disc of `area` pixels centred at `centre` that holds it with a margin
// (its limb is where the blur shows most), cut to a frame of `frame`; even left and top so
// that a mosaic keeps its pattern.
cv::Rect discPatch(cv::Point2d centre, double area, cv::Size frame);
