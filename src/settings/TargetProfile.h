#pragma once
// A target profile: what one target wants of the camera (session details, exposure, gain,
// white balance, subframe, sample depth, output format), per filter an exposure, gain and
// focus offset, and the sequence of recordings that the program runs for it. Kept as a
// human-readable text, one file per profile, so that a user can read, edit and copy it:
//
//     target = Jupiter
//     exposure_ms = 8.5
//     gain = 40
//     format = SER
//     loops = 5
//     [filter R]
//     exposure_ms = 6
//     focus_offset = -120
//     [step]
//     filter = R
//     seconds = 60
//     pause_s = 5
//
// Lines are "key = value"; blank lines and lines starting with '#' are ignored; a
// "[filter NAME]" line opens the settings of that filter, a "[step]" line the next step of
// the sequence. A key left out keeps its default. No Qt here.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recording/CaptureFormat.h"
#include "recording/SessionRecord.h"

// What a filter of the wheel wants: its exposure and gain (the profile's own when not set)
// and the focuser's offset from the focus found for the filter in the beam at the start.
struct FilterSettings {
    std::string name;  // as the wheel names it
    std::optional<int64_t> exposureUs;
    std::optional<int32_t> gain;
    int32_t focusOffset = 0;  // focuser steps
    bool operator==(const FilterSettings&) const = default;
};

// One step of a sequence: a recording through one filter, of `frames` frames or of `seconds`
// seconds (exactly one of them set), then a pause before the next step.
struct SequenceStep {
    std::string filter;
    int32_t frames = 0;
    int32_t seconds = 0;
    int32_t pauseSeconds = 0;
    bool operator==(const SequenceStep&) const = default;
};

struct TargetProfile {
    std::string name;  // the file's name less ".profile"; not stored in the text
    SessionDetails session;
    int64_t exposureUs = 100'000;
    int32_t gain = 10;
    int32_t balanceRed = 127, balanceGreen = 127, balanceBlue = 127;
    int32_t width = 0, height = 0;  // the subframe; 0: the full sensor
    int32_t depth = 8;
    CaptureFormat format = CaptureFormat::Ser;
    std::vector<FilterSettings> filters;
    // The sequence: its steps, run `loops` times (0: until stopped); one loop may take at
    // most `loopBudgetSeconds` (0: no limit), for a planet that rotates.
    std::vector<SequenceStep> steps;
    int32_t loops = 1;
    int32_t loopBudgetSeconds = 0;

    // The settings of the filter of that name; null when the profile has none for it.
    const FilterSettings* filter(const std::string& name) const;
    // The exposure and gain a recording through `filter` takes.
    int64_t exposureFor(const std::string& filter) const;
    int32_t gainFor(const std::string& filter) const;
    int32_t focusOffsetFor(const std::string& filter) const;
    bool operator==(const TargetProfile& other) const;
};

// Why a profile's text was refused: the line (from 1; 0 for the text as a whole) and the
// reason.
struct ProfileError {
    int line = 0;
    std::string reason;
};

// Reads a profile's text; the whole text or nothing: on the first fault it returns nullopt
// with the line and the reason in `error`. The name is left empty.
std::optional<TargetProfile> parseProfile(const std::string& text, ProfileError& error);
// The text of a profile, which parseProfile reads back to the same profile.
std::string profileText(const TargetProfile& profile);

// A profile's name as a file name allows it: not empty, no '/', not starting with '.', at
// most 100 bytes. "" when it is, else why not.
std::string profileNameProblem(const std::string& name);
