#pragma once

#include <cstdint>
#include <string>

namespace qlt {

// A byte count for people, in decimal units: "512 bytes", "1.2 MB", "3.45 GB".
std::string formatByteCount(int64_t bytes);

// Bytes available to this user on the volume holding `path`; -1 when
// unknown.
int64_t availableCapacity(const std::string& path);

}  // namespace qlt
