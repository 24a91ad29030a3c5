#pragma once
// What a night's files say about themselves: the session details the user typed (target,
// observer, telescope, filter, site), the facts of each recording taken when it starts
// (camera, geometry, exposure, gain, the disk), the settings changed while it ran, and
// what comes of them: the SER header texts, the FITS cards, the capture log beside each
// recording and the observation names built from the UTC time, the target and the filter.
// No window and no Qt here.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "recording/RecordingGaps.h"

struct SessionDetails {
    std::string target;  // the object observed
    std::string observer;
    std::string telescope;
    // The filter typed by the user; a filter wheel, once one is connected, supplies the
    // filter instead (RecordingFacts::filter is what a recording used).
    std::string filter;
    // The site, in degrees: north and east positive. Both or neither.
    std::optional<double> latitude;
    std::optional<double> longitude;
};

// A coordinate in decimal degrees ("48.8566", "-2.35", blanks around it allowed) within
// +-`limit` (90 for a latitude, 180 for a longitude). Empty text is no value and valid.
// False for anything else.
bool parseDegrees(const std::string& text, double limit, std::optional<double>& value);

// Text that a header field may hold: every character outside printable ASCII (a control
// character, or each UTF-8 sequence as a whole) becomes '?'; leading and trailing blanks go.
std::string asciiText(const std::string& utf8);
// A part of a file name: letters, digits, '+' and '.' stay, every other character (and each
// UTF-8 sequence as a whole) becomes '_'; a '-' too, since it separates the name's fields.
std::string fileNameText(const std::string& utf8);

// The facts of a recording as it starts. Times are LocalDateTime in local time; the offset
// turns them into UTC.
struct RecordingFacts {
    std::string program;  // name and version
    std::string camera;
    std::string cameraLibrary;
    int32_t sensorWidth = 0, sensorHeight = 0;
    int32_t width = 0, height = 0;  // the subframe recorded
    int32_t depth = 8;
    // Significant bits of the camera's samples (16-bit files store fewer at full scale); 0
    // when not known.
    int32_t cameraBits = 0;
    std::string pattern;    // "RGGB" and so on, "" for mono
    double exposureMs = 0;  // with its fraction: 0.05 for 50 microseconds
    int32_t gain = 0;
    std::optional<double> cameraGain;            // the gain in the camera's own units, when it says
    double pixelWidthUm = 0, pixelHeightUm = 0;  // 0: not known
    int32_t balanceRed = 0, balanceGreen = 0, balanceBlue = 0;
    bool colorCamera = false;
    bool flip = false;
    SessionDetails session;
    std::string filter;  // the filter in use: the session's, or the wheel's
    int32_t utcOffsetSeconds = 0;
    LocalDateTime startLocal = 0.0;
    std::optional<uint64_t> freeDiskBytes;
    // The camera's own controls in force as the recording starts, caption and value
    // ("Offset", "12"), for the log; those the FITS cards carry besides: the binning, the
    // offset, the sensor's temperature and the cooler's set point while it cools.
    std::vector<std::pair<std::string, std::string>> cameraControls;
    int32_t binning = 1;
    std::optional<double> offset, sensorTemperature, targetTemperature;
};

struct SettingChange {
    LocalDateTime local = 0.0;
    std::string name;
    std::string value;
};

// How a recording went, known at its end.
struct RecordingResult {
    // The recording's name (a SER file, the name an AVI's parts are made from, a series'
    // first file): the log is named after it.
    std::string file;
    // Every file written: the SER file, each AVI part, each file of a series.
    std::vector<std::string> files;
    std::string format;
    int64_t frames = 0;
    GapReport gaps;
    // Exposure starts of the first and last frame written (local), when any was.
    std::optional<PreciseDateTime> firstFrame, lastFrame;
    LocalDateTime endLocal = 0.0;
    // The program's own clock (local): when the recording began taking frames, how long it
    // took them, and frames over that time: the figures of the "Last Capture" summary.
    std::optional<PreciseDateTime> recordingStart;
    double recordingSeconds = 0.0;
    double recordingRate = 0.0;
    std::vector<SettingChange> changes;
    // The frames' seeing figures: how the frames were chosen ("every frame", "sharpest 25 %
    // of each second", after "waiting for sharp seeing"), the median and best figure of the
    // frames written, and the side file that lists them ("" when none was written).
    std::string selection;
    std::optional<double> qualityMedian, qualityBest;
    std::string qualityFile;
};

// Local date-time to UTC with the offset (seconds east of UTC).
LocalDateTime toUtc(LocalDateTime local, int32_t utcOffsetSeconds);
PreciseDateTime toUtc(PreciseDateTime local, int32_t utcOffsetSeconds);
// "2026-12-09T21:32:24.123456": ISO 8601 to the nearest microsecond, the precision of a
// camera's exposure start, no zone letter (FITS DATE-OBS form).
std::string isoDateTime(PreciseDateTime t);

// The middle of the recording in local time: between the first frame's exposure start and
// the last frame's exposure end; the start time when no frame was written.
PreciseDateTime recordingMiddle(const RecordingFacts& facts, const RecordingResult& result);

// SER header texts: the observer, the camera and filter ("Camera, filter R"), the
// telescope; "" for a field nothing was set for (the writer then keeps its fixed word).
// The instrument fits the header's 40 characters with the filter whole: the camera name
// is cut to the room left before ", filter R".
struct SerTexts {
    std::string observer, instrument, telescope;
};
SerTexts serTextsOf(const RecordingFacts& facts);

// The cards a FITS frame carries about its session and exposure: OBJECT, OBSERVER, TELESCOP,
// INSTRUME, FILTER where set, SITELAT and SITELONG (decimal degrees) when the site is set,
// then DATE-OBS (the frame's exposure start in UTC), DATE-END (its exposure end: start plus
// the exposure length), EXPTIME, GAIN, XBINNING and YBINNING, XPIXSZ and YPIXSZ when the
// camera reports its pixels, and OFFSET, CCD-TEMP and SET-TEMP (degrees Celsius) where the
// camera's controls tell them. Appended as 80-byte cards to `header`.
void appendSessionCards(std::string& header, const RecordingFacts& facts,
                        PreciseDateTime frameLocal, int32_t gain);

// Takes the camera's controls of the facts from the controls in force.
struct CameraControl;
void takeControlFacts(RecordingFacts& facts, const std::vector<CameraControl>& controls);

// The capture log: "key: value" lines, one fact per line ("File" once for each file), the
// times and rate of the frames' own stamps and those of the program's clock, the settings
// changed during the recording last ("Change: <UTC time> <name> = <value>").
std::string captureLogText(const RecordingFacts& facts, const RecordingResult& result);
// Where a recording's log goes: the recording's whole name, extension included, and ".txt"
// ("moon_00000.SER.txt", "moon_00000.FIT.txt" for a series whose first file is
// moon_00000.FIT). Recordings never share a name, whatever their format, so neither do
// their logs; for a name taken all the same (a log left behind by a file since removed)
// "-1.txt", "-2.txt" and so on (a log never replaces another one).
std::string captureLogPath(const std::string& recordingPath);
// Writes the log; false with `error` set when it could not be written.
bool writeCaptureLog(const std::string& path, const std::string& text, std::string& error);

// The observation name's stem of a UTC time, target and filter: "2026-12-09-2132_4-Jupiter-R"
// (date, hours and minutes, tenths of a minute; target and filter left out when empty).
std::string observationStem(LocalDateTime utc, const std::string& target,
                            const std::string& filter);
// `folder`/`stem``ext`, or with "_1", "_2"... before the extension when that name is taken
// (for ".avi" also by part files of it). `ext` starts with the dot.
std::string freeObservationPath(const std::string& folder, const std::string& stem,
                                const std::string& ext);
// `folder`/`stem`_<number>`ext` for the first number from `number` on whose name is not
// taken (as above); `number` becomes the one used. The files of a FIT/BMP series are all
// numbered this way, from 1, so that tools reading numbered sequences take every file.
std::string numberedObservationPath(const std::string& folder, const std::string& stem,
                                    const std::string& ext, int32_t& number);
