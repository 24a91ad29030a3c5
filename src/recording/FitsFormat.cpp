#include "recording/FitsFormat.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "recording/OutFile.h"

namespace {
std::string Padded(std::string s, size_t width) {
    s.resize(width, ' ');
    return s;
}

// Header text must be printable ASCII; anything else would make the file unreadable.
std::string Printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 32 || u > 126) c = '?';
    }
    return out;
}

bool Fail(OutFile& file, std::string& error) {
    error = file.Error();
    file.Discard();
    return false;
}
}  // namespace

void FitsValueCard(std::string& header, const std::string& keyword, const std::string& value) {
    std::string card = Padded(keyword.substr(0, 8), 8) + "= ";
    const std::string v = value.substr(0, 20);
    card += std::string(20 - v.size(), ' ') + v;
    header += Padded(card, FitsCard);
}

void FitsTextCard(std::string& header, const std::string& keyword, const std::string& text) {
    if (keyword == "END") {
        header += Padded(keyword, FitsCard);
        return;
    }
    header += Padded(keyword + "= " + Printable(text), FitsCard);
}

void FitsBlankCards(std::string& header, int count) {
    if (count > 0) header.append(static_cast<size_t>(count) * FitsCard, ' ');
}

void FitsStringCard(std::string& header, const std::string& keyword, const std::string& text) {
    // Quoted from column 11, the text padded to at least 8 characters inside the quotes.
    std::string quoted = Printable(text).substr(0, 68);
    std::string escaped;
    for (char c : quoted) escaped += c == '\'' ? std::string("''") : std::string(1, c);
    if (escaped.size() < 8) escaped.resize(8, ' ');
    header += Padded(Padded(keyword.substr(0, 8), 8) + "= '" + escaped + "'", FitsCard);
}

std::string FitsHeader(const Frame& frame, const std::string& moreCards) {
    const int depth = FrameDepth(&frame);
    const bool mosaic = frame.Pattern != ColorPattern::Mono;
    std::string h;
    h.reserve(FitsBlock);
    FitsValueCard(h, "SIMPLE", "T");
    FitsValueCard(h, "BITPIX", std::to_string(depth));
    FitsValueCard(h, "NAXIS", "2");
    FitsValueCard(h, "NAXIS1", std::to_string(FrameWidth(&frame)));
    FitsValueCard(h, "NAXIS2", std::to_string(FrameHeight(&frame)));
    FitsValueCard(h, "BZERO", depth == 16 ? "32768" : "0");
    FitsValueCard(h, "BSCALE", "1.0");
    if (mosaic) {
        // The colour filter mosaic from the first pixel of the data.
        FitsStringCard(h, "BAYERPAT", PatternName(frame.Pattern));
        FitsValueCard(h, "XBAYROFF", "0");
        FitsValueCard(h, "YBAYROFF", "0");
    }
    FitsTextCard(h, "TIMESTAMP", frame.StampText);
    // Whole cards only, and room left for END in the one block.
    const size_t room = FitsBlock - h.size() - FitsCard;
    h += moreCards.substr(0, std::min(room, moreCards.size() / FitsCard * FitsCard));
    FitsTextCard(h, "END", "");
    FitsBlankCards(h, static_cast<int>((FitsBlock - h.size()) / FitsCard));
    return h;
}

void FitsSwap16(uint16_t* data, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint16_t s = static_cast<uint16_t>(data[i] ^ 0x8000u);  // v - 32768, two's complement
        const uint8_t bytes[2] = {static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s & 0xff)};
        std::memcpy(&data[i], bytes, 2);
    }
}

bool WriteFitsFile(const std::string& path, const Frame& frame, std::string& error,
                   const std::string& moreCards) {
    if (frame.RawImage.empty()) {
        error = "No frame to write to \"" + path + "\"";
        return false;
    }
    const int depth = FrameDepth(&frame);
    const size_t rowBytes = static_cast<size_t>(FrameWidth(&frame)) * (depth == 16 ? 2 : 1);
    const size_t rows = static_cast<size_t>(FrameHeight(&frame));
    const size_t stride = FrameStride(&frame);
    const size_t dataBytes = rowBytes * rows;
    const uint8_t* src = frame.RawImage.data;

    OutFile file;
    if (!file.Create(path)) return Fail(file, error);
    const std::string header = FitsHeader(frame, moreCards);
    if (!file.Write(header.data(), header.size())) return Fail(file, error);

    if (depth == 16 || stride != rowBytes) {
        // Gather the rows into one buffer; 16-bit samples are converted in the copy.
        std::vector<uint8_t> data(dataBytes);
        for (size_t y = 0; y < rows; ++y)
            std::memcpy(data.data() + rowBytes * y, src + stride * y, rowBytes);
        if (depth == 16) FitsSwap16(reinterpret_cast<uint16_t*>(data.data()), dataBytes / 2);
        if (!file.Write(data.data(), data.size())) return Fail(file, error);
    } else if (!file.Write(src, dataBytes)) {
        return Fail(file, error);
    }
    const size_t tail = dataBytes % FitsBlock;
    if (tail != 0 && !file.WriteZeros(FitsBlock - tail)) return Fail(file, error);
    if (!file.Close()) return Fail(file, error);
    return true;
}
