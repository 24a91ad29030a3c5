// Writers: SER and FITS throughput beside a plain sequential write of the same bytes to the
// same folder in the same run (counter "vs_plain" is writer MB/s over plain MB/s), and AVI
// frames per second with uncompressed frames and with IYUV.
// The folder is TV_BENCH_DIR when set, else the system's temporary folder.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/Frame.h"
#include "recording/AviWriter.h"
#include "recording/FitsFormat.h"
#include "recording/SerWriter.h"

namespace {
using Clock = std::chrono::steady_clock;

class BenchDir {
  public:
    BenchDir() {
        const char* env = std::getenv("TV_BENCH_DIR");
        const std::string base =
            env && *env ? std::string(env) : std::filesystem::temp_directory_path().string();
        std::string pattern = base + "/tv-bench-XXXXXX";
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~BenchDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    bool ok() const { return !path_.empty(); }

  private:
    std::string path_;
};

const BenchDir& dir() {
    static BenchDir dir;
    return dir;
}

FramePtr patternFrame(int w, int h, int depth = 8) {
    FramePtr f = newFrame(w, h, "2024-03-10 21:15:30.250", false, depth);
    for (size_t i = 0; i < frameDataSize(f.get()); ++i)
        frameData(f.get())[i] = static_cast<uint8_t>(i * 31);
    return f;
}

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// The same bytes with nothing but open, write and close.
double plainWrite(const std::string& path, const std::vector<uint8_t>& bytes, size_t times) {
    const auto t0 = Clock::now();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    for (size_t i = 0; i < times && fd >= 0; ++i) {
        if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) break;
    }
    if (fd >= 0) ::close(fd);
    const double s = seconds(t0, Clock::now());
    ::unlink(path.c_str());
    return s;
}

void setThroughput(benchmark::State& state, double bytes, double writerSeconds,
                   double plainSeconds) {
    state.counters["MB/s"] = bytes / writerSeconds / 1e6;
    state.counters["plain_MB/s"] = bytes / plainSeconds / 1e6;
    state.counters["vs_plain"] = plainSeconds / writerSeconds;
}

constexpr int kFramesPerFile = 32;
constexpr int kSerFrames = 128;  // a recording is long: the header and trailer count little

// Args: width, height, bits per sample (8 or 16).
void bmSerWrite(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const int depth = static_cast<int>(state.range(2));
    if (!dir().ok()) return state.SkipWithError("no folder to write to");
    const FramePtr f = patternFrame(w, h, depth);
    const std::string ser = dir().file("bench.SER"), plain = dir().file("plain.bin");
    const std::vector<uint8_t> frameBytes(frameData(f.get()),
                                          frameData(f.get()) + frameDataSize(f.get()));
    double serSeconds = 0, plainSeconds = 0, bytes = 0;
    bool plainFirst = true;
    SerWriter writer;
    for (auto _ : state) {
        // Alternate the order, so that neither side always meets the other's dirty pages.
        if (plainFirst) plainSeconds += plainWrite(plain, frameBytes, kSerFrames);
        const auto t0 = Clock::now();
        bool ok = writer.open(ser, w, h, depth);
        for (int i = 0; ok && i < kSerFrames; ++i) ok = writer.writeFrame(*f);
        ok = writer.close() && ok;
        const double s = seconds(t0, Clock::now());
        ::unlink(ser.c_str());
        if (!ok) {
            state.SkipWithError(writer.error().c_str());
            break;
        }
        if (!plainFirst) plainSeconds += plainWrite(plain, frameBytes, kSerFrames);
        plainFirst = !plainFirst;
        serSeconds += s;
        state.SetIterationTime(s);
        bytes += static_cast<double>(frameBytes.size()) * kSerFrames;
    }
    if (serSeconds > 0) setThroughput(state, bytes, serSeconds, plainSeconds);
}
BENCHMARK(bmSerWrite)
    ->ArgNames({"w", "h", "bits"})
    ->Args({640, 480, 8})
    ->Args({1280, 960, 8})
    ->Args({1280, 960, 16})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void bmFitsWrite(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    if (!dir().ok()) return state.SkipWithError("no folder to write to");
    const FramePtr f = patternFrame(w, h);
    const size_t data = frameDataSize(f.get());
    const size_t fileBytes = kFitsBlock + (data + kFitsBlock - 1) / kFitsBlock * kFitsBlock;
    const std::vector<uint8_t> sameBytes(fileBytes, 0x55);
    const std::string plain = dir().file("plain.bin");
    double fitsSeconds = 0, plainSeconds = 0, bytes = 0;
    for (auto _ : state) {
        plainSeconds += plainWrite(plain, sameBytes, kFramesPerFile);
        const auto t0 = Clock::now();
        bool ok = true;
        std::string error;
        for (int i = 0; ok && i < kFramesPerFile; ++i)
            ok = writeFitsFile(dir().file("f" + std::to_string(i) + ".FIT"), *f, error);
        const double s = seconds(t0, Clock::now());
        if (!ok) {
            state.SkipWithError(error.c_str());
            break;
        }
        fitsSeconds += s;
        state.SetIterationTime(s);
        bytes += static_cast<double>(fileBytes) * kFramesPerFile;
        for (int i = 0; i < kFramesPerFile; ++i)
            ::unlink(dir().file("f" + std::to_string(i) + ".FIT").c_str());
    }
    if (fitsSeconds > 0) setThroughput(state, bytes, fitsSeconds, plainSeconds);
}
BENCHMARK(bmFitsWrite)
    ->Args({640, 480})
    ->Args({1280, 960})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// range(2): 0 uncompressed, 1 IYUV.
void bmAviWrite(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    if (!dir().ok()) return state.SkipWithError("no folder to write to");
    AviWriter writer;
    writer.setCodec(state.range(2) ? packFourCc('I', 'Y', 'U', 'V') : 0);
    state.SetLabel(fourCcName(writer.codec()) + " grey");
    const FramePtr f = patternFrame(w, h);
    const std::string path = dir().file("bench.AVI");
    int64_t frames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const bool opened = writer.open(path, w, h, false);
        state.ResumeTiming();
        if (!opened) {
            state.SkipWithError(writer.error().c_str());
            break;
        }
        for (int i = 0; i < kFramesPerFile; ++i) {
            if (!writer.writeFrame(f->rawImage)) {
                state.SkipWithError(writer.error().c_str());
                break;
            }
            ++frames;
        }
        state.PauseTiming();
        writer.close();
        std::filesystem::remove(dir().file("bench-PART1.AVI"));
        state.ResumeTiming();
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(bmAviWrite)
    ->Args({640, 480, 0})
    ->Args({640, 480, 1})
    ->Args({1280, 960, 0})
    ->Args({1280, 960, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
}  // namespace
