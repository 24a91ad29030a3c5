#include "FrameCopy.h"

#include <fitsio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

namespace indicam {
namespace {

bool ValidPattern(const std::string& p) {
    return p == "RGGB" || p == "BGGR" || p == "GRBG" || p == "GBRG";
}

// Source index for destination index i moved by d (0 or 1): past the far edge, the one two
// back, which has the same parity.
int Moved(int i, int d, int n) {
    const int j = i + d;
    if (j < n) return j;
    return std::max(0, i - d);
}

std::string FitsError(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    return text;
}

}  // namespace

bool DecodeFits(const void* data, size_t size, int bitsPerPixel, Image* out, std::string* error) {
    void* memory = const_cast<void*>(data);  // opened read-only; cfitsio wants a non-const pointer
    size_t memorySize = size;
    fitsfile* f = nullptr;
    int status = 0;
    if (fits_open_memfile(&f, "image.fits", READONLY, &memory, &memorySize, 0, nullptr, &status)) {
        *error = "not a FITS image (" + FitsError(status) + ")";
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
        int anyNull = 0;
        if (bitpix == BYTE_IMG) {
            fits_read_img(f, TBYTE, 1, static_cast<LONGLONG>(n), nullptr, out->pixels.data(),
                          &anyNull, &status);
        } else {
            std::vector<uint16_t> wide(n);
            fits_read_img(f, TUSHORT, 1, static_cast<LONGLONG>(n), nullptr, wide.data(), &anyNull,
                          &status);
            const int depth = bitsPerPixel >= 9 && bitsPerPixel <= 16 ? bitsPerPixel : 16;
            const int shift = depth - 8;
            const unsigned top = (1u << depth) - 1;
            for (size_t i = 0; i < n; ++i)
                out->pixels[i] = static_cast<uint8_t>(std::min<unsigned>(wide[i], top) >> shift);
        }
        if (status) {
            *error = "FITS pixels unreadable (" + FitsError(status) + ")";
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
            if (ValidPattern(p)) {
                int xOff = 0, yOff = 0;
                keyStatus = 0;
                fits_read_key(f, TINT, "XBAYROFF", &xOff, nullptr, &keyStatus);
                keyStatus = 0;
                fits_read_key(f, TINT, "YBAYROFF", &yOff, nullptr, &keyStatus);
                out->bayer = ShiftPattern(p, xOff, yOff);
            }
        }
    }
    if (ok) {
        char date[FLEN_VALUE] = {};
        int keyStatus = 0;
        out->startUs = fits_read_key(f, TSTRING, "DATE-OBS", date, nullptr, &keyStatus) == 0
                           ? FitsDateToUnixUs(date)
                           : 0;
    }
    int closeStatus = 0;
    fits_close_file(f, &closeStatus);
    return ok;
}

long long FitsDateToUnixUs(const std::string& text) {
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

std::string ShiftPattern(const std::string& pattern, int dx, int dy) {
    if (!ValidPattern(pattern)) return pattern;
    std::string moved(4, ' ');
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c)
            moved[static_cast<size_t>(r * 2 + c)] =
                pattern[static_cast<size_t>(((r + dy) & 1) * 2 + ((c + dx) & 1))];
    return moved;
}

std::string ProgramPattern(bool flipped) {
    return flipped ? "GBRG" : "BGGR";
}

bool CopyToFrame(const Image& src, int width, int height, bool mirror, bool flipped, uint8_t* dst) {
    if (width < 1 || height < 1 || src.width < width || src.height < height ||
        src.pixels.size() < static_cast<size_t>(src.width) * static_cast<size_t>(src.height))
        return false;
    const int left = CentredOffset(src.width, width);
    const int top = CentredOffset(src.height, height);

    // The mosaic of the cut-out (even offsets keep it), then of its mirror image.
    std::string pattern = src.bayer;
    if (ValidPattern(pattern) && mirror && (width % 2 == 0)) pattern = ShiftPattern(pattern, 1, 0);
    int dx = 0, dy = 0;
    if (ValidPattern(pattern)) {
        const std::string want = ProgramPattern(flipped);
        for (int i = 0; i < 4; ++i) {
            if (ShiftPattern(pattern, i & 1, i >> 1) == want) {
                dx = i & 1;
                dy = i >> 1;
                break;
            }
        }
    }

    const size_t stride = PaddedStride(width);
    const uint8_t* base = src.pixels.data();
    for (int y = 0; y < height; ++y) {
        const uint8_t* row =
            base +
            static_cast<size_t>(top + Moved(y, dy, height)) * static_cast<size_t>(src.width) + left;
        uint8_t* out = dst + static_cast<size_t>(y) * stride;
        if (!mirror && dx == 0) {
            std::memcpy(out, row, static_cast<size_t>(width));
            continue;
        }
        for (int x = 0; x < width; ++x) {
            const int m = Moved(x, dx, width);  // column in the (mirrored) cut-out
            out[x] = row[mirror ? width - 1 - m : m];
        }
    }
    return true;
}

}  // namespace indicam
