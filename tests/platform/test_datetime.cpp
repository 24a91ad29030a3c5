#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/DateTime.h"

namespace {
DateTimeParts parts(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    DateTimeParts p;
    p.year = y;
    p.month = mo;
    p.day = d;
    p.hour = h;
    p.minute = mi;
    p.second = s;
    p.millisecond = ms;
    return p;
}

// 3 March 2011 21:05:09.042: month (03) and minutes (05) differ, so a mix-up shows.
const LocalDateTime kSample = encodeDateTime(parts(2011, 3, 3, 21, 5, 9, 42));
}  // namespace

TEST(FormatDateTime, OverlayFormats) {
    EXPECT_EQ(formatDateTime("", kSample), "");
    EXPECT_EQ(formatDateTime("dd/mm/yyyy", kSample), "03/03/2011");
    EXPECT_EQ(formatDateTime("dd/mm/yyyy hh:mm:ss", kSample), "03/03/2011 21:05:09");
    EXPECT_EQ(formatDateTime("dd/mm/yyyy hh:mm:ss.zzz", kSample), "03/03/2011 21:05:09.042");
    EXPECT_EQ(formatDateTime("hh:mm:ss.zzz", kSample), "21:05:09.042");
}

TEST(FormatDateTime, MinutesOnlyAfterHours) {
    EXPECT_EQ(formatDateTime("hhmm", kSample), "2105");
    EXPECT_EQ(formatDateTime("mm hh mm", kSample), "03 21 05");
    EXPECT_EQ(formatDateTime("hh/mm", kSample), "21/03");  // "/" is a date separator
}

TEST(FormatDateTime, SeparatorsAreReplaced) {
    EXPECT_EQ(formatDateTime("dd/mm/yyyy hh:mm:ss.zzz", kSample, '-', '.'),
              "03-03-2011 21.05.09.042");
}

TEST(FormatDateTime, PadsSmallFields) {
    const LocalDateTime t = encodeDateTime(parts(987, 1, 2, 3, 4, 5, 6));
    EXPECT_EQ(formatDateTime("yyyy-mm-dd hh:mm:ss.zzz", t), "0987-01-02 03:04:05.006");
}

TEST(DateTime, KnownSerialNumbers) {
    EXPECT_DOUBLE_EQ(encodeDateTime(parts(1899, 12, 30)), 0.0);
    EXPECT_DOUBLE_EQ(encodeDateTime(parts(1970, 1, 1)), 25569.0);
    EXPECT_DOUBLE_EQ(encodeDateTime(parts(2011, 3, 3, 12)), 40605.5);
    EXPECT_DOUBLE_EQ(unixMillisToDateTime(86400000), 25570.0);
}

TEST(DateTime, EncodeDecodeRoundTrip) {
    const DateTimeParts samples[] = {
        parts(2011, 3, 3, 21, 5, 9, 42),
        parts(2000, 2, 29, 23, 59, 59, 999),
        parts(1899, 12, 30),
        parts(1850, 7, 14, 6, 30, 0, 1),
        parts(2100, 12, 31, 0, 0, 0, 500),
        parts(2038, 1, 19, 3, 14, 8, 0),
    };
    for (const DateTimeParts& p : samples) {
        const DateTimeParts q = decodeDateTime(encodeDateTime(p));
        SCOPED_TRACE(formatDateTime("yyyy/mm/dd hh:mm:ss.zzz", encodeDateTime(p)));
        EXPECT_EQ(q.year, p.year);
        EXPECT_EQ(q.month, p.month);
        EXPECT_EQ(q.day, p.day);
        EXPECT_EQ(q.hour, p.hour);
        EXPECT_EQ(q.minute, p.minute);
        EXPECT_EQ(q.second, p.second);
        EXPECT_EQ(q.millisecond, p.millisecond);
    }
}

TEST(Clock, ReplaceableCounters) {
    uint32_t now = 0xFFFFFFF0u;
    testclock::setMillis([&] { return now; });
    EXPECT_EQ(monotonicMs(), 0xFFFFFFF0u);
    now += 0x20;  // wraps like the system counters
    EXPECT_EQ(monotonicMs(), 0x10u);
    // Differences across the wrap stay right in unsigned arithmetic.
    EXPECT_EQ(monotonicMs() - 0xFFFFFFF0u, 0x20u);
    testclock::setMillis(nullptr);

    testclock::setNow([] { return kSample; }, [] { return 3600; });
    EXPECT_DOUBLE_EQ(localNow(), kSample);
    EXPECT_EQ(utcOffsetSeconds(), 3600);
    testclock::setNow(nullptr, nullptr);

    const uint32_t a = monotonicMs();
    const uint32_t b = monotonicMs();
    EXPECT_LT(b - a, 1000u);  // the real clock is back and monotonic
    EXPECT_GT(localNow(), encodeDateTime(parts(2020, 1, 1)));
}
