#pragma once
// Helpers for a camera library's CameraControlInfo and CameraControlChoice: filling the
// caller's struct only as far as it reaches, and texts cut to their buffers.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "tarvidll.h"

namespace camera {

// One control as the library describes it.
struct ControlDescription {
    std::string id, caption, unit;
    int kind = TARVI_CONTROL_INTEGER;
    int flags = 0;
    int role = TARVI_ROLE_NONE;
    int choiceCount = 0;
    double minimum = 0, maximum = 0, step = 0;
};

// Copies `text` zero-terminated into buffer (cut to fit); returns the length of the whole.
inline int copyText(const std::string& text, char* buffer, int size) {
    if (buffer && size > 0) {
        const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int>(text.size());
}

// Fills *out from description, only the fields that lie wholly within out->size.
inline void fillControlInfo(const ControlDescription& description, TarviControlInfo* out) {
    TarviControlInfo full{};
    copyText(description.id, full.id, sizeof full.id);
    copyText(description.caption, full.caption, sizeof full.caption);
    copyText(description.unit, full.unit, sizeof full.unit);
    full.kind = description.kind;
    full.flags = description.flags;
    full.role = description.role;
    full.choiceCount = description.choiceCount;
    full.minimum = description.minimum;
    full.maximum = description.maximum;
    full.step = description.step;
    const unsigned size = out->size;
    // Field by field from the front: the first one that does not fit ends the copy.
    const size_t ends[] = {offsetof(TarviControlInfo, id) + sizeof full.id,
                           offsetof(TarviControlInfo, caption) + sizeof full.caption,
                           offsetof(TarviControlInfo, unit) + sizeof full.unit,
                           offsetof(TarviControlInfo, kind) + sizeof full.kind,
                           offsetof(TarviControlInfo, flags) + sizeof full.flags,
                           offsetof(TarviControlInfo, role) + sizeof full.role,
                           offsetof(TarviControlInfo, choiceCount) + sizeof full.choiceCount,
                           offsetof(TarviControlInfo, minimum) + sizeof full.minimum,
                           offsetof(TarviControlInfo, maximum) + sizeof full.maximum,
                           offsetof(TarviControlInfo, step) + sizeof full.step};
    size_t bytes = sizeof(unsigned);
    for (const size_t end : ends)
        if (end <= size) bytes = end;
    std::memcpy(reinterpret_cast<char*>(out) + sizeof(unsigned),
                reinterpret_cast<const char*>(&full) + sizeof(unsigned), bytes - sizeof(unsigned));
}

}  // namespace camera
