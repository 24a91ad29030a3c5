#pragma once
// Still frames of a FIT or BMP series: one complete file per frame, under the next free
// numbered name of the still path.
#include <cstddef>
#include <cstdint>
#include <opencv2/core.hpp>
#include <string>

#include "acquisition/ImageList.h"

constexpr size_t FitsBlock = 2880;
constexpr size_t FitsCard = 80;

// Append one 80-byte header card to `header`.
// Value card: keyword in columns 1-8, "= " in 9-10, value right-justified in 11-30.
void FitsValueCard(std::string& header, const std::string& keyword, const std::string& value);
// Text card: "END" alone, or keyword, "=", a space and the unquoted text, cut at column 80.
void FitsTextCard(std::string& header, const std::string& keyword, const std::string& text);
void FitsBlankCards(std::string& header, int count);

// The 2880-byte header block of a frame: nine cards and 27 blank ones.
std::string FitsHeader(const FrameNode* frame);

// Converts 16-bit samples in place to FITS order: v - 32768 as signed big-endian.
void FitsSwap16(uint16_t* data, size_t count);

// Writes the frame as one FITS file at `path`: header, width x height samples without the
// buffer's row padding, zeros to a multiple of 2880. The frame itself is not changed.
// On failure the partial file is removed and LastWriterError() says why.
bool WriteFitsFile(const std::string& path, const FrameNode* frame);

// The frame as a FITS file under NextStillPath(stillPath). `written` receives the name.
bool WriteFits(const FrameNode* frame, const std::string& stillPath,
               std::string* written = nullptr);

// The image (8-bit, 1 or 3 channels) as a BMP file under NextStillPath(stillPath): an 8-bit
// grey bitmap for 1 channel, 24-bit for 3.
bool SaveBmp(const cv::Mat& image, const std::string& stillPath, std::string* written = nullptr);
