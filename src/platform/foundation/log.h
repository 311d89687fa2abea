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

// Reopens standard error on `path` with fopen mode `mode` and returns the
// stream (the same object as stderr), or nullptr when it cannot be reopened.
std::FILE* redirectStandardErrorToFile(const std::string& path, const char* mode = "w");

// Closes a stream returned by redirectStandardErrorToFile. Later log lines
// are lost until standard error is reopened.
void closeLogFile(std::FILE* stream);

}  // namespace qlt
