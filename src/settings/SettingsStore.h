#pragma once
// The values that survive from one run to the next (group "TarviVideo2R" of the settings
// file): exposure length, frame count, capture path, gain and the subframe's place, kept as
// texts.
// They are read once while the main window is created and written once when the
// program halts.
#include <QSettings>
#include <QString>
#include <cstdint>

#include "recording/SessionRecord.h"

inline constexpr char kSettingsGroup[] = "TarviVideo2R";

// The stored text of `name`, or `def` when the store, the value or the group is missing,
// unreadable, or holds something that is not a plain text.
QString readSetting(QSettings& store, const QString& name, const QString& def);
// Stores `value` as text under `name`; an empty name is ignored. Failures surface when
// the batch is flushed (flushSettings).
void writeSetting(QSettings& store, const QString& name, const QString& value);
// Writes the batch to disk; false when the file could not be created or written.
bool flushSettings(QSettings& store);

// A text that is a decimal integer: optional blanks around it, an optional sign and
// digits, within 32 bits. "007" gives 7; "", "12a", "0x10", "1e3" are not decimal.
bool parseDecimal(const QString& text, int32_t* value);
// parseDecimal, or `def` when the text is not a decimal integer.
int32_t decimalOr(const QString& text, int32_t def);

// The keys of the four values in group kSettingsGroup.
inline constexpr char kExposureLengthKey[] = "EXPOLENGTH";
inline constexpr char kFrameCountKey[] = "EXPOCOUNT";
inline constexpr char kCapturePathKey[] = "FILENAME";
inline constexpr char kGainKey[] = "GAIN";
// The exposure length in microseconds, beside EXPOLENGTH's whole milliseconds (which a
// program that knows no fractions reads and writes alone).
inline constexpr char kExposureMicrosKey[] = "EXPOLENGTHUS";
// Where the subframe lies on the sensor as last asked for: left column and top row.
inline constexpr char kSubframeLeftKey[] = "SUBFRAMELEFT";
inline constexpr char kSubframeTopKey[] = "SUBFRAMETOP";

// The four values with their defaults.
struct StoredSettings {
    // Stored as EXPOLENGTH, rounded to whole ms (at least 1), and EXPOLENGTHUS; read from
    // EXPOLENGTHUS only while it rounds to EXPOLENGTH (a program that knows no fractions
    // may have written EXPOLENGTH since).
    int64_t exposureUs = 100'000;
    // The frame count field's text as typed: an emptied field is stored empty.
    QString frameCountText = QStringLiteral("1");
    QString capturePath;
    int32_t gain = 10;
    // The subframe's left column and top row on the sensor; -1: centred in that direction.
    int32_t subframeLeft = -1;
    int32_t subframeTop = -1;
};

// Reads the four values in the order above from the settings file; a stored exposure or
// gain that is not a decimal integer counts as missing.
StoredSettings readStoredSettings();
// Writes the four values in the order above to the settings file (all as texts);
// false when the file could not be written (the values are then lost).
bool writeStoredSettings(const StoredSettings& values);

// The memory a recording's writer queue may hold, in bytes: the value WRITERQUEUEMIB (MiB,
// read only, never written back) when it is a positive decimal, else the smaller of 1 GiB
// and a quarter of the physical memory.
uint64_t readWriterQueueBytes();

// The sample depth of recordings the user chose ("8 bit" / "16 bit"): 8 or 16, 8 when
// nothing valid is stored. Kept under group "Capture", written at once.
int32_t readSampleDepth();
bool writeSampleDepth(int32_t bits);

// The session details (group "Session"): target, observer, telescope, filter and the site;
// a site value that is not a valid coordinate counts as not set.
SessionDetails readSessionDetails();
bool writeSessionDetails(const SessionDetails& details);

// The choices of the "Capture Files" menu kept under group "Capture", written at once:
// whether a capture log is written (on when nothing is stored) and whether recordings
// take observation names (off when nothing is stored).
bool readCaptureLogOn();
bool writeCaptureLogOn(bool on);
bool readObservationNames();
bool writeObservationNames(bool on);
// Whether "Camera Setup > Track Planet" is on (off when nothing is stored), under group
// "Capture", written at once.
bool readTrackPlanet();
bool writeTrackPlanet(bool on);
// Whether "Camera Setup > Steady Preview" is on (off when nothing is stored), the same way.
bool readSteadyPreview();
bool writeSteadyPreview(bool on);

// The sharp-seeing choices of "Capture Files" (group "Capture", written at once): "Keep
// Sharpest Frames" and the share of each second it keeps, "Start When Sharp" and the
// percentile of the last minute's seeing figures the seeing must stay above. Off, 25 % and
// the 75th percentile when nothing valid is stored; the numbers lie within 1 to 100 and 1 to
// 99.
struct SharpnessChoices {
    bool keepSharpest = false;
    int keepPercent = 25;
    bool startWhenSharp = false;
    int sharpPercentile = 75;
};
SharpnessChoices readSharpnessChoices();
bool writeSharpnessChoices(const SharpnessChoices& choices);

// The on-screen keyboard's settings, under group "Palvid". Reading gives `def` when the
// value is missing or the file cannot be read; writing an empty name does nothing and
// returns false, as it does when the value did not reach the file.
QString readKeyboardSetting(const QString& name, const QString& def);
bool writeKeyboardSetting(const QString& name, const QString& value);
