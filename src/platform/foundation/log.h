#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/foundation/format.h"

namespace qlt {

// Writes one plain line to standard error (a newline is added). Safe to call
// from any thread; lines are never interleaved.
void logLine(std::string_view line);

template <typename... Args>
void log(std::string_view format, const Args&... args) {
  logLine(formatString(format, args...));
}

// Sends standard error to `path`, truncated or, for an fopen mode with "a",
// appended to, and returns the stream (stderr), or nullptr when the file
// cannot be opened (standard error is then left as it was).
std::FILE* redirectStandardErrorToFile(const std::string& path, const char* mode = "w");

// Closes the log file behind a stream returned by redirectStandardErrorToFile
// and gives standard error back what it was before the first redirection.
void closeLogFile(std::FILE* stream);

}  // namespace qlt
