#pragma once
// The plan of a profile's sequence, worked out before it runs: what each step records, how
// long a loop takes, whether a loop keeps within the profile's time budget, the dry run's
// list, and the status text of a running sequence. No Qt here.
#include <cstdint>
#include <string>

#include "settings/TargetProfile.h"

// Seconds a step records: its seconds, or its frames times the filter's exposure.
double stepSeconds(const TargetProfile& profile, const SequenceStep& step);
// Seconds one loop takes: every step's recording and pause. Turning the wheel and moving the
// focuser come on top.
double loopSeconds(const TargetProfile& profile);
// Why the sequence cannot run as it stands ("" when it can): no steps, or a loop longer than
// the profile's budget.
std::string sequenceProblem(const TargetProfile& profile);
// The dry run: one line per recording the sequence would make, then how long it takes.
// A sequence that runs until stopped lists its first loop.
std::string dryRunText(const TargetProfile& profile);
// "0:42", "12:05", "1:02:03" (rounded up to the second, never negative).
std::string clockText(double seconds);
// The status bar's text while a sequence runs: "Sequence: loop 2/5, step G, 0:42 left"
// (`loops` 0: "loop 2" for a sequence that runs until stopped).
std::string sequenceStatusText(int32_t loop, int32_t loops, const std::string& filter,
                               double secondsLeft);
