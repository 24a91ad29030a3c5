// Judging a stream's arrival rate: a slow stream whose reader is idle is restarted, one whose
// reader is busy all the time is only as fast as this client reads it.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "StreamWatch.h"

namespace {
using indicam::StreamWatch;
using namespace std::chrono_literals;

struct SlowWindow {
    double readerBusyShare;  // negative: the reader's time is not known
    bool restarted;
};
class StreamWatchSlow : public ::testing::TestWithParam<SlowWindow> {};

TEST_P(StreamWatchSlow, ASlowWindowIsRestartedUnlessItsReaderWasBusy) {
    StreamWatch watch;
    const auto t0 = StreamWatch::Clock::time_point{} + 100s;
    const long long busy0 = GetParam().readerBusyShare < 0 ? -1 : 5'000'000'000LL;
    watch.started(t0);
    EXPECT_FALSE(watch.due(t0, 23.0, busy0));
    for (int i = 0; i < 6; ++i) watch.frame();  // 2 fps of 23
    const auto end = t0 + StreamWatch::kWindow;
    const double seconds = std::chrono::duration<double>(StreamWatch::kWindow).count();
    const long long busy =
        busy0 < 0 ? -1 : busy0 + static_cast<long long>(GetParam().readerBusyShare * seconds * 1e9);
    EXPECT_EQ(watch.due(end, 23.0, busy), GetParam().restarted);
    EXPECT_EQ(watch.slow(), GetParam().restarted);
    EXPECT_EQ(watch.readerLimited(), !GetParam().restarted);
    EXPECT_NEAR(watch.seenFps(), 2.0, 1e-9);
}
INSTANTIATE_TEST_SUITE_P(Reader, StreamWatchSlow,
                         ::testing::Values(SlowWindow{-1, true}, SlowWindow{0.1, true},
                                           SlowWindow{0.95, false}));

TEST(StreamWatch, AThreadsBusyTimeGrowsWhileItRuns) {
    const int self = static_cast<int>(syscall(SYS_gettid));
    const long long before = StreamWatch::threadBusyNs(self);
    ASSERT_GE(before, 0);
    for (const auto until = std::chrono::steady_clock::now() + 30ms;
         std::chrono::steady_clock::now() < until;) {
    }
    EXPECT_GE(StreamWatch::threadBusyNs(self) - before, 20'000'000);
    EXPECT_EQ(StreamWatch::threadBusyNs(0), -1);
}
}  // namespace
