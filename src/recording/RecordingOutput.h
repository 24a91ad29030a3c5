#pragma once
// What one recording writes into, behind one interface: a SER file, an AVI recording in
// parts, or a FIT or BMP series of still files. The recording controller opens an output
// on the window thread, the writer thread writes every recorded frame into it and closes
// it under its final name; the controller never asks which kind it has.
//
// The outputs wrap the program's three writers (SerWriter, AviWriter, StillSeriesWriter),
// which keep their settings (the AVI codec, the recovery journal) from one recording to
// the next; an output is made for each recording by its format's factory in the format
// table (captureFormats()).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/Frame.h"
#include "recording/AviWriter.h"
#include "recording/CaptureFormat.h"
#include "recording/OutFile.h"
#include "recording/SerWriter.h"
#include "recording/SessionRecord.h"
#include "recording/StillSeriesWriter.h"

class RecoveryJournal;

// The writers that outlive one recording, owned by the recording controller.
struct RecordingWriters {
    SerWriter ser;
    AviWriter avi;
    StillSeriesWriter stills;
    // Renames a closed AVI part to its observation name, never over an existing file.
    std::function<bool(const std::string& from, const std::string& to)> renamePart =
        renameNoReplace;
};

// How an output is opened.
struct OutputSetup {
    // A SER or AVI recording: its file (the provisional name under observation names). A
    // series: the still path (capture path + ".FIT" or ".BMP").
    std::string path;
    int32_t width = 0, height = 0, depth = 8;  // SER and AVI
    bool colorCamera = false;                  // AVI: a colour recording
    bool colorFrames = false;                  // AVI and BMP: the demosaiced colour image
    SerTexts texts;                            // the SER header's texts
    // A series named after each frame's exposure start (observation names).
    std::optional<StillSeriesWriter::ObservationNaming> naming;
};

// One frame written: the image bytes it took and the file it went into.
struct FrameWritten {
    uint64_t bytes = 0;
    std::string file;
};

class RecordingOutput {
  public:
    virtual ~RecordingOutput() = default;

    // Window thread. False, with error() set, when nothing could be opened.
    virtual bool open(const OutputSetup& setup) = 0;
    // Writer thread: one frame; `cards` are the FITS cards of its session (only asked for
    // by a FIT series). False, with error() set, when the frame was not written.
    virtual bool write(Frame& frame, const std::function<std::string()>& cards,
                       FrameWritten& written) = 0;
    // Writer thread: closes the output, then renames it to `finalPath` when one is given
    // (never over an existing file). False, with error() set, when it could not be
    // finished; a failed rename leaves it complete under its first name.
    virtual bool close(const std::string& finalPath) = 0;

    virtual const std::string& error() const = 0;
    // The file open now (a SER or AVI recording), "" for a series.
    virtual std::string path() const = 0;
    // Where the output lies once closed; for a series its first file (given in `first`).
    virtual std::string closedPath(const std::string& first) const = 0;
    // Every file the closed output consists of: the SER file, each AVI part, each file of a
    // series (the files its frames went into, given in `written`, in order).
    virtual std::vector<std::string> closedFiles(const std::vector<std::string>& written) const = 0;
    // Frames must have the size the output was opened with (a series takes any).
    virtual bool fixedFrameSize() const = 0;
};

// The output of a format, over the program's writers (its table entry's factory).
inline std::unique_ptr<RecordingOutput> makeOutput(CaptureFormat format,
                                                   RecordingWriters& writers) {
    return formatInfo(format).makeOutput(writers);
}
