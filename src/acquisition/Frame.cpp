#include "acquisition/Frame.h"

#include <algorithm>
#include <new>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "acquisition/Log.h"
#include "acquisition/tarvidll.h"

FrameBudget::Hold FrameBudget::holds(uint64_t bytes) const {
    if (queuedFrames_.load() > 0 && bytesQueued() + bytes > queueLimit()) return Hold::Queue;
    const int handOffFrames = inFlight() - framesQueued();
    const uint64_t handOffBytes = bytesInFlight() - bytesQueued();
    if (handOffFrames >= kMinHandOffFrames && handOffBytes + bytes > handOffLimit())
        return Hold::HandOff;
    return Hold::None;
}

uint64_t FrameBudget::totalLimit() const {
    const uint64_t handOff = handOffLimit(), queue = queueLimit();
    return queue > UINT64_MAX - handOff ? UINT64_MAX : handOff + queue;
}

void FrameBudget::take(uint64_t bytes) {
    // Bytes first: a reader that sees the frame count also sees its bytes.
    bytes_.fetch_add(bytes);
    frames_.fetch_add(1);
}

void FrameBudget::give(uint64_t bytes, bool queued) {
    if (queued) {
        queuedFrames_.fetch_sub(1);
        queuedBytes_.fetch_sub(bytes);
    }
    frames_.fetch_sub(1);
    bytes_.fetch_sub(bytes);
}

void FrameBudget::enqueue(uint64_t bytes) {
    const uint64_t now = queuedBytes_.fetch_add(bytes) + bytes;
    queuedFrames_.fetch_add(1);
    uint64_t peak = peakQueued_.load();
    while (now > peak && !peakQueued_.compare_exchange_weak(peak, now)) {
    }
}

Frame::~Frame() {
    if (budget_) budget_->give(budgetBytes_, queued_);
}

void Frame::holdBudget(std::shared_ptr<FrameBudget> budget) {
    if (budget_ || !budget) return;
    budget_ = std::move(budget);
    budgetBytes_ = frameDataSize(this);
    budget_->take(budgetBytes_);
}

void Frame::markQueued() {
    if (!budget_ || queued_) return;
    queued_ = true;
    budget_->enqueue(budgetBytes_);
}

size_t paddedStride(int width, int depth) {
    const size_t bytes = static_cast<size_t>(width) * (depth == 16 ? 2 : 1);
    return (bytes + 3) & ~static_cast<size_t>(3);
}

FramePtr newFrame(int width, int height, const std::string& stampText, bool flipped, int depth) {
    if (width <= 0 || height <= 0) return nullptr;
    FramePtr node(new (std::nothrow) Frame);
    if (!node) return nullptr;
    try {
        node->stampText = stampText;
        node->flipped = flipped;
        node->bitsPerSample = depth == 16 ? 16 : 8;
        node->timeStamp = localNow();
        const size_t stride = paddedStride(width, depth);
        // One padded buffer; rawImage is the width x height view of it, so its step
        // keeps the padding the camera library writes.
        if (depth == 16) {
            cv::Mat buffer(height, static_cast<int>(stride / 2), CV_16UC1);
            node->rawImage = buffer(cv::Rect(0, 0, width, height));
        } else {
            cv::Mat buffer(height, static_cast<int>(stride), CV_8UC1);
            node->rawImage = buffer(cv::Rect(0, 0, width, height));
        }
    } catch (const std::exception& e) {
        // Out of memory (std::bad_alloc or OpenCV's own): no frame this time.
        qCWarning(lcAcquisition, "no memory for a %d x %d frame: %s", width, height, e.what());
        return nullptr;
    }
    return node;
}

cv::Mat eightBitSamples(const cv::Mat& raw, int bitsPerSample) {
    if (raw.depth() != CV_16U) return raw;
    const int bits = std::clamp(bitsPerSample, 8, 16);
    cv::Mat out;
    raw.convertTo(out, CV_8U, 1.0 / static_cast<double>(1 << (bits - 8)), 0.0);
    return out;
}

void mapSamples(const cv::Mat& samples, const std::vector<uint8_t>& table, cv::Mat& out) {
    if (samples.depth() == CV_8U && table.size() == 256) {
        cv::LUT(samples, cv::Mat(1, 256, CV_8U, const_cast<uint8_t*>(table.data())), out);
        return;
    }
    out.create(samples.size(), CV_8UC1);
    if (table.empty()) return;
    const size_t top = table.size() - 1;
    const uint8_t* t = table.data();
    const bool wide = samples.depth() == CV_16U;
    for (int y = 0; y < samples.rows; ++y) {
        uint8_t* o = out.ptr<uint8_t>(y);
        if (wide && table.size() == 65536) {  // every word has its entry: no bounds check
            const uint16_t* in = samples.ptr<uint16_t>(y);
            for (int x = 0; x < samples.cols; ++x) o[x] = t[in[x]];
        } else if (wide) {
            const uint16_t* in = samples.ptr<uint16_t>(y);
            for (int x = 0; x < samples.cols; ++x) o[x] = t[std::min<size_t>(in[x], top)];
        } else {
            const uint8_t* in = samples.ptr<uint8_t>(y);
            for (int x = 0; x < samples.cols; ++x) o[x] = t[std::min<size_t>(in[x], top)];
        }
    }
}

void prepareImage8(Frame& frame) {
    frame.image8 = eightBitSamples(frame.rawImage, frame.bitsPerSample);
}

// The camera library reports a Bayer mosaic by the same value as the pattern's.
static_assert(static_cast<int>(ColorPattern::RGGB) == TARVI_PATTERN_RGGB &&
              static_cast<int>(ColorPattern::GRBG) == TARVI_PATTERN_GRBG &&
              static_cast<int>(ColorPattern::GBRG) == TARVI_PATTERN_GBRG &&
              static_cast<int>(ColorPattern::BGGR) == TARVI_PATTERN_BGGR);

ColorPattern patternFromId(int id) {
    switch (static_cast<ColorPattern>(id)) {
        case ColorPattern::RGGB:
        case ColorPattern::GRBG:
        case ColorPattern::GBRG:
        case ColorPattern::BGGR:
            return static_cast<ColorPattern>(id);
        default:
            return ColorPattern::Mono;
    }
}

const char* patternName(ColorPattern pattern) {
    switch (pattern) {
        case ColorPattern::RGGB:
            return "RGGB";
        case ColorPattern::GRBG:
            return "GRBG";
        case ColorPattern::GBRG:
            return "GBRG";
        case ColorPattern::BGGR:
            return "BGGR";
        default:
            return "";
    }
}

int demosaicCode(ColorPattern pattern) {
    switch (pattern) {
        case ColorPattern::RGGB:
            return cv::COLOR_BayerRGGB2BGR;
        case ColorPattern::GRBG:
            return cv::COLOR_BayerGRBG2BGR;
        case ColorPattern::GBRG:
            return cv::COLOR_BayerGBRG2BGR;
        case ColorPattern::BGGR:
            return cv::COLOR_BayerBGGR2BGR;
        default:
            return cv::COLOR_GRAY2BGR;
    }
}

ColorPattern assumedPattern(bool flipped) {
    return flipped ? ColorPattern::GBRG : ColorPattern::BGGR;
}

void ensureColorImage(Frame& frame) {
    if (!frame.colorImage.empty()) return;
    if (frame.image8.empty()) prepareImage8(frame);
    cv::cvtColor(frame.image8, frame.colorImage, demosaicCode(frame.pattern));
    // A mono frame's samples already carry the text; a mosaic's colour image gets it now.
    if (frame.stampBurnt && frame.pattern != ColorPattern::Mono)
        drawStampText(frame.colorImage, frame.stampText, 255);
}

namespace {
constexpr int kStampFont = cv::FONT_HERSHEY_PLAIN;
const cv::Point kStampAt(20, 20);
}  // namespace

void drawStampText(cv::Mat& image, const std::string& text, double white) {
    if (image.empty() || text.empty()) return;
    cv::putText(image, text, kStampAt, kStampFont, 1.0, cv::Scalar(white, white, white, 0), 1,
                cv::LINE_8, false);
}

void drawStampTextInPart(cv::Mat& part, const std::string& text, double white, cv::Point partAt,
                         cv::Size frameSize) {
    if (part.empty() || text.empty()) return;
    // The text is drawn whole into a mask of its box (with a margin) cut only where the
    // frame ends, as it is cut in the whole frame, then laid onto the part.
    int baseline = 0;
    const cv::Size size = cv::getTextSize(text, kStampFont, 1.0, 1, &baseline);
    const cv::Rect box = cv::Rect(kStampAt.x - 2, kStampAt.y - size.height - 2, size.width + 4,
                                  size.height + baseline + 4) &
                         cv::Rect(cv::Point(0, 0), frameSize);
    const cv::Rect overlap = box & cv::Rect(partAt, part.size());
    if (overlap.empty()) return;
    cv::Mat mask = cv::Mat::zeros(box.size(), CV_8UC1);
    cv::putText(mask, text, kStampAt - box.tl(), kStampFont, 1.0, cv::Scalar(255), 1, cv::LINE_8,
                false);
    cv::Mat target = part(overlap - partAt);
    target.setTo(cv::Scalar(white, white, white, 0), mask(overlap - box.tl()));
}

void burnStampText(Frame& frame) {
    if (frame.stampBurnt || frame.stampText.empty() || frame.rawImage.empty()) return;
    frame.stampBurnt = true;
    if (frame.pattern == ColorPattern::Mono) {
        const int bits = frameDepth(&frame) == 16 ? std::clamp(frame.bitsPerSample, 9, 16) : 8;
        drawStampText(frame.rawImage, frame.stampText, static_cast<double>((1 << bits) - 1));
        // An 8-bit view made before (of a 16-bit frame) is made again with the text.
        if (frameDepth(&frame) == 16) frame.image8.release();
    }
    // Pictures made before are made again: the colour image with the text.
    frame.colorImage.release();
}

namespace {
// 8-bit values of 16-bit samples of `bits` significant bits, as prepareImage8 gives them
// (scaled, rounded half to even, limited to 255); a sample above the range reads the last
// entry, which is 255.
std::vector<uint8_t> levels8(int bits) {
    std::vector<uint8_t> table(size_t{1} << bits);
    const double scale = 1.0 / static_cast<double>(1 << (bits - 8));
    for (size_t v = 0; v < table.size(); ++v)
        table[v] = cv::saturate_cast<uint8_t>(static_cast<double>(v) * scale);
    return table;
}

template <typename T>
void reduce(const Frame& frame, bool colour, cv::Mat& out, const std::vector<uint8_t>* given) {
    const cv::Mat& raw = frame.rawImage;
    const int width = raw.cols, height = raw.rows;
    std::vector<uint8_t> scaled;
    if (!given && sizeof(T) == 2) scaled = levels8(std::clamp(frame.bitsPerSample, 8, 16));
    const std::vector<uint8_t>& table = given ? *given : scaled;
    const size_t top = table.empty() ? 0 : table.size() - 1;
    const auto to8 = [&table, top](int v) -> uint8_t {
        if (table.empty()) return static_cast<uint8_t>(v);
        return table[std::min(static_cast<size_t>(v), top)];
    };
    // Where red and blue lie in a 2 x 2 cell; the greens take the other two places.
    int rx = 0, ry = 0;
    switch (frame.pattern) {
        case ColorPattern::RGGB:
            rx = 0, ry = 0;
            break;
        case ColorPattern::GRBG:
            rx = 1, ry = 0;
            break;
        case ColorPattern::GBRG:
            rx = 0, ry = 1;
            break;
        case ColorPattern::BGGR:
            rx = 1, ry = 1;
            break;
        case ColorPattern::Mono:
            break;
    }
    const bool mosaic = colour && frame.pattern != ColorPattern::Mono && width >= 2 && height >= 2;
    // The source column of each picture column; in colour the left column of its cell.
    std::vector<int> columns(static_cast<size_t>(out.cols));
    for (int x = 0; x < out.cols; ++x) {
        const int sx = std::min(width - 1, static_cast<int>(int64_t{x} * width / out.cols));
        columns[static_cast<size_t>(x)] = mosaic ? std::min(sx & ~1, width - 2) : sx;
    }
    const int* column = columns.data();
    for (int y = 0; y < out.rows; ++y) {
        const int sy = std::min(height - 1, static_cast<int>(int64_t{y} * height / out.rows));
        uint8_t* o = out.ptr<uint8_t>(y);
        if (!mosaic) {
            const T* row = raw.ptr<T>(sy);
            if (colour) {
                for (int x = 0; x < out.cols; ++x)
                    o[3 * x] = o[3 * x + 1] = o[3 * x + 2] = to8(row[column[x]]);
            } else {
                for (int x = 0; x < out.cols; ++x) o[x] = to8(row[column[x]]);
            }
            continue;
        }
        const int cy = std::min(sy & ~1, height - 2);
        const T* redRow = raw.ptr<T>(cy + ry) + rx;
        const T* blueRow = raw.ptr<T>(cy + 1 - ry) + 1 - rx;
        const T* green1 = raw.ptr<T>(cy + ry) + 1 - rx;
        const T* green2 = raw.ptr<T>(cy + 1 - ry) + rx;
        for (int x = 0; x < out.cols; ++x) {
            const int cx = column[x];
            o[3 * x] = to8(blueRow[cx]);
            o[3 * x + 1] = to8((green1[cx] + green2[cx] + 1) >> 1);
            o[3 * x + 2] = to8(redRow[cx]);
        }
    }
}
}  // namespace

void reducedImage8(const Frame& frame, bool colour, cv::Mat& out,
                   const std::vector<uint8_t>* table) {
    if (frame.rawImage.empty() || out.empty()) return;
    if (frameDepth(&frame) == 16)
        reduce<uint16_t>(frame, colour, out, table);
    else
        reduce<uint8_t>(frame, colour, out, table);
}

void croppedImage8(const cv::Mat& raw, ColorPattern pattern, int bitsPerSample, bool colour,
                   cv::Rect crop, cv::Mat& out, const std::vector<uint8_t>* table) {
    crop &= cv::Rect(0, 0, raw.cols, raw.rows);
    if (crop.empty()) {
        out.release();
        return;
    }
    const auto to8 = [bitsPerSample, table](const cv::Mat& samples) {
        if (!table) return eightBitSamples(samples, bitsPerSample);
        cv::Mat mapped;
        mapSamples(samples, *table, mapped);
        return mapped;
    };
    if (!colour) {
        out = to8(raw(crop));
        return;
    }
    // Widened by two pixels where the frame has them, from an even column and row: the
    // widened part starts on the frame's own mosaic phase.
    const int left = std::max(0, (crop.x - 2) & ~1);
    const int top = std::max(0, (crop.y - 2) & ~1);
    const int right = std::min(raw.cols, crop.x + crop.width + 2);
    const int bottom = std::min(raw.rows, crop.y + crop.height + 2);
    const cv::Mat wide = to8(raw(cv::Rect(left, top, right - left, bottom - top)));
    cv::Mat demosaiced;
    cv::cvtColor(wide, demosaiced, demosaicCode(pattern));
    out = demosaiced(cv::Rect(crop.x - left, crop.y - top, crop.width, crop.height));
}

int frameWidth(const Frame* node) {
    return node ? node->rawImage.cols : 0;
}
int frameHeight(const Frame* node) {
    return node ? node->rawImage.rows : 0;
}
int frameDepth(const Frame* node) {
    return node && node->rawImage.depth() == CV_16U ? 16 : 8;
}
uint8_t* frameData(Frame* node) {
    return node ? node->rawImage.data : nullptr;
}
size_t frameStride(const Frame* node) {
    return node ? node->rawImage.step[0] : 0;
}
size_t frameDataSize(const Frame* node) {
    return node ? frameStride(node) * static_cast<size_t>(node->rawImage.rows) : 0;
}
