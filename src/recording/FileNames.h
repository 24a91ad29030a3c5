#pragma once
// Numbered output names: every recording and every still frame gets the next free
// five-digit number, so no capture overwrites an earlier file.
#include <cstdint>
#include <string>

// The suffix of a SER recording's side file of time stamps ("moon_00003.SER.stamps").
constexpr char kSerStampsSuffix[] = ".stamps";

// The side file of a SER or AVI recording's seeing figures, one row per frame: the
// recording's path less its extension, and ".quality.csv" ("moon_00003.quality.csv").
std::string qualityFilePath(const std::string& recordingPath);

// The folder of a path ("." for a bare name, "/" for a file at the root).
std::string folderOfPath(const std::string& path);

// The number with leading zeros up to five digits ("00042"); from 100000 on all digits.
std::string numberText(int32_t n);

// For a path ending in a four-character extension (".SER", ".AVI", ".FIT", ".BMP"): the
// path less the extension, "_", the number text, and the extension in upper case.
std::string numberedName(const std::string& path, int32_t n);

// Whether any of the AVI part files <name less its extension>-PART0.AVI ... -PART99.AVI exists.
bool aviPartsExist(const std::string& name);

// The first number whose numbered name of `path` is not taken, neither by a file of that
// name, nor by a side file of it (SER stamps, seeing figures), nor by AVI part files of it.
int32_t nextRecordingNumber(const std::string& path);

// The first number from `from` on whose numbered name of `path` is not taken by a file.
int32_t firstFreeNumber(const std::string& path, int32_t from);
