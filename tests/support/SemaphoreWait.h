#pragma once
// Waits on the exposure semaphore a camera library posts, with a bound.
#include <semaphore.h>
#include <time.h>

// True when `done` was posted within `ms` milliseconds.
inline bool waitPosted(sem_t& done, int ms) {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_sec += ms / 1000;
    t.tv_nsec += (ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return sem_clockwait(&done, CLOCK_MONOTONIC, &t) == 0;
}
