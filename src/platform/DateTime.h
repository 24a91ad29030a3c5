#pragma once
// LocalDateTime arithmetic and formatting: days since 1899-12-30 as a double.
#include <cstdint>
#include <string>

#include "platform/Clock.h"

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Milliseconds since 1970-01-01 (in whatever zone the caller means) to LocalDateTime.
LocalDateTime unixMillisToDateTime(int64_t ms);
// Builds a LocalDateTime from calendar parts (proleptic Gregorian calendar).
LocalDateTime encodeDateTime(const DateTimeParts& p);
// Splits a LocalDateTime into calendar parts, rounded to the millisecond.
DateTimeParts decodeDateTime(LocalDateTime t);

// Formats with the letters dd, mm (minutes right after hh, else month), yyyy, hh, ss, zzz;
// "/" prints as dateSep and ":" as timeSep; every other character prints as it is.
std::string formatDateTime(const std::string& format, LocalDateTime t, char dateSep = '/',
                           char timeSep = ':');
