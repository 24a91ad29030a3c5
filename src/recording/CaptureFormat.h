#pragma once
// The kinds of output a capture makes, and what the recording controller has open.
// Both live only in memory; nothing stored (settings, files) holds their values.

// The output format chosen in the format menus.
enum class CaptureFormat { Avi, Fit, Ser, Bmp };

// "AVI", "FIT", "SER", "BMP".
inline const char* formatName(CaptureFormat format) {
    switch (format) {
        case CaptureFormat::Avi:
            return "AVI";
        case CaptureFormat::Fit:
            return "FIT";
        case CaptureFormat::Ser:
            return "SER";
        case CaptureFormat::Bmp:
            return "BMP";
    }
    return "";
}

// What the recording controller has set up.
enum class WriterState {
    None,    // nothing: no recording runs
    Stills,  // a FIT or BMP series: one file per frame, none held open
    Ser,     // a SER file is open
    Avi,     // an AVI recording is open
};
