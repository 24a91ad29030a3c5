#include "recording/FitsFormat.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "recording/FullScale.h"
#include "recording/OutFile.h"

namespace {
std::string padded(std::string s, size_t width) {
    s.resize(width, ' ');
    return s;
}

// Header text must be printable ASCII; anything else would make the file unreadable.
std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 32 || u > 126) c = '?';
    }
    return out;
}

bool fail(OutFile& file, std::string& error) {
    error = file.error();
    file.discard();
    return false;
}
}  // namespace

void fitsValueCard(std::string& header, const std::string& keyword, const std::string& value) {
    std::string card = padded(keyword.substr(0, 8), 8) + "= ";
    const std::string v = value.substr(0, 20);
    card += std::string(20 - v.size(), ' ') + v;
    header += padded(card, kFitsCard);
}

void fitsTextCard(std::string& header, const std::string& keyword, const std::string& text) {
    if (keyword == "END") {
        header += padded(keyword, kFitsCard);
        return;
    }
    header += padded(keyword + "= " + printable(text), kFitsCard);
}

void fitsBlankCards(std::string& header, int count) {
    if (count > 0) header.append(static_cast<size_t>(count) * kFitsCard, ' ');
}

void fitsStringCard(std::string& header, const std::string& keyword, const std::string& text) {
    // Quoted from column 11, the text padded to at least 8 characters inside the quotes.
    std::string quoted = printable(text).substr(0, 68);
    std::string escaped;
    for (char c : quoted) escaped += c == '\'' ? std::string("''") : std::string(1, c);
    if (escaped.size() < 8) escaped.resize(8, ' ');
    header += padded(padded(keyword.substr(0, 8), 8) + "= '" + escaped + "'", kFitsCard);
}

std::string fitsHeader(const Frame& frame, const std::string& moreCards) {
    const int depth = frameDepth(&frame);
    const bool mosaic = frame.pattern != ColorPattern::Mono;
    std::string h;
    h.reserve(kFitsBlock);
    fitsValueCard(h, "SIMPLE", "T");
    fitsValueCard(h, "BITPIX", std::to_string(depth));
    fitsValueCard(h, "NAXIS", "2");
    fitsValueCard(h, "NAXIS1", std::to_string(frameWidth(&frame)));
    fitsValueCard(h, "NAXIS2", std::to_string(frameHeight(&frame)));
    fitsValueCard(h, "BZERO", depth == 16 ? "32768" : "0");
    fitsValueCard(h, "BSCALE", "1.0");
    fitsTextCard(h, "TIMESTAMP", frame.stampText);
    // The eight cards above keep their places whatever follows (readers take TIMESTAMP as
    // the eighth card); every card added since goes after them.
    // Row 0 of the frame is the top row of the picture and is written first: readers that
    // would otherwise draw the first row at the bottom show the frame the right way up.
    fitsStringCard(h, "ROWORDER", "TOP-DOWN");
    if (mosaic) {
        // The colour filter mosaic from the first pixel of the data.
        fitsStringCard(h, "BAYERPAT", patternName(frame.pattern));
        fitsValueCard(h, "XBAYROFF", "0");
        fitsValueCard(h, "YBAYROFF", "0");
    }
    // Whole cards only, and room left for END in the one block.
    const size_t room = kFitsBlock - h.size() - kFitsCard;
    h += moreCards.substr(0, std::min(room, moreCards.size() / kFitsCard * kFitsCard));
    fitsTextCard(h, "END", "");
    fitsBlankCards(h, static_cast<int>((kFitsBlock - h.size()) / kFitsCard));
    return h;
}

void fitsSwap16(uint16_t* data, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint16_t s = static_cast<uint16_t>(data[i] ^ 0x8000u);  // v - 32768, two's complement
        const uint8_t bytes[2] = {static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s & 0xff)};
        std::memcpy(&data[i], bytes, 2);
    }
}

bool writeFitsFile(const std::string& path, const Frame& frame, std::string& error,
                   const std::string& moreCards) {
    if (frame.rawImage.empty()) {
        error = "No frame to write to \"" + path + "\"";
        return false;
    }
    const int depth = frameDepth(&frame);
    const size_t rowBytes = static_cast<size_t>(frameWidth(&frame)) * (depth == 16 ? 2 : 1);
    const size_t rows = static_cast<size_t>(frameHeight(&frame));
    const size_t stride = frameStride(&frame);
    const size_t dataBytes = rowBytes * rows;
    const uint8_t* src = frame.rawImage.data;

    OutFile file;
    // The file appears under its name only once it is whole: a crash leaves no cut frame.
    if (!file.create(path, OutFile::Mode::WholeAtClose)) return fail(file, error);
    const std::string header = fitsHeader(frame, moreCards);
    if (!file.write(header.data(), header.size())) return fail(file, error);

    if (depth == 16 || stride != rowBytes) {
        // Gather the rows into one buffer; 16-bit samples are converted in the copy.
        std::vector<uint8_t> data(dataBytes);
        for (size_t y = 0; y < rows; ++y)
            std::memcpy(data.data() + rowBytes * y, src + stride * y, rowBytes);
        if (depth == 16) {
            // Fewer significant bits are stored at full scale (FullScale.h).
            shiftToFullScale(reinterpret_cast<uint16_t*>(data.data()), dataBytes / 2,
                             frame.bitsPerSample);
            fitsSwap16(reinterpret_cast<uint16_t*>(data.data()), dataBytes / 2);
        }
        if (!file.write(data.data(), data.size())) return fail(file, error);
    } else if (!file.write(src, dataBytes)) {
        return fail(file, error);
    }
    const size_t tail = dataBytes % kFitsBlock;
    if (tail != 0 && !file.writeZeros(kFitsBlock - tail)) return fail(file, error);
    if (!file.close()) return fail(file, error);
    return true;
}
