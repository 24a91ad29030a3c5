#pragma once
// One exposure through a camera library's entry points and what its CameraFrameInfo says of
// it, for the tests of each camera library.
#include <gtest/gtest.h>
#include <semaphore.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "SemaphoreWait.h"
#include "tarvidll.h"

struct FrameInfoProbe {
    int (*threadedExposure)(void*, int, int) = nullptr;
    int (*cameraFrameInfo)(TarviFrameInfo*) = nullptr;

    // Exposes into `buffer` and returns what CameraFrameInfo filled; `info.size` is the
    // size the caller claims (an older caller passes less). Fields it must not touch keep
    // -7. Also checks that the start reported lies within the ThreadedExposure call.
    TarviFrameInfo expose(sem_t& done, void* buffer, unsigned size = sizeof(TarviFrameInfo)) {
        TarviFrameInfo info{size, -7, -7, -7, -7, -7, -7};
        const long long before = unixUs();
        EXPECT_EQ(threadedExposure(buffer, 0, 1), 1);
        const long long after = unixUs();
        EXPECT_TRUE(waitPosted(done, 10000));
        EXPECT_EQ(cameraFrameInfo(&info), 1);
        if (size >= offsetof(TarviFrameInfo, startUnixUs) + sizeof info.startUnixUs) {
            EXPECT_GE(info.startUnixUs, before);
            EXPECT_LE(info.startUnixUs, after);
        }
        // Depth and pattern: left alone, or a real report.
        EXPECT_TRUE(info.bitsPerSample == -7 ||
                    (info.bitsPerSample >= 8 && info.bitsPerSample <= 16))
            << info.bitsPerSample;
        EXPECT_TRUE(
            info.colorPattern == -7 || info.colorPattern == TARVI_PATTERN_MONO ||
            (info.colorPattern >= TARVI_PATTERN_RGGB && info.colorPattern <= TARVI_PATTERN_BGGR))
            << info.colorPattern;
        return info;
    }

    static long long unixUs() {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
};
