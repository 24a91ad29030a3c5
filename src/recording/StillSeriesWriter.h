#pragma once
// Still frames of a FIT or BMP series: one complete file per frame, under the next free
// numbered name of the series' still path. The writer remembers the number it gave out
// last, so a series that goes on under the same still path does not search from 0 again.
#include <cstdint>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

#include "acquisition/Frame.h"

class StillSeriesWriter {
  public:
    // Starts a series under `stillPath` (capture path + ".FIT" or ".BMP").
    void begin(const std::string& stillPath);
    const std::string& stillPath() const { return stillPath_; }

    // Observation names instead of numbered ones: each file is named after its frame's
    // exposure start in UTC, the target and the filter (observationStem), in `folder`, with
    // `ext` (".fit", ".bmp"), and numbered "_1", "_2"... in the order of the series (a
    // number whose name is taken is passed over).
    struct ObservationNaming {
        std::string folder, target, filter, ext;
        int32_t utcOffsetSeconds = 0;
    };
    void setObservationNaming(std::optional<ObservationNaming> naming) {
        naming_ = std::move(naming);
    }

    // The next free numbered name of the still path: the search starts at the number given
    // out last when the still path is the one seen last (compared case-sensitively), else
    // at 0. A name handed out but never written is handed out again.
    // With observation naming, the free observation name of a frame exposed at `local`.
    std::string nextPath(PreciseDateTime local = PreciseDateTime());

    // The frame as a FITS file under nextPath(), with `moreCards` in its header. `written`
    // receives the name.
    bool writeFits(const Frame& frame, std::string* written = nullptr,
                   const std::string& moreCards = std::string());
    // The image (8-bit, 1 or 3 channels) of a frame exposed at `local` as a BMP file under
    // nextPath(): an 8-bit grey bitmap for 1 channel, 24-bit for 3.
    bool writeBmp(const cv::Mat& image, std::string* written = nullptr,
                  PreciseDateTime local = PreciseDateTime());

    // Why the last failed write failed, naming the file; not cleared by a success.
    const std::string& error() const { return error_; }

  private:
    std::string stillPath_;
    std::string lastPath_ = "NONAMEATALL";  // the still path nextPath() saw last
    int32_t lastNumber_ = 0;                // the number it gave out last
    std::string error_;
    std::optional<ObservationNaming> naming_;
    int32_t observationNumber_ = 1;  // the number the next observation-named file takes
    int32_t handedOut_ = 1;          // the number nextPath() gave out last
};
