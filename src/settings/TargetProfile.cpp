#include "settings/TargetProfile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {
// The exposure lengths a camera library takes, in microseconds.
constexpr int64_t kShortestUs = 10, kLongestUs = 10'000'000;

std::string trimmed(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

bool readWhole(const std::string& text, int64_t low, int64_t high, int64_t& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    value = v;
    return true;
}

bool readWhole32(const std::string& text, int32_t low, int32_t high, int32_t& value) {
    int64_t v = 0;
    if (!readWhole(text, low, high, v)) return false;
    value = static_cast<int32_t>(v);
    return true;
}

// Milliseconds with a fraction ("8.5") as microseconds within the cameras' range.
bool readExposure(const std::string& text, int64_t& us) {
    if (text.empty()) return false;
    char* end = nullptr;
    const double ms = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(ms)) return false;
    const auto v = static_cast<int64_t>(std::llround(ms * 1000.0));
    if (v < kShortestUs || v > kLongestUs) return false;
    us = v;
    return true;
}

std::string exposureText(int64_t us) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(us) / 1000.0);
    std::string s = buf;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

std::optional<CaptureFormat> formatNamed(const std::string& name) {
    for (const FormatInfo& f : captureFormats())
        if (name == f.name) return f.format;
    return std::nullopt;
}

// The reading state: where a "key = value" line goes.
enum class Section { Top, Filter, Step };

struct ProfileReader {
    TargetProfile profile;
    Section section = Section::Top;
    int stepLine = 0;  // the line of the step being read, for its own faults

    // "" when the line was taken, else why not.
    std::string take(const std::string& key, const std::string& value);
    std::string takeTop(const std::string& key, const std::string& value);
    std::string takeFilter(const std::string& key, const std::string& value);
    std::string takeStep(const std::string& key, const std::string& value);
    std::string stepProblem() const;
};

const char* const kExposureReason = "must be milliseconds from 0.01 to 10000";
const char* const kGainReason = "must be a whole number from 0 to 100";

std::string ProfileReader::take(const std::string& key, const std::string& value) {
    switch (section) {
        case Section::Top:
            return takeTop(key, value);
        case Section::Filter:
            return takeFilter(key, value);
        case Section::Step:
            return takeStep(key, value);
    }
    return {};
}

std::string ProfileReader::takeTop(const std::string& key, const std::string& value) {
    TargetProfile& p = profile;
    SessionDetails& s = p.session;
    const auto whole = [&](int32_t low, int32_t high, int32_t& out, const char* reason) {
        return readWhole32(value, low, high, out) ? std::string() : std::string(reason);
    };
    if (key == "target")
        s.target = value;
    else if (key == "observer")
        s.observer = value;
    else if (key == "telescope")
        s.telescope = value;
    else if (key == "filter")
        s.filter = value;
    else if (key == "latitude" || key == "longitude") {
        std::optional<double> degrees;
        const bool lat = key == "latitude";
        if (value.empty() || !parseDegrees(value, lat ? 90 : 180, degrees))
            return lat ? "must be degrees from -90 to 90" : "must be degrees from -180 to 180";
        (lat ? s.latitude : s.longitude) = degrees;
    } else if (key == "exposure_ms") {
        if (!readExposure(value, p.exposureUs)) return kExposureReason;
    } else if (key == "gain") {
        return whole(0, 100, p.gain, kGainReason);
    } else if (key == "white_balance") {
        std::istringstream in(value);
        std::string r, g, b, rest;
        in >> r >> g >> b >> rest;
        if (!rest.empty() || !readWhole32(r, 0, 255, p.balanceRed) ||
            !readWhole32(g, 0, 255, p.balanceGreen) || !readWhole32(b, 0, 255, p.balanceBlue))
            return "must be red, green and blue, each from 0 to 255";
    } else if (key == "subframe") {
        std::istringstream in(value);
        std::string w, h, rest;
        in >> w >> h >> rest;
        if (!rest.empty() || !readWhole32(w, 0, 100000, p.width) ||
            !readWhole32(h, 0, 100000, p.height))
            return "must be a width and a height in pixels (0 0: the full sensor)";
    } else if (key == "depth") {
        if (value != "8" && value != "16") return "must be 8 or 16";
        p.depth = value == "8" ? 8 : 16;
    } else if (key == "format") {
        const auto f = formatNamed(value);
        if (!f) return "must be SER, AVI, FIT or BMP";
        p.format = *f;
    } else if (key == "loops") {
        return whole(0, 100000, p.loops, "must be a whole number of loops (0: until stopped)");
    } else if (key == "loop_budget_s") {
        return whole(0, 86400, p.loopBudgetSeconds, "must be seconds (0: no limit)");
    } else {
        return "no setting '" + key + "' here";
    }
    return {};
}

std::string ProfileReader::takeFilter(const std::string& key, const std::string& value) {
    FilterSettings& f = profile.filters.back();
    if (key == "exposure_ms") {
        int64_t us = 0;
        if (!readExposure(value, us)) return kExposureReason;
        f.exposureUs = us;
    } else if (key == "gain") {
        int32_t gain = 0;
        if (!readWhole32(value, 0, 100, gain)) return kGainReason;
        f.gain = gain;
    } else if (key == "focus_offset") {
        if (!readWhole32(value, -1'000'000, 1'000'000, f.focusOffset))
            return "must be a whole number of focuser steps";
    } else {
        return "no setting '" + key + "' for a filter";
    }
    return {};
}

std::string ProfileReader::takeStep(const std::string& key, const std::string& value) {
    SequenceStep& s = profile.steps.back();
    if (key == "filter") {
        if (value.empty()) return "needs the name of a filter";
        s.filter = value;
    } else if (key == "frames") {
        if (!readWhole32(value, 1, 10'000'000, s.frames)) return "must be at least 1 frame";
    } else if (key == "seconds") {
        if (!readWhole32(value, 1, 86400, s.seconds)) return "must be from 1 to 86400 seconds";
    } else if (key == "pause_s") {
        if (!readWhole32(value, 0, 86400, s.pauseSeconds)) return "must be from 0 to 86400 seconds";
    } else {
        return "no setting '" + key + "' for a step";
    }
    return {};
}

std::string ProfileReader::stepProblem() const {
    if (section != Section::Step) return {};
    const SequenceStep& s = profile.steps.back();
    if (s.filter.empty()) return "the step names no filter";
    if ((s.frames > 0) == (s.seconds > 0)) return "the step needs either frames or seconds";
    return {};
}
}  // namespace

const FilterSettings* TargetProfile::filter(const std::string& filterName) const {
    for (const FilterSettings& f : filters)
        if (f.name == filterName) return &f;
    return nullptr;
}

int64_t TargetProfile::exposureFor(const std::string& filterName) const {
    const FilterSettings* f = filter(filterName);
    return f && f->exposureUs ? *f->exposureUs : exposureUs;
}

int32_t TargetProfile::gainFor(const std::string& filterName) const {
    const FilterSettings* f = filter(filterName);
    return f && f->gain ? *f->gain : gain;
}

int32_t TargetProfile::focusOffsetFor(const std::string& filterName) const {
    const FilterSettings* f = filter(filterName);
    return f ? f->focusOffset : 0;
}

bool TargetProfile::operator==(const TargetProfile& o) const {
    const auto sessionEqual = [](const SessionDetails& a, const SessionDetails& b) {
        return a.target == b.target && a.observer == b.observer && a.telescope == b.telescope &&
               a.filter == b.filter && a.latitude == b.latitude && a.longitude == b.longitude;
    };
    return name == o.name && sessionEqual(session, o.session) && exposureUs == o.exposureUs &&
           gain == o.gain && balanceRed == o.balanceRed && balanceGreen == o.balanceGreen &&
           balanceBlue == o.balanceBlue && width == o.width && height == o.height &&
           depth == o.depth && format == o.format && filters == o.filters && steps == o.steps &&
           loops == o.loops && loopBudgetSeconds == o.loopBudgetSeconds;
}

std::optional<TargetProfile> parseProfile(const std::string& text, ProfileError& error) {
    ProfileReader reader;
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    const auto fail = [&](int line, std::string reason) {
        error = {line, std::move(reason)};
        return std::nullopt;
    };
    while (std::getline(in, raw)) {
        ++number;
        const std::string line = trimmed(raw);
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[') {
            if (line.back() != ']') return fail(number, "a section line ends with ']'");
            const std::string problem = reader.stepProblem();
            if (!problem.empty()) return fail(reader.stepLine, problem);
            const std::string inside = trimmed(line.substr(1, line.size() - 2));
            if (inside == "step") {
                reader.section = Section::Step;
                reader.stepLine = number;
                reader.profile.steps.emplace_back();
            } else if (inside.rfind("filter ", 0) == 0 && !trimmed(inside.substr(7)).empty()) {
                const std::string name = trimmed(inside.substr(7));
                if (reader.profile.filter(name))
                    return fail(number, "the filter '" + name + "' is set twice");
                reader.section = Section::Filter;
                reader.profile.filters.push_back({name, {}, {}, 0});
            } else {
                return fail(number, "no section '" + inside +
                                        "' (the sections are [filter NAME] "
                                        "and [step])");
            }
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos) return fail(number, "a line is 'key = value'");
        const std::string problem =
            reader.take(trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)));
        if (!problem.empty())
            return fail(number, "'" + trimmed(line.substr(0, equals)) + "' " + problem);
    }
    const std::string problem = reader.stepProblem();
    if (!problem.empty()) return fail(reader.stepLine, problem);
    return reader.profile;
}

std::string profileText(const TargetProfile& p) {
    std::ostringstream out;
    out << "# TarviVideo5X target profile\n";
    const SessionDetails& s = p.session;
    const auto text = [&](const char* key, const std::string& value) {
        if (!value.empty()) out << key << " = " << value << "\n";
    };
    text("target", s.target);
    text("observer", s.observer);
    text("telescope", s.telescope);
    text("filter", s.filter);
    char degrees[32];
    if (s.latitude) {
        std::snprintf(degrees, sizeof degrees, "%.6f", *s.latitude);
        out << "latitude = " << degrees << "\n";
    }
    if (s.longitude) {
        std::snprintf(degrees, sizeof degrees, "%.6f", *s.longitude);
        out << "longitude = " << degrees << "\n";
    }
    out << "exposure_ms = " << exposureText(p.exposureUs) << "\n"
        << "gain = " << p.gain << "\n"
        << "white_balance = " << p.balanceRed << " " << p.balanceGreen << " " << p.balanceBlue
        << "\n"
        << "subframe = " << p.width << " " << p.height << "\n"
        << "depth = " << p.depth << "\n"
        << "format = " << formatName(p.format) << "\n"
        << "loops = " << p.loops << "\n"
        << "loop_budget_s = " << p.loopBudgetSeconds << "\n";
    for (const FilterSettings& f : p.filters) {
        out << "\n[filter " << f.name << "]\n";
        if (f.exposureUs) out << "exposure_ms = " << exposureText(*f.exposureUs) << "\n";
        if (f.gain) out << "gain = " << *f.gain << "\n";
        out << "focus_offset = " << f.focusOffset << "\n";
    }
    for (const SequenceStep& step : p.steps) {
        out << "\n[step]\nfilter = " << step.filter << "\n";
        if (step.frames > 0) out << "frames = " << step.frames << "\n";
        if (step.seconds > 0) out << "seconds = " << step.seconds << "\n";
        out << "pause_s = " << step.pauseSeconds << "\n";
    }
    return out.str();
}

std::string profileNameProblem(const std::string& name) {
    if (trimmed(name).empty()) return "A profile needs a name.";
    if (name.find('/') != std::string::npos) return "A profile's name cannot hold a '/'.";
    if (name[0] == '.') return "A profile's name cannot start with a '.'.";
    if (name.size() > 100) return "A profile's name is at most 100 characters long.";
    return {};
}
