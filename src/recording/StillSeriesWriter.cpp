#include "recording/StillSeriesWriter.h"

#include <opencv2/imgcodecs.hpp>
#include <vector>

#include "recording/FileNames.h"
#include "recording/FitsFormat.h"
#include "recording/OutFile.h"
#include "recording/SessionRecord.h"

void StillSeriesWriter::begin(const std::string& stillPath) {
    stillPath_ = stillPath;
    observationNumber_ = 1;
}

std::string StillSeriesWriter::nextPath(PreciseDateTime local) {
    if (naming_) {
        // Every file numbered, the first too, and the numbers rising through the whole series
        // even where the name's tenth of a minute changes.
        handedOut_ = observationNumber_;
        return numberedObservationPath(
            naming_->folder,
            observationStem(toUtc(local, naming_->utcOffsetSeconds).dateTime(), naming_->target,
                            naming_->filter),
            naming_->ext, handedOut_);
    }
    const int32_t from = stillPath_ == lastPath_ ? lastNumber_ : 0;
    lastPath_ = stillPath_;
    lastNumber_ = firstFreeNumber(stillPath_, from);
    return numberedName(stillPath_, lastNumber_);
}

bool StillSeriesWriter::writeFits(const Frame& frame, std::string* written,
                                  const std::string& moreCards) {
    const std::string path = nextPath(frame.timeStamp);
    if (written) *written = path;
    if (!writeFitsFile(path, frame, error_, moreCards)) return false;
    observationNumber_ = handedOut_ + 1;
    return true;
}

bool StillSeriesWriter::writeBmp(const cv::Mat& image, std::string* written,
                                 PreciseDateTime local) {
    const std::string path = nextPath(local);
    if (written) *written = path;
    if (image.empty() || image.depth() != CV_8U ||
        (image.channels() != 1 && image.channels() != 3)) {
        error_ = "Cannot save \"" + path + "\": the image is not an 8-bit grey or colour image";
        return false;
    }
    // Encoded in memory and written with checked calls: the library's own file writing
    // does not report a full disk.
    std::vector<uchar> bytes;
    bool encoded = false;
    try {
        encoded = cv::imencode(".bmp", image, bytes);
    } catch (const cv::Exception&) {
        encoded = false;
    }
    if (!encoded) {
        error_ = "Cannot encode the image for \"" + path + "\"";
        return false;
    }
    OutFile file;
    if (!file.create(path, OutFile::Mode::WholeAtClose) ||
        !file.write(bytes.data(), bytes.size()) || !file.close()) {
        error_ = file.error();
        file.discard();
        return false;
    }
    observationNumber_ = handedOut_ + 1;
    return true;
}
