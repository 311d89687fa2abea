#include "platform/files/file_error.h"

#include <cerrno>

namespace qlt {

namespace {

Error fileError(int errnum, const std::string& path, bool writing) {
  long code = writing ? kCocoaFileWriteUnknownError : kCocoaFileReadUnknownError;
  std::string text = writing ? "The file couldn’t be saved." : "The file couldn’t be opened.";
  if (errnum == ENOENT || errnum == ENOTDIR) {
    code = kCocoaFileNoSuchFileError;
    text = "The file doesn’t exist.";
  } else if (errnum == EEXIST || errnum == ENOTEMPTY) {
    code = kCocoaFileWriteFileExistsError;
    text = "The file already exists.";
  } else if (errnum == EACCES || errnum == EPERM) {
    code = writing ? kCocoaFileWriteNoPermissionError : kCocoaFileReadNoPermissionError;
    text = "You don’t have permission to access the file.";
  } else if (writing && (errnum == ENOSPC || errnum == EDQUOT)) {
    code = kCocoaFileWriteOutOfSpaceError;
    text = "There isn’t enough space.";
  }
  if (!path.empty()) text.insert(text.size() - 1, " (" + path + ")");
  Error error(kCocoaErrorDomain, code, text);
  if (!path.empty()) error.setUserInfoValue(kFilePathErrorKey, path);
  error.setUnderlyingError(posixError(errnum, path));
  return error;
}

}  // namespace

Error fileReadError(int errnum, const std::string& path) { return fileError(errnum, path, false); }
Error fileWriteError(int errnum, const std::string& path) { return fileError(errnum, path, true); }

}  // namespace qlt
