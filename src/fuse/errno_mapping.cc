#include "fuse/errno_mapping.h"

#include <cerrno>

#include "model/folder.h"
#include "model/item_error.h"
#include "platform/files/file_path.h"

namespace qlt::fuse {

int errnoFor(const Error& error) {
  if (error.domain() == kPOSIXErrorDomain && error.code() > 0) return static_cast<int>(error.code());
  if (error.domain() == kFileProviderErrorDomain) {
    switch (error.code()) {
      case kFileProviderErrorNoSuchItem: return ENOENT;
      case kFileProviderErrorFilenameCollision: return EEXIST;
      case kFileProviderErrorDirectoryNotEmpty: return ENOTEMPTY;
      case kFileProviderErrorInsufficientQuota: return ENOSPC;
      case kFileProviderErrorServerUnreachable: return EIO;
      case kFileProviderErrorNotAuthenticated: return EACCES;
      case kFileProviderErrorProviderNotFound: return ENODEV;
      default: break;
    }
  }
  if (error.domain() == kCocoaErrorDomain) {
    switch (error.code()) {
      case kCocoaUserCancelledError: return EINTR;
      case kCocoaFileNoSuchFileError: return ENOENT;
      case kCocoaFileWriteFileExistsError: return EEXIST;
      case kCocoaFileWriteInvalidFileNameError: return EINVAL;
      default: break;
    }
  }
  if (error.domain() == kItemErrorDomain &&
      (error.code() == kItemFileExistsErrorCode || error.code() == kItemFolderExistsErrorCode))
    return EEXIST;
  if (error.domain() == kFolderErrorDomain) {
    switch (error.code()) {
      case kFolderWithNameExistsErrorCode:
      case kFolderItemWithNameExistsErrorCode: return EEXIST;
      case kFolderContainsFolderURLErrorCode: return EINVAL;
      default: break;
    }
  }
  if (const Error* underlying = error.underlyingError()) return errnoFor(*underlying);
  return EIO;
}

}  // namespace qlt::fuse
