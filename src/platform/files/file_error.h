#pragma once

#include <string>

#include "platform/foundation/error.h"

namespace qlt {

inline constexpr long kCocoaFileReadNoPermissionError = 257;
inline constexpr long kCocoaFileWriteNoPermissionError = 513;
inline constexpr long kCocoaFileWriteOutOfSpaceError = 640;

// The Cocoa error for a failed file operation on `path`, with the POSIX
// error `errnum` as underlying error: kCocoaFileNoSuchFileError for a
// missing item, kCocoaFileWriteFileExistsError for an existing one, the
// permission and out-of-space codes, else the read or write unknown error.
Error fileReadError(int errnum, const std::string& path);
Error fileWriteError(int errnum, const std::string& path);

}  // namespace qlt
