#pragma once
// Numbered output names: every recording and every still frame gets the next free
// five-digit number, so no capture overwrites an earlier file.
#include <cstdint>
#include <string>

// The number with leading zeros up to five digits ("00042"); from 100000 on all digits.
std::string NumberText(int32_t n);

// For a path ending in a four-character extension (".SER", ".AVI", ".FIT", ".BMP"): the
// path less the extension, "_", the number text, and the extension in upper case.
std::string NumberedName(const std::string& path, int32_t n);

// Whether any of the AVI part files <name less its extension>-PART0.AVI ... -PART99.AVI exists.
bool AviPartsExist(const std::string& name);

// The first number whose numbered name of `path` is not taken, neither by a file of that
// name nor by AVI part files of it.
int32_t NextRecordingNumber(const std::string& path);

// The still path seen last and the number given out last; the next call for the same still
// path continues the search from there.
extern std::string LastStillPath;
extern int32_t LastStillNumber;

// The next free numbered name for a still frame of a FIT or BMP series.
std::string NextStillPath(const std::string& stillPath);
