#pragma once
// FITS files of single frames: the header cards, the sample order, and one complete file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "acquisition/Frame.h"

constexpr size_t kFitsBlock = 2880;
constexpr size_t kFitsCard = 80;

// Append one 80-byte header card to `header`.
// Value card: keyword in columns 1-8, "= " in 9-10, value right-justified in 11-30.
void fitsValueCard(std::string& header, const std::string& keyword, const std::string& value);
// Text card: "END" alone, or keyword, "=", a space and the unquoted text, cut at column 80.
void fitsTextCard(std::string& header, const std::string& keyword, const std::string& text);
void fitsBlankCards(std::string& header, int count);
// String value card: keyword, "= " and the text quoted from column 11 (quotes doubled).
void fitsStringCard(std::string& header, const std::string& keyword, const std::string& text);

// The 2880-byte header block of a frame: SIMPLE, BITPIX, NAXIS, NAXIS1, NAXIS2, BZERO,
// BSCALE and TIMESTAMP always as the first eight cards, END, and blank cards to fill the
// block. Between TIMESTAMP and END, in place of as many blank cards: ROWORDER ('TOP-DOWN':
// the first row of the data is the top of the picture), BAYERPAT, XBAYROFF and YBAYROFF
// (0: the pattern starts at the first pixel) for a mosaic frame, then `moreCards` (whole
// 80-byte cards, at most 23).
std::string fitsHeader(const Frame& frame, const std::string& moreCards = std::string());

// Converts 16-bit samples in place to FITS order: v - 32768 as signed big-endian.
void fitsSwap16(uint16_t* data, size_t count);

// Writes the frame as one FITS file at `path`: header, width x height samples without the
// buffer's row padding, zeros to a multiple of 2880. The frame itself is not changed.
// On failure the partial file is removed and `error` says why, naming the file.
bool writeFitsFile(const std::string& path, const Frame& frame, std::string& error,
                   const std::string& moreCards = std::string());
