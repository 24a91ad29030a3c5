#pragma once
#include <cstdint>
#include <string>

// Available physical memory in bytes: MemAvailable of /proc/meminfo (0 when unreadable).
uint64_t AvailablePhysicalMemory();
// Parses the text of a meminfo file; exposed for tests.
uint64_t ParseMemAvailable(const std::string& meminfoText);
