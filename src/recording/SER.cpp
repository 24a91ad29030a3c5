#include "recording/SER.h"

#include <cstring>

#include "platform/Rounding.h"
#include "recording/OutFile.h"
#include "recording/WriterStatus.h"

int32_t SerStampCount = 0;
std::vector<int64_t> SerStamps;

namespace {
constexpr int64_t kTicksPerDay = 864000000000LL;
constexpr int64_t kTicksTo18991230 = 599264352000000000LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

OutFile g_file;
int32_t g_width = 0;
int32_t g_height = 0;
int32_t g_depth = 8;
int64_t g_utcShiftTicks = 0;       // local minus UTC, from the offset in force at open
std::vector<uint8_t> g_rowBuffer;  // frame gathered without row padding

void Put32(uint8_t* p, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}
void Put64(uint8_t* p, int64_t v) {
    const uint64_t u = static_cast<uint64_t>(v);
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}
void PutText(uint8_t* p, const char* field, size_t width) {
    std::memset(p, '_', width);
    std::memcpy(p, field, std::strlen(field));
}

size_t BytesPerSample(int32_t depth) {
    return depth > 8 ? 2 : 1;
}
}  // namespace

int64_t ToSerTicks(TDateTime value) {
    return Round(value * static_cast<double>(kTicksPerDay)) + kTicksTo18991230;
}

bool SerIsOpen() {
    return g_file.IsOpen();
}

int32_t SerOpen(const std::string& path, int32_t width, int32_t height, int32_t depth) {
    if (g_file.IsOpen()) SerClose();
    if (width <= 0 || height <= 0 || (depth != 8 && depth != 16)) {
        SetWriterError("Cannot record \"" + path + "\": unsupported frame format " +
                       std::to_string(width) + " x " + std::to_string(height) + ", " +
                       std::to_string(depth) + " bits");
        return WriterNone;
    }
    // The offset is read first, so DateTime and DateTime_UTC describe one instant in one zone.
    const int64_t offsetSeconds = UtcOffsetSeconds();
    const int64_t localTicks = ToSerTicks(Now());
    g_utcShiftTicks = offsetSeconds * kTicksPerSecond;

    uint8_t header[SerHeaderSize];
    std::memcpy(header, "LUCAM-RECORDER", 14);
    Put32(header + 14, 0);       // LuID
    Put32(header + 18, 0);       // ColorID: mono, a Bayer mosaic is stored as grey
    Put32(header + 22, 0);       // LittleEndian
    Put32(header + 26, width);   // ImageWidth
    Put32(header + 30, height);  // ImageHeight
    Put32(header + 34, depth);   // PixelDepthPerPlane
    Put32(header + 38, 0);       // FrameCount, written at close
    PutText(header + 42, "OBSERVER", 40);
    PutText(header + 82, "INSTRUMENT", 40);
    PutText(header + 122, "TELESCOPE", 40);
    Put64(header + 162, localTicks);
    Put64(header + 170, localTicks - g_utcShiftTicks);

    if (!g_file.Create(path)) {
        SetWriterError(g_file.Error());
        return WriterNone;
    }
    if (!g_file.Write(header, sizeof header)) {
        SetWriterError(g_file.Error());
        g_file.Discard();
        return WriterNone;
    }
    g_width = width;
    g_height = height;
    g_depth = depth;
    SerStampCount = 0;
    SerStamps.clear();
    return WriterSer;
}

bool SerWriteFrame(const FrameNode* frame) {
    if (!g_file.IsOpen()) {
        SetWriterError("No SER file is open");
        return false;
    }
    if (!frame || FrameWidth(frame) != g_width || FrameHeight(frame) != g_height ||
        FrameDepth(frame) != g_depth) {
        SetWriterError("Frame does not match the recording \"" + g_file.Path() + "\" (" +
                       std::to_string(g_width) + " x " + std::to_string(g_height) + ", " +
                       std::to_string(g_depth) + " bits)");
        return false;
    }
    const size_t rowBytes = static_cast<size_t>(g_width) * BytesPerSample(g_depth);
    const size_t stride = FrameStride(frame);
    const uint8_t* src = frame->RawImage.data;
    const uint8_t* data = src;
    const size_t frameBytes = rowBytes * static_cast<size_t>(g_height);
    if (stride != rowBytes) {
        g_rowBuffer.resize(frameBytes);
        for (int y = 0; y < g_height; ++y)
            std::memcpy(g_rowBuffer.data() + rowBytes * y, src + stride * y, rowBytes);
        data = g_rowBuffer.data();
    }
    const uint64_t goodEnd = g_file.Position();
    if (!g_file.Write(data, frameBytes)) {
        std::string reason = g_file.Error();
        // A partly written frame would shift every later frame: cut it off again.
        g_file.Truncate(goodEnd);
        SetWriterError(reason);
        return false;
    }
    SerStamps.push_back(ToSerTicks(frame->TimeStamp) - g_utcShiftTicks);
    ++SerStampCount;
    return true;
}

bool SerClose() {
    if (!g_file.IsOpen()) return true;
    bool ok = true;
    std::string reason;
    const uint64_t dataEnd = g_file.Position();
    std::vector<uint8_t> trailer(static_cast<size_t>(SerStampCount) * 8);
    for (int32_t i = 0; i < SerStampCount; ++i) Put64(trailer.data() + 8 * i, SerStamps[i]);
    if (!g_file.Write(trailer.data(), trailer.size())) {
        ok = false;
        reason = g_file.Error();
        // Without its full trailer the file is still a valid SER file: drop the partial one.
        g_file.Truncate(dataEnd);
    }
    uint8_t count[4];
    Put32(count, SerStampCount);
    if (!g_file.WriteAt(SerFrameCountOffset, count, sizeof count) && ok) {
        ok = false;
        reason = g_file.Error();
    }
    if (!g_file.Close() && ok) {
        ok = false;
        reason = g_file.Error();
    }
    if (!ok) SetWriterError(reason);
    return ok;
}
