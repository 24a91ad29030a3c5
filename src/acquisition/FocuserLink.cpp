#include "acquisition/FocuserLink.h"

#include <algorithm>

#include "acquisition/CameraLib.h"

namespace {
bool readFocuser(const TarviApi& api, TarviFocuserState& state) {
    state = {};
    state.size = sizeof state;
    return api.focuserState && api.focuserState(&state) == 1;
}
}  // namespace

void FocuserLink::moveTo(int32_t position) {
    std::lock_guard<std::mutex> lock(mutex_);
    asked_ = position;
    ++serial_;
    if (status_.present) status_.moving = true;
}

FocuserStatus FocuserLink::status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

void FocuserLink::service(const TarviApi& api) {
    if (!api.focuserState) return;
    TarviFocuserState state;
    const bool present = readFocuser(api, state);
    int32_t asked = 0;
    uint64_t serial = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        asked = asked_;
        serial = serial_;
    }
    if (present && serial != sent_) {
        sent_ = serial;
        const int32_t target =
            std::clamp(asked, state.minimum, std::max(state.minimum, state.maximum));
        if (target != state.position && api.focuserMove(target) == 1) readFocuser(api, state);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    status_.present = present;
    status_.position = state.position;
    status_.minimum = state.minimum;
    status_.maximum = state.maximum;
    // A move asked for and not yet sent counts as moving.
    status_.moving = present && (state.moving != 0 || serial_ != sent_);
}
