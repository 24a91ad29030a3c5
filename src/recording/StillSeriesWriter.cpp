#include "recording/StillSeriesWriter.h"

#include <opencv2/imgcodecs.hpp>
#include <vector>

#include "recording/FileNames.h"
#include "recording/FitsFormat.h"
#include "recording/OutFile.h"
#include "recording/SessionRecord.h"

void StillSeriesWriter::begin(const std::string& stillPath) {
    stillPath_ = stillPath;
}

std::string StillSeriesWriter::nextPath(LocalDateTime local) {
    if (naming_)
        return FreeObservationPath(naming_->folder,
                                   ObservationStem(ToUtc(local, naming_->utcOffsetSeconds),
                                                   naming_->target, naming_->filter),
                                   naming_->ext);
    const int32_t from = stillPath_ == lastPath_ ? lastNumber_ : 0;
    lastPath_ = stillPath_;
    lastNumber_ = FirstFreeNumber(stillPath_, from);
    return NumberedName(stillPath_, lastNumber_);
}

bool StillSeriesWriter::writeFits(const Frame& frame, std::string* written,
                                  const std::string& moreCards) {
    const std::string path = nextPath(frame.TimeStamp);
    if (written) *written = path;
    return WriteFitsFile(path, frame, error_, moreCards);
}

bool StillSeriesWriter::writeBmp(const cv::Mat& image, std::string* written, LocalDateTime local) {
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
    if (!file.Create(path) || !file.Write(bytes.data(), bytes.size()) || !file.Close()) {
        error_ = file.Error();
        file.Discard();
        return false;
    }
    return true;
}
