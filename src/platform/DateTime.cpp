#include "platform/DateTime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/Rounding.h"

namespace {
constexpr int64_t kMsPerDay = 86400000;
// Days from 1899-12-30 to 1970-01-01.
constexpr int64_t kUnixEpochDays = 25569;

// Days since 1970-01-01 of a civil date (Howard Hinnant's algorithm).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

void append2(std::string& out, int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    out += buf;
}
}  // namespace

PreciseDateTime::PreciseDateTime(LocalDateTime t) {
    // Whole days and the fraction apart: the fraction times the ticks of a day stays far
    // below 2^53, so only the double's own resolution limits the tick. Beyond some 24000
    // years either way (and for NaN) the value is held at that limit, where a SER stamp
    // still fits its 64 bits.
    constexpr double kLimitDays = 9'000'000.0;
    const double days = std::isnan(t) ? 0.0 : std::clamp(t, -kLimitDays, kLimitDays);
    const double whole = std::floor(days);
    ticks_ = static_cast<int64_t>(whole) * kTicksPerDay +
             roundEven((days - whole) * static_cast<double>(kTicksPerDay));
}

PreciseDateTime PreciseDateTime::fromUnixMicros(int64_t us, int32_t utcOffsetSeconds) {
    return fromTicks((us + int64_t{utcOffsetSeconds} * 1'000'000) * 10 +
                     kUnixEpochDays * kTicksPerDay);
}

LocalDateTime PreciseDateTime::dateTime() const {
    const int64_t days = floorDiv(ticks_, kTicksPerDay);
    return static_cast<double>(days) +
           static_cast<double>(ticks_ - days * kTicksPerDay) / static_cast<double>(kTicksPerDay);
}

LocalDateTime unixMillisToDateTime(int64_t ms) {
    return static_cast<double>(kUnixEpochDays) + static_cast<double>(ms) / kMsPerDay;
}

LocalDateTime encodeDateTime(const DateTimeParts& p) {
    const int64_t days = daysFromCivil(p.year, p.month, p.day) + kUnixEpochDays;
    const int64_t ms =
        ((static_cast<int64_t>(p.hour) * 60 + p.minute) * 60 + p.second) * 1000 + p.millisecond;
    return static_cast<double>(days) + static_cast<double>(ms) / kMsPerDay;
}

DateTimeParts decodeDateTime(LocalDateTime t) {
    const int64_t total = static_cast<int64_t>(std::llround(t * kMsPerDay));
    int64_t days = total / kMsPerDay;
    int64_t ms = total % kMsPerDay;
    if (ms < 0) {
        ms += kMsPerDay;
        days -= 1;
    }
    DateTimeParts p;
    civilFromDays(days - kUnixEpochDays, p.year, p.month, p.day);
    p.millisecond = static_cast<int>(ms % 1000);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.hour = static_cast<int>(ms / 3600000);
    return p;
}

std::string formatDateTime(const std::string& format, LocalDateTime t, char dateSep, char timeSep) {
    const DateTimeParts p = decodeDateTime(t);
    std::string out;
    bool afterHour = false;  // "mm" right after "hh" means minutes
    size_t i = 0;
    auto starts = [&](const char* tok) {
        return format.compare(i, std::char_traits<char>::length(tok), tok) == 0;
    };
    while (i < format.size()) {
        if (starts("yyyy")) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%04d", p.year);
            out += buf;
            i += 4;
            afterHour = false;
        } else if (starts("dd")) {
            append2(out, p.day);
            i += 2;
            afterHour = false;
        } else if (starts("hh")) {
            append2(out, p.hour);
            i += 2;
            afterHour = true;
        } else if (starts("mm")) {
            append2(out, afterHour ? p.minute : p.month);
            i += 2;
            afterHour = false;
        } else if (starts("ss")) {
            append2(out, p.second);
            i += 2;
            afterHour = false;
        } else if (starts("zzz")) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%03d", p.millisecond);
            out += buf;
            i += 3;
            afterHour = false;
        } else {
            const char c = format[i++];
            out += c == '/' ? dateSep : c == ':' ? timeSep : c;
            // A separator between hh and mm keeps mm meaning minutes.
            if (c != ':' && c != ' ') afterHour = false;
        }
    }
    return out;
}
