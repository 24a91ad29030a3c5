#include "recording/RecordingOutput.h"

#include <cerrno>
#include <cstring>

#include "recording/FileNames.h"
#include "recording/Log.h"

namespace {

// AVI and BMP take the 8-bit view, which the window thread made only for the frames it
// showed or counted; with colour frames the demosaiced image.
const cv::Mat& eightBitImage(Frame& frame, bool colour) {
    if (frame.image8.empty()) prepareImage8(frame);
    if (colour) {
        ensureColorImage(frame);
        return frame.colorImage;
    }
    return frame.image8.empty() ? frame.rawImage : frame.image8;
}

class SerOutput final : public RecordingOutput {
  public:
    explicit SerOutput(SerWriter& writer) : ser_(writer) {}
    bool open(const OutputSetup& setup) override {
        return ser_.open(setup.path, setup.width, setup.height, setup.depth, setup.texts);
    }
    bool write(Frame& frame, const std::function<std::string()>&, FrameWritten& written) override {
        if (!ser_.writeFrame(frame)) return false;
        written.bytes = frame.rawImage.total() * frame.rawImage.elemSize();
        written.file = ser_.path();
        return true;
    }
    bool close(const std::string& finalPath) override { return ser_.close(finalPath); }
    const std::string& error() const override { return ser_.error(); }
    std::string path() const override { return ser_.path(); }
    std::string closedPath(const std::string&) const override { return ser_.closedPath(); }
    std::vector<std::string> closedFiles(const std::vector<std::string>&) const override {
        return {ser_.closedPath()};
    }
    bool fixedFrameSize() const override { return true; }

  private:
    SerWriter& ser_;
};

class AviOutput final : public RecordingOutput {
  public:
    AviOutput(AviWriter& writer,
              const std::function<bool(const std::string&, const std::string&)>& renamePart)
        : avi_(writer), renamePart_(renamePart) {}
    bool open(const OutputSetup& setup) override {
        colorFrames_ = setup.colorFrames;
        return avi_.open(setup.path, setup.width, setup.height, setup.colorCamera);
    }
    bool write(Frame& frame, const std::function<std::string()>&, FrameWritten& written) override {
        const cv::Mat& image = eightBitImage(frame, colorFrames_);
        if (!avi_.writeFrame(image)) return false;
        written.bytes = image.total() * image.channels();
        written.file = avi_.path();
        return true;
    }
    bool close(const std::string& finalPath) override {
        const std::string provisional = avi_.path();
        const int32_t parts = avi_.partNumber() - 1;
        if (!avi_.close()) return false;
        closed_ = provisional;
        parts_ = parts;
        // Every part is complete (and out of the journal): a crash before or during the
        // renames leaves parts under the provisional name, each a whole file.
        if (!finalPath.empty() && finalPath != provisional) {
            bool renamed = true;
            for (int32_t part = 1; part <= parts && renamed; ++part)
                renamed = renamePart_(aviPartName(provisional, part), aviPartName(finalPath, part));
            if (renamed)
                closed_ = finalPath;
            else
                qCWarning(lcRecording, "Cannot rename the parts of \"%s\": %s", provisional.c_str(),
                          std::strerror(errno));
        }
        return true;
    }
    const std::string& error() const override { return avi_.error(); }
    std::string path() const override { return avi_.path(); }
    std::string closedPath(const std::string&) const override { return closed_; }
    std::vector<std::string> closedFiles(const std::vector<std::string>&) const override {
        std::vector<std::string> files;
        for (int32_t part = 1; part <= parts_; ++part) files.push_back(aviPartName(closed_, part));
        return files;
    }
    bool fixedFrameSize() const override { return true; }

  private:
    AviWriter& avi_;
    int32_t parts_ = 0;  // the parts of the closed recording
    const std::function<bool(const std::string&, const std::string&)>& renamePart_;
    bool colorFrames_ = false;
    std::string closed_;
};

class StillOutput final : public RecordingOutput {
  public:
    StillOutput(StillSeriesWriter& writer, bool fits) : stills_(writer), fits_(fits) {}
    bool open(const OutputSetup& setup) override {
        colorFrames_ = setup.colorFrames;
        stills_.begin(setup.path);
        stills_.setObservationNaming(setup.naming);
        return true;
    }
    bool write(Frame& frame, const std::function<std::string()>& cards,
               FrameWritten& written) override {
        if (fits_) {
            if (!stills_.writeFits(frame, &written.file, cards ? cards() : std::string()))
                return false;
            written.bytes = frame.rawImage.total() * frame.rawImage.elemSize();
            return true;
        }
        const cv::Mat& image = eightBitImage(frame, colorFrames_);
        if (!stills_.writeBmp(image, &written.file, frame.timeStamp)) return false;
        written.bytes = image.total() * image.channels();
        return true;
    }
    bool close(const std::string&) override { return true; }
    const std::string& error() const override { return stills_.error(); }
    std::string path() const override { return std::string(); }
    std::string closedPath(const std::string& first) const override { return first; }
    std::vector<std::string> closedFiles(const std::vector<std::string>& written) const override {
        return written;
    }
    bool fixedFrameSize() const override { return false; }

  private:
    StillSeriesWriter& stills_;
    bool fits_;
    bool colorFrames_ = false;
};

std::unique_ptr<RecordingOutput> serOutput(RecordingWriters& w) {
    return std::make_unique<SerOutput>(w.ser);
}
std::unique_ptr<RecordingOutput> aviOutput(RecordingWriters& w) {
    return std::make_unique<AviOutput>(w.avi, w.renamePart);
}
std::unique_ptr<RecordingOutput> fitOutput(RecordingWriters& w) {
    return std::make_unique<StillOutput>(w.stills, true);
}
std::unique_ptr<RecordingOutput> bmpOutput(RecordingWriters& w) {
    return std::make_unique<StillOutput>(w.stills, false);
}

const FormatInfo kFormats[] = {
    {CaptureFormat::Ser, "SER", ".SER", ".ser", true, "SER8bit1", "    SER", "SER1", serOutput},
    {CaptureFormat::Avi, "AVI", ".AVI", ".avi", true, "AVI2", "    AVI", "AVI1", aviOutput},
    {CaptureFormat::Fit, "FIT", ".FIT", ".fit", false, "FIT1", "    FIT", "FIT2", fitOutput},
    {CaptureFormat::Bmp, "BMP", ".BMP", ".bmp", false, "BMP1", "    BMP", "BMP2", bmpOutput},
};
}  // namespace

std::span<const FormatInfo> captureFormats() {
    return kFormats;
}

const FormatInfo& formatInfo(CaptureFormat format) {
    for (const FormatInfo& info : kFormats)
        if (info.format == format) return info;
    return kFormats[0];
}
