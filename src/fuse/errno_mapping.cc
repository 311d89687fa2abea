#include "fuse/errno_mapping.h"

#include <cerrno>

namespace qlt::fuse {

int errnoFor(const Error& error) {
  if (error.domain() == kPOSIXErrorDomain && error.code() > 0) return static_cast<int>(error.code());
  if (error.domain() == kFileProviderErrorDomain) {
    switch (error.code()) {
      case kFileProviderErrorNoSuchItem: return ENOENT;
      case kFileProviderErrorFilenameCollision: return EEXIST;
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
      default: break;
    }
  }
  if (const Error* underlying = error.underlyingError()) return errnoFor(*underlying);
  return EIO;
}

}  // namespace qlt::fuse
