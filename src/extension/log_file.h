#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "platform/foundation/date.h"

namespace qlt {

// Names of the extension's logs: "File Provider_<local date and time>.log".
inline constexpr const char* kLogFileNamePrefix = "File Provider";
// Logs kept besides the new one.
inline constexpr size_t kOldLogFilesKept = 9;

// "<group container>/Library/File Provider/Logs".
std::string logFolderPath(const std::string& groupContainerPath);

// Makes room for a new log in the log folder (created when missing): when
// ten or more entries named "File Provider…" are found (hidden entries
// skipped, sub-folders searched), the oldest by creation date are deleted so
// that nine remain. Returns the path of the new log, named after `now` in
// local time; nullopt when the folder cannot be created.
[[nodiscard]] std::optional<std::string> prepareNewLogFile(const std::string& groupContainerPath, Date now = Date::now());

// prepareNewLogFile(), then standard error reopened on the new file with
// mode "w". Returns the stream (standard error itself), or null when no log
// file could be opened. Close it with closeLogFile().
std::FILE* redirectStandardErrorToNewLogFile(const std::string& groupContainerPath);

}  // namespace qlt
