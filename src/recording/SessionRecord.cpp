#include "recording/SessionRecord.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "acquisition/CameraControls.h"
#include "acquisition/tarvidll.h"
#include "platform/DateTime.h"
#include "platform/Rounding.h"
#include "recording/FileNames.h"
#include "recording/FitsFormat.h"
#include "recording/OutFile.h"

namespace {
// Length of the UTF-8 sequence that starts with `lead`; 1 for a stray byte.
size_t sequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    return 1;
}

// Each ASCII character through `keep` (which gives the replacement for one it does not
// keep), each non-ASCII sequence as `other`.
template <typename Keep>
std::string mapCharacters(const std::string& utf8, char other, Keep keep) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += keep(static_cast<char>(c));
            ++i;
            continue;
        }
        size_t n = sequenceLength(c);
        // A cut-off sequence counts as far as its continuation bytes go.
        size_t k = 1;
        while (k < n && i + k < utf8.size() &&
               (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80)
            ++k;
        out += other;
        i += k;
    }
    return out;
}

std::string trimmed(const std::string& s) {
    const size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

std::string number(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

void line(std::string& out, const std::string& key, const std::string& value) {
    out += key + ": " + value + "\n";
}

PreciseDateTime exposureEnd(PreciseDateTime start, double exposureMs) {
    return PreciseDateTime::fromTicks(
        start.ticks() + std::llround(exposureMs * PreciseDateTime::kTicksPerMillisecond));
}
}  // namespace

bool parseDegrees(const std::string& text, double limit, std::optional<double>& value) {
    const std::string t = trimmed(text);
    if (t.empty()) {
        value.reset();
        return true;
    }
    // Digits with at most one decimal point, an optional sign: nothing the C library would
    // also take (exponents, "inf", hexadecimal).
    size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
    int digits = 0, points = 0;
    for (size_t k = i; k < t.size(); ++k) {
        if (t[k] >= '0' && t[k] <= '9')
            ++digits;
        else if (t[k] == '.' && ++points == 1)
            continue;
        else
            return false;
    }
    if (digits == 0) return false;
    const double v = std::strtod(t.c_str(), nullptr);
    if (!std::isfinite(v) || std::fabs(v) > limit) return false;
    value = v;
    return true;
}

std::string asciiText(const std::string& utf8) {
    return trimmed(mapCharacters(utf8, '?', [](char c) { return c < 32 || c == 127 ? '?' : c; }));
}

std::string fileNameText(const std::string& utf8) {
    return mapCharacters(trimmed(utf8), '_', [](char c) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '+' || c == '.';
        return keep ? c : '_';
    });
}

LocalDateTime toUtc(LocalDateTime local, int32_t utcOffsetSeconds) {
    return local - utcOffsetSeconds / 86400.0;
}

PreciseDateTime toUtc(PreciseDateTime local, int32_t utcOffsetSeconds) {
    return PreciseDateTime::fromTicks(local.ticks() -
                                      int64_t{utcOffsetSeconds} * PreciseDateTime::kTicksPerSecond);
}

std::string isoDateTime(PreciseDateTime t) {
    // The nearest microsecond (halves up), as the whole second and the microseconds in it;
    // the calendar parts come from the whole second, which a LocalDateTime holds to well
    // within the millisecond that decodeDateTime rounds to.
    constexpr int64_t kPerSecond = 1'000'000;
    const int64_t us = floorDiv(t.ticks() + 5, 10);
    const int64_t seconds = floorDiv(us, kPerSecond);
    const DateTimeParts p = decodeDateTime(
        PreciseDateTime::fromTicks(seconds * PreciseDateTime::kTicksPerSecond).dateTime());
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%06lld", p.year, p.month, p.day,
                  p.hour, p.minute, p.second, static_cast<long long>(us - seconds * kPerSecond));
    return buf;
}

PreciseDateTime recordingMiddle(const RecordingFacts& facts, const RecordingResult& result) {
    if (!result.firstFrame || !result.lastFrame) return facts.startLocal;
    const int64_t first = result.firstFrame->ticks();
    const int64_t end = exposureEnd(*result.lastFrame, facts.exposureMs).ticks();
    return PreciseDateTime::fromTicks(first + floorDiv(end - first, 2));
}

SerTexts serTextsOf(const RecordingFacts& facts) {
    SerTexts t;
    t.observer = asciiText(facts.session.observer);
    t.telescope = asciiText(facts.session.telescope);
    const std::string camera = asciiText(facts.camera);
    const std::string filter = asciiText(facts.filter);
    // The field holds 40 characters: the filter is what tells recordings of one night
    // apart, so it stays whole and the camera name is cut to the room left before it.
    constexpr size_t kField = 40;
    if (filter.empty()) {
        t.instrument = camera.substr(0, std::min(camera.size(), kField));
        return t;
    }
    const std::string filterText = ("filter " + filter).substr(0, kField);
    const std::string separator = ", ";
    if (camera.empty() || filterText.size() + separator.size() >= kField) {
        t.instrument = filterText;
        return t;
    }
    const size_t room = kField - filterText.size() - separator.size();
    t.instrument =
        trimmed(camera.substr(0, std::min(camera.size(), room))) + separator + filterText;
    return t;
}

void appendSessionCards(std::string& header, const RecordingFacts& facts,
                        PreciseDateTime frameLocal, int32_t gain) {
    const struct {
        const char* keyword;
        std::string text;
    } texts[] = {{"OBJECT", asciiText(facts.session.target)},
                 {"OBSERVER", asciiText(facts.session.observer)},
                 {"TELESCOP", asciiText(facts.session.telescope)},
                 {"INSTRUME", asciiText(facts.camera)},
                 {"FILTER", asciiText(facts.filter)}};
    for (const auto& t : texts)
        if (!t.text.empty()) fitsStringCard(header, t.keyword, t.text);
    // The site in decimal degrees, north and east positive, as the session holds it.
    if (facts.session.latitude && facts.session.longitude) {
        fitsValueCard(header, "SITELAT", number("%.6f", *facts.session.latitude));
        fitsValueCard(header, "SITELONG", number("%.6f", *facts.session.longitude));
    }
    fitsStringCard(header, "DATE-OBS", isoDateTime(toUtc(frameLocal, facts.utcOffsetSeconds)));
    fitsStringCard(
        header, "DATE-END",
        isoDateTime(toUtc(exposureEnd(frameLocal, facts.exposureMs), facts.utcOffsetSeconds)));
    fitsValueCard(header, "EXPTIME", number("%.6f", facts.exposureMs / 1000.0));
    fitsValueCard(header, "GAIN", std::to_string(gain));
    fitsValueCard(header, "XBINNING", std::to_string(facts.binning));
    fitsValueCard(header, "YBINNING", std::to_string(facts.binning));
    if (facts.pixelWidthUm > 0 && facts.pixelHeightUm > 0) {
        fitsValueCard(header, "XPIXSZ", number("%.3f", facts.pixelWidthUm));
        fitsValueCard(header, "YPIXSZ", number("%.3f", facts.pixelHeightUm));
    }
    if (facts.offset) fitsValueCard(header, "OFFSET", number("%g", *facts.offset));
    if (facts.sensorTemperature)
        fitsValueCard(header, "CCD-TEMP", number("%.2f", *facts.sensorTemperature));
    if (facts.targetTemperature)
        fitsValueCard(header, "SET-TEMP", number("%.2f", *facts.targetTemperature));
}

void takeControlFacts(RecordingFacts& facts, const std::vector<CameraControl>& controls) {
    facts.cameraControls.clear();
    for (const CameraControl& c : controls)
        if (shownInPanel(c) && c.kind != ControlKind::Action && c.value)
            facts.cameraControls.emplace_back(c.caption, controlValueText(c));
    const auto valueOf = [&](int role) -> std::optional<double> {
        const CameraControl* c = controlOfRole(controls, role);
        return c ? c->value : std::nullopt;
    };
    const std::optional<double> binning = valueOf(TARVI_ROLE_BINNING);
    facts.binning = binning && *binning >= 1 ? static_cast<int32_t>(std::lround(*binning)) : 1;
    facts.offset = valueOf(TARVI_ROLE_OFFSET);
    facts.sensorTemperature = valueOf(TARVI_ROLE_SENSOR_TEMPERATURE);
    // The set point says something only while the cooler works towards it.
    const std::optional<double> cooler = valueOf(TARVI_ROLE_COOLER);
    facts.targetTemperature =
        !cooler || *cooler != 0 ? valueOf(TARVI_ROLE_TARGET_TEMPERATURE) : std::nullopt;
}

std::string captureLogText(const RecordingFacts& f, const RecordingResult& r) {
    // In ticks until printed: a LocalDateTime's sums would stray by a microsecond.
    auto utc = [&](PreciseDateTime local) {
        return isoDateTime(toUtc(local, f.utcOffsetSeconds)) + "Z";
    };
    std::string out;
    line(out, "Program", f.program);
    line(out, "Recording", r.file);
    line(out, "Files", std::to_string(r.files.size()));
    for (const std::string& file : r.files) line(out, "File", file);
    line(out, "Format", r.format);
    line(out, "Camera", f.camera);
    line(out, "Camera library", f.cameraLibrary);
    line(out, "Sensor", std::to_string(f.sensorWidth) + "x" + std::to_string(f.sensorHeight));
    line(out, "Subframe", std::to_string(f.width) + "x" + std::to_string(f.height));
    std::string depth = std::to_string(f.depth) + " bits";
    if (f.depth == 16 && f.cameraBits > 8 && f.cameraBits < 16)
        depth += " (the camera's " + std::to_string(f.cameraBits) + "-bit samples shifted up by " +
                 std::to_string(16 - f.cameraBits) + " bits)";
    line(out, "Depth", depth);
    line(out, "Colour", f.pattern.empty() ? "mono" : f.pattern);
    line(out, "Exposure", number("%.3f", f.exposureMs) + " ms");
    line(out, "Gain",
         std::to_string(f.gain) +
             (f.cameraGain ? " (" + number("%g", *f.cameraGain) + " in the camera's units)" : ""));
    if (f.pixelWidthUm > 0 && f.pixelHeightUm > 0)
        line(out, "Pixel size",
             number("%g", f.pixelWidthUm) + " x " + number("%g", f.pixelHeightUm) + " µm");
    line(out, "White balance",
         f.colorCamera ? "R " + std::to_string(f.balanceRed) + ", G " +
                             std::to_string(f.balanceGreen) + ", B " + std::to_string(f.balanceBlue)
                       : "none");
    line(out, "Flip", f.flip ? "horizontal" : "none");
    for (const auto& [caption, value] : f.cameraControls)
        line(out, "Control", caption + " = " + value);
    line(out, "Frames", std::to_string(r.frames));
    line(out, "Failed exposures", std::to_string(r.gaps.failedExposures));
    line(out, "Gaps", std::to_string(r.gaps.gaps));
    line(out, "Longest gap", number("%.3f", r.gaps.longestSeconds) + " s");
    line(out, "Frames not written", std::to_string(r.gaps.framesLost));
    if (!r.gaps.cameraTrouble.empty()) line(out, "Camera trouble", r.gaps.cameraTrouble);
    if (!r.selection.empty()) line(out, "Frame selection", r.selection);
    if (r.gaps.keptPercent > 0) {
        line(out, "Frames kept", std::to_string(r.gaps.framesKept));
        line(out, "Frames left out", std::to_string(r.gaps.framesLeftOut));
    }
    if (r.qualityMedian) line(out, "Seeing figure median", number("%.1f", *r.qualityMedian));
    if (r.qualityBest) line(out, "Seeing figure best", number("%.1f", *r.qualityBest));
    if (!r.qualityFile.empty()) line(out, "Seeing figures", r.qualityFile);
    const PreciseDateTime start = r.firstFrame ? *r.firstFrame : f.startLocal;
    const PreciseDateTime end = r.lastFrame ? exposureEnd(*r.lastFrame, f.exposureMs) : r.endLocal;
    line(out, "Start (UTC)", utc(start));
    line(out, "Middle (UTC)", utc(recordingMiddle(f, r)));
    line(out, "End (UTC)", utc(end));
    line(out, "UTC offset", number("%+.0f", f.utcOffsetSeconds) + " s");
    const double span = static_cast<double>(end.ticks() - start.ticks()) /
                        static_cast<double>(PreciseDateTime::kTicksPerSecond);
    line(out, "Frame rate",
         number("%.2f", span > 0 && r.frames > 0 ? r.frames / span : 0.0) + " fps");
    // Beside the frames' own times, the program's clock from the start to the end of the
    // recording: a camera that stalls shows here and not in the frames' rate.
    if (r.recordingStart) {
        const PreciseDateTime wallEnd = PreciseDateTime::fromTicks(
            r.recordingStart->ticks() +
            static_cast<int64_t>(r.recordingSeconds * PreciseDateTime::kTicksPerSecond + 0.5));
        line(out, "Recording start (UTC)", utc(*r.recordingStart));
        line(out, "Recording end (UTC)", utc(wallEnd));
        line(out, "Recording duration", number("%.3f", r.recordingSeconds) + " s");
        line(out, "Recording rate", number("%.2f", r.recordingRate) + " fps");
    }
    line(out, "Target", f.session.target);
    line(out, "Observer", f.session.observer);
    line(out, "Telescope", f.session.telescope);
    line(out, "Filter", f.filter);
    line(out, "Site latitude", f.session.latitude ? number("%.5f", *f.session.latitude) : "");
    line(out, "Site longitude", f.session.longitude ? number("%.5f", *f.session.longitude) : "");
    line(out, "Free disk space at start",
         f.freeDiskBytes ? std::to_string(*f.freeDiskBytes) + " bytes" : "unknown");
    for (const SettingChange& c : r.changes)
        line(out, "Change", utc(c.local) + " " + c.name + " = " + c.value);
    return out;
}

std::string captureLogPath(const std::string& recordingPath) {
    const std::string& stem = recordingPath;
    std::string path = stem + ".txt";
    for (int n = 1; fileExists(path); ++n) path = stem + "-" + std::to_string(n) + ".txt";
    return path;
}

bool writeCaptureLog(const std::string& path, const std::string& text, std::string& error) {
    OutFile file;
    if (!file.create(path, OutFile::Mode::WholeAtClose) || !file.write(text.data(), text.size()) ||
        !file.close()) {
        error = file.error();
        file.discard();
        return false;
    }
    return true;
}

std::string observationStem(LocalDateTime utc, const std::string& target,
                            const std::string& filter) {
    // Rounded to the millisecond first, so 21:32:23.9999 is not read as 21:32:23.
    const DateTimeParts p = decodeDateTime(utc);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d-%02d%02d_%d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second / 6);
    std::string stem = buf;
    for (const std::string& part : {fileNameText(target), fileNameText(filter)})
        if (!part.empty()) stem += "-" + part;
    return stem;
}

namespace {
bool observationNameTaken(const std::string& path, bool avi) {
    return fileExists(path) || fileExists(path + kSerStampsSuffix) ||
           fileExists(qualityFilePath(path)) || (avi && aviPartsExist(path));
}
}  // namespace

std::string freeObservationPath(const std::string& folder, const std::string& stem,
                                const std::string& ext) {
    const std::string base = (folder.empty() ? "" : folder + "/") + stem;
    const bool avi = ext == ".avi" || ext == ".AVI";
    std::string path = base + ext;
    for (int n = 1; observationNameTaken(path, avi); ++n)
        path = base + "_" + std::to_string(n) + ext;
    return path;
}

std::string numberedObservationPath(const std::string& folder, const std::string& stem,
                                    const std::string& ext, int32_t& number) {
    const std::string base = (folder.empty() ? "" : folder + "/") + stem;
    const bool avi = ext == ".avi" || ext == ".AVI";
    std::string path = base + "_" + std::to_string(number) + ext;
    while (observationNameTaken(path, avi)) path = base + "_" + std::to_string(++number) + ext;
    return path;
}
