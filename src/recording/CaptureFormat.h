#pragma once
// The kinds of output a capture makes: one table of formats, and what the recording
// controller has open. Both live only in memory; nothing stored (settings, files) holds
// their values.
#include <memory>
#include <span>

class RecordingOutput;
struct RecordingWriters;

// The output format chosen in the format menus.
enum class CaptureFormat { Avi, Fit, Ser, Bmp };

// One output format: what the menus show of it, what its files are called, and whether it
// is a sequence (one file for the whole recording, the left capture button) or a series
// (one file per frame, the right one), and the factory of its output.
struct FormatInfo {
    CaptureFormat format;
    const char* name;       // "SER": the capture button's caption and the capture log's word
    const char* extension;  // ".SER": of the numbered names ("moon_00001.SER")
    const char* observationExtension;  // ".ser": of the observation names
    bool sequence;
    // The item in the capture buttons' pop-up menu, and its twin in the menu bar's
    // "Set Capture Format" menu (which lists the formats by name).
    const char* popupObjectName;
    const char* popupCaption;
    const char* menuObjectName;
    // The output a recording of this format writes into, over the program's writers.
    std::unique_ptr<RecordingOutput> (*makeOutput)(RecordingWriters& writers);
};

// Every format, in the order of the capture buttons' pop-up menu.
std::span<const FormatInfo> captureFormats();
const FormatInfo& formatInfo(CaptureFormat format);

// "AVI", "FIT", "SER", "BMP".
inline const char* formatName(CaptureFormat format) {
    return formatInfo(format).name;
}
inline bool isSequence(CaptureFormat format) {
    return formatInfo(format).sequence;
}

// What the recording controller has set up.
enum class WriterState {
    None,    // nothing: no recording runs
    Stills,  // a FIT or BMP series: one file per frame, none held open
    Ser,     // a SER file is open
    Avi,     // an AVI recording is open
};
