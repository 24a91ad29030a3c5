#include "settings/SequencePlan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

double stepSeconds(const TargetProfile& profile, const SequenceStep& step) {
    if (step.seconds > 0) return step.seconds;
    return static_cast<double>(step.frames) *
           static_cast<double>(profile.exposureFor(step.filter)) / 1e6;
}

double loopSeconds(const TargetProfile& profile) {
    double total = 0;
    for (const SequenceStep& step : profile.steps)
        total += stepSeconds(profile, step) + step.pauseSeconds;
    return total;
}

std::string sequenceProblem(const TargetProfile& profile) {
    if (profile.steps.empty())
        return "The profile '" + profile.name + "' has no sequence: add its steps first.";
    const double loop = loopSeconds(profile);
    if (profile.loopBudgetSeconds > 0 && loop > profile.loopBudgetSeconds)
        return "One loop of the sequence takes " + clockText(loop) + ", longer than the " +
               clockText(profile.loopBudgetSeconds) + " the profile '" + profile.name +
               "' allows for a loop.";
    return {};
}

std::string clockText(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(std::max(seconds, 0.0) - 1e-9));
    char buf[32];
    if (whole >= 3600)
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld", whole / 60, whole % 60);
    return buf;
}

std::string dryRunText(const TargetProfile& profile) {
    std::ostringstream out;
    const int32_t loops = profile.loops > 0 ? profile.loops : 1;
    for (int32_t loop = 1; loop <= loops; ++loop) {
        for (size_t i = 0; i < profile.steps.size(); ++i) {
            const SequenceStep& step = profile.steps[i];
            char exposure[32];
            std::snprintf(exposure, sizeof exposure, "%g ms",
                          static_cast<double>(profile.exposureFor(step.filter)) / 1000.0);
            out << "Loop " << loop << ", step " << i + 1 << ": " << step.filter << ", "
                << (step.seconds > 0 ? std::to_string(step.seconds) + " s"
                                     : std::to_string(step.frames) + " frames")
                << " at " << exposure << ", gain " << profile.gainFor(step.filter) << ", "
                << formatName(profile.format) << " (" << clockText(stepSeconds(profile, step))
                << ")";
            if (step.pauseSeconds > 0) out << ", then a pause of " << clockText(step.pauseSeconds);
            out << "\n";
        }
    }
    const double loop = loopSeconds(profile);
    out << "One loop: " << clockText(loop);
    if (profile.loopBudgetSeconds > 0)
        out << " (the budget: " << clockText(profile.loopBudgetSeconds) << ")";
    if (profile.loops > 0)
        out << "; " << profile.loops << " loop(s): " << clockText(loop * profile.loops);
    else
        out << "; the loops repeat until stopped";
    out << ", plus the time the wheel and the focuser take to move.\n";
    const std::string problem = sequenceProblem(profile);
    if (!problem.empty()) out << problem << "\n";
    return out.str();
}

std::string sequenceStatusText(int32_t loop, int32_t loops, const std::string& filter,
                               double secondsLeft) {
    return "Sequence: loop " + std::to_string(loop) +
           (loops > 0 ? "/" + std::to_string(loops) : std::string()) + ", step " + filter + ", " +
           clockText(secondsLeft) + " left";
}
