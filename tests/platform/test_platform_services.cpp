#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <thread>

#include "platform/HardExit.h"
#include "platform/Memory.h"
#include "platform/Message.h"
#include "platform/Rounding.h"

TEST(Round, HalvesGoToEven) {
    EXPECT_EQ(roundEven(0.5), 0);
    EXPECT_EQ(roundEven(1.5), 2);
    EXPECT_EQ(roundEven(2.5), 2);
    EXPECT_EQ(roundEven(3.5), 4);
    EXPECT_EQ(roundEven(-2.5), -2);
    EXPECT_EQ(roundEven(-3.5), -4);
    EXPECT_EQ(roundEven(2.4999999), 2);
    EXPECT_EQ(roundEven(2.5000001), 3);
    EXPECT_EQ(roundEven(1e12 + 0.5), 1000000000000);
    EXPECT_EQ(roundEven(5000.0 / 1024), 5);  // MiB figures come through here
}

TEST(Round, OutOfRangeSaturates) {
    EXPECT_EQ(roundEven(1e300), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(roundEven(-1e300), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(roundEven(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(Memory, ParsesMemAvailableAboveFourGiB) {
    const std::string meminfo =
        "MemTotal:       16314328 kB\n"
        "MemFree:         1228892 kB\n"
        "MemAvailable:    9437184 kB\n"
        "Buffers:          421548 kB\n";
    EXPECT_EQ(parseMemAvailable(meminfo), 9437184ull * 1024);  // 9 GiB
    EXPECT_EQ(parseMemAvailable("MemAvailable: 17179869184 kB\n"), 17179869184ull * 1024);
}

TEST(Memory, MissingOrBrokenValueGivesZero) {
    EXPECT_EQ(parseMemAvailable(""), 0u);
    EXPECT_EQ(parseMemAvailable("MemTotal: 100 kB\nMemFree: 50 kB\n"), 0u);
    EXPECT_EQ(parseMemAvailable("MemAvailable: lots\n"), 0u);
}

TEST(Memory, ReadsThisMachine) {
    EXPECT_GT(availablePhysicalMemory(), 0u);
}

namespace {
struct HaltCalled {
    int code;
};

class HaltTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testexit::reset();
        testexit::setTerminate([](int code) { throw HaltCalled{code}; });
    }
    void TearDown() override {
        setExitHandler(nullptr);
        testexit::setTerminate(nullptr);
        testexit::reset();
    }
    // Halts and returns the exit code handed to the final exit.
    static int haltAndCatch(int code) {
        try {
            hardExit(code);
        } catch (const HaltCalled& h) {
            return h.code;
        }
        return -1;
    }
};
}  // namespace

TEST_F(HaltTest, ExitProcedureRunsOnce) {
    int runs = 0;
    setExitHandler([&] { ++runs; });
    EXPECT_EQ(haltAndCatch(3), 3);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(haltAndCatch(0), 0);
    runExitHandlerOnce();
    EXPECT_EQ(runs, 1);
}

TEST_F(HaltTest, HaltInsideTheExitProcedureDoesNotRecurse) {
    int runs = 0;
    int innerCode = -1;
    setExitHandler([&] {
        ++runs;
        innerCode = haltAndCatch(7);
    });
    EXPECT_EQ(haltAndCatch(1), 1);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(innerCode, 7);
}

TEST_F(HaltTest, SecondThreadWaitsForTheRunningExitProcedure) {
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    setExitHandler([&] {
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        finished = true;
    });
    std::atomic<bool> finishedWhenSecondExited{false};
    std::thread first([] { haltAndCatch(0); });
    while (!started) std::this_thread::yield();
    std::thread second([&] {
        haltAndCatch(0);
        finishedWhenSecondExited = finished.load();
    });
    first.join();
    second.join();
    EXPECT_TRUE(finishedWhenSecondExited);
}

TEST(Message, HandlerReceivesTextAndCanBeRestored) {
    std::vector<std::string> seen;
    MessageHandler previous =
        setMessageHandler([&](const QString& t) { seen.push_back(t.toStdString()); });
    showMessage("NO CAMERA!");
    showMessage("Please set file parameters first");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "NO CAMERA!");
    EXPECT_EQ(seen[1], "Please set file parameters first");

    MessageHandler mine = setMessageHandler(previous);
    ASSERT_TRUE(mine);
    mine("direct");
    EXPECT_EQ(seen.back(), "direct");
    showMessage("to stderr");  // the previous (default) handler is back
    EXPECT_EQ(seen.size(), 3u);
}
