#include "platform/Clock.h"

#include <chrono>
#include <ctime>
#include <mutex>

#include "platform/DateTime.h"

namespace {
std::mutex g_mutex;
std::function<uint32_t()> g_millis;
std::function<LocalDateTime()> g_now;
std::function<int32_t()> g_offset;

uint32_t steadyMillis() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

template <typename T>
std::function<T> get(const std::function<T>& f) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return f;
}
}  // namespace

uint32_t monotonicMs() {
    auto f = get(g_millis);
    return f ? f() : steadyMillis();
}

LocalDateTime localNow() {
    auto f = get(g_now);
    if (f) return f();
    using namespace std::chrono;
    const int64_t ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const time_t secs = static_cast<time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&secs, &local);
    return unixMillisToDateTime(ms + static_cast<int64_t>(local.tm_gmtoff) * 1000);
}

int32_t utcOffsetSeconds() {
    auto f = get(g_offset);
    if (f) return f();
    const time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return static_cast<int32_t>(local.tm_gmtoff);
}

namespace testclock {
void setMillis(std::function<uint32_t()> fn) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_millis = std::move(fn);
}
void setNow(std::function<LocalDateTime()> now, std::function<int32_t()> offset) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_now = std::move(now);
    g_offset = std::move(offset);
}
}  // namespace testclock
