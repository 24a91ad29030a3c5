#pragma once
#include <cstdint>
#include <string>

// Available physical memory in bytes: MemAvailable of /proc/meminfo (0 when unreadable).
uint64_t availablePhysicalMemory();
// Parses the text of a meminfo file; exposed for tests.
uint64_t parseMemAvailable(const std::string& meminfoText);
// Total physical memory in bytes: MemTotal of /proc/meminfo (0 when unreadable).
uint64_t totalPhysicalMemory();
// Parses MemTotal (`field` "MemTotal:") or MemAvailable ("MemAvailable:") of a meminfo text.
uint64_t parseMemField(const std::string& meminfoText, const char* field);
// The memory a recording's writer queue may hold by default: the smaller of 1 GiB and a
// quarter of the physical memory (1 GiB when that cannot be read).
uint64_t defaultWriterQueueBytes();
