#include "FrameCopy.h"

#include <fitsio.h>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace indicam {
namespace {

bool validPattern(const std::string& p) {
    return p == "RGGB" || p == "BGGR" || p == "GRBG" || p == "GBRG";
}

// Copies rows of the cut-out at (left, top) into dst, each sample through put(out, x, value).
template <typename Word, typename Put>
void copyRows(const Image& src, int width, int height, int left, int top, bool mirror, uint8_t* dst,
              size_t stride, Put put) {
    for (int y = 0; y < height; ++y) {
        const uint16_t* row = src.pixels.data() +
                              static_cast<size_t>(top + y) * static_cast<size_t>(src.width) + left;
        Word* out = reinterpret_cast<Word*>(dst + static_cast<size_t>(y) * stride);
        if (mirror)
            for (int x = 0; x < width; ++x) put(out, x, row[width - 1 - x]);
        else
            for (int x = 0; x < width; ++x) put(out, x, row[x]);
    }
}

std::string fitsError(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    return text;
}

}  // namespace

bool decodeFits(const void* data, size_t size, int bitsPerPixel, Image* out, std::string* error) {
    void* memory = const_cast<void*>(data);  // opened read-only; cfitsio wants a non-const pointer
    size_t memorySize = size;
    fitsfile* f = nullptr;
    int status = 0;
    if (fits_open_memfile(&f, "image.fits", READONLY, &memory, &memorySize, 0, nullptr, &status)) {
        *error = "not a FITS image (" + fitsError(status) + ")";
        return false;
    }
    int bitpix = 0, naxis = 0;
    long naxes[3] = {0, 0, 0};
    bool ok = fits_get_img_param(f, 3, &bitpix, &naxis, naxes, &status) == 0;
    if (ok && (naxis != 2 || naxes[0] < 1 || naxes[1] < 1)) {
        *error = "FITS image with " + std::to_string(naxis) +
                 " axes; a single plane (mono or colour mosaic) is needed";
        ok = false;
    }
    if (ok && bitpix != BYTE_IMG && bitpix != SHORT_IMG && bitpix != USHORT_IMG) {
        *error = "FITS image of " + std::to_string(bitpix) + " bits per pixel; 8 or 16 are read";
        ok = false;
    }
    if (ok) {
        const int w = static_cast<int>(naxes[0]);
        const int h = static_cast<int>(naxes[1]);
        const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
        out->width = w;
        out->height = h;
        out->pixels.resize(n);
        out->bits = bitpix == BYTE_IMG                        ? 8
                    : bitsPerPixel >= 9 && bitsPerPixel <= 16 ? bitsPerPixel
                                                              : 16;
        int anyNull = 0;
        fits_read_img(f, TUSHORT, 1, static_cast<LONGLONG>(n), nullptr, out->pixels.data(),
                      &anyNull, &status);
        if (status) {
            *error = "FITS pixels unreadable (" + fitsError(status) + ")";
            ok = false;
        }
    }
    if (ok) {
        char pattern[FLEN_VALUE] = {};
        int keyStatus = 0;
        out->bayer.clear();
        if (fits_read_key(f, TSTRING, "BAYERPAT", pattern, nullptr, &keyStatus) == 0) {
            std::string p(pattern);
            p.erase(std::remove(p.begin(), p.end(), ' '), p.end());
            if (validPattern(p)) {
                int xOff = 0, yOff = 0;
                keyStatus = 0;
                fits_read_key(f, TINT, "XBAYROFF", &xOff, nullptr, &keyStatus);
                keyStatus = 0;
                fits_read_key(f, TINT, "YBAYROFF", &yOff, nullptr, &keyStatus);
                out->bayer = shiftPattern(p, xOff, yOff);
            }
        }
    }
    if (ok) {
        char date[FLEN_VALUE] = {};
        int keyStatus = 0;
        out->startUs = fits_read_key(f, TSTRING, "DATE-OBS", date, nullptr, &keyStatus) == 0
                           ? fitsDateToUnixUs(date)
                           : 0;
    }
    int closeStatus = 0;
    fits_close_file(f, &closeStatus);
    return ok;
}

long long fitsDateToUnixUs(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, status = 0;
    double second = 0;
    // cfitsio reads the date with its fraction of a second; a date without a time is
    // midnight, which is no exposure start.
    if (text.find('T') == std::string::npos ||
        fits_str2time(const_cast<char*>(text.c_str()), &year, &month, &day, &hour, &minute, &second,
                      &status) != 0)
        return 0;
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    const long long whole = static_cast<long long>(timegm(&t));
    return whole * 1000000 + std::llround(second * 1e6);
}

std::string shiftPattern(const std::string& pattern, int dx, int dy) {
    if (!validPattern(pattern)) return pattern;
    std::string moved(4, ' ');
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c)
            moved[static_cast<size_t>(r * 2 + c)] =
                pattern[static_cast<size_t>(((r + dy) & 1) * 2 + ((c + dx) & 1))];
    return moved;
}

bool copyToFrame(const Image& src, int width, int height, bool mirror, int depth, uint8_t* dst,
                 int left, int top) {
    if (width < 1 || height < 1 || src.width < width || src.height < height ||
        src.pixels.size() < static_cast<size_t>(src.width) * static_cast<size_t>(src.height))
        return false;
    const size_t stride = paddedStride(width, depth);
    left = placedOffset(src.width, width, left);
    top = placedOffset(src.height, height, top);
    if (depth == 16) {
        copyRows<uint16_t>(src, width, height, left, top, mirror, dst, stride,
                           [](uint16_t* out, int x, uint16_t v) { out[x] = v; });
        return true;
    }
    // To 8 bits: the top 8 of the significant bits; values beyond them are full scale.
    const int shift = std::clamp(src.bits, 8, 16) - 8;
    const unsigned fullScale = (1u << (shift + 8)) - 1;
    copyRows<uint8_t>(src, width, height, left, top, mirror, dst, stride,
                      [=](uint8_t* out, int x, uint16_t v) {
                          out[x] = static_cast<uint8_t>(std::min<unsigned>(v, fullScale) >> shift);
                      });
    return true;
}

std::string framePattern(const Image& src, int width, int height, bool mirror, int left, int top) {
    if (!validPattern(src.bayer)) return {};
    // The cut-out starts at even offsets (the same cell); its mirror image starts at the
    // cut-out's last column.
    const std::string cut = shiftPattern(src.bayer, placedOffset(src.width, width, left),
                                         placedOffset(src.height, height, top));
    return mirror ? shiftPattern(cut, width - 1, 0) : cut;
}

}  // namespace indicam
