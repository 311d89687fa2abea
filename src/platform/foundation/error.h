#pragma once

#include <any>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace qlt {

// An error as the rest of the system sees it: a domain, an integer code, a
// localized description and a user-info dictionary. Copies are cheap enough
// to pass by value; the underlying error is shared.
class Error {
 public:
  Error() = default;
  Error(std::string domain, long code, std::string localizedDescription = {});

  const std::string& domain() const { return domain_; }
  long code() const { return code_; }
  bool is(const std::string& domain, long code) const { return domain_ == domain && code_ == code; }

  // The localized description, or a generic text naming domain and code when
  // none was given.
  std::string localizedDescription() const;
  void setLocalizedDescription(std::string text) { localizedDescription_ = std::move(text); }

  const Error* underlyingError() const { return underlying_.get(); }
  void setUnderlyingError(const Error& error) { underlying_ = std::make_shared<Error>(error); }

  // The identifier of the file-provider item the error is about, if any.
  const std::optional<std::string>& itemIdentifier() const { return itemIdentifier_; }
  void setItemIdentifier(std::string identifier) { itemIdentifier_ = std::move(identifier); }

  // Free user-info keys. Values are usually strings or numbers; layers above
  // may store their own types (per-record errors, records) under their keys.
  const std::map<std::string, std::any>& userInfo() const { return userInfo_; }
  void setUserInfoValue(const std::string& key, std::any value);
  const std::any* userInfoValue(const std::string& key) const;
  [[nodiscard]] std::optional<std::string> userInfoString(const std::string& key) const;

  // One line for logs: Error Domain=<domain> Code=<code> "<description>" UserInfo={...}
  std::string description() const;

 private:
  std::string domain_;
  long code_ = 0;
  std::string localizedDescription_;
  std::shared_ptr<const Error> underlying_;
  std::optional<std::string> itemIdentifier_;
  std::map<std::string, std::any> userInfo_;
};

// Stores `error` through an optional out-parameter.
inline void setError(Error* out, Error error) {
  if (out) *out = std::move(error);
}

// User-info keys shared by every layer.
inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr const char* kFilePathErrorKey = "NSFilePath";
inline constexpr const char* kURLErrorKey = "NSURL";

// Cocoa domain and the codes the system reports.
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr long kCocoaUserCancelledError = 3072;
inline constexpr long kCocoaServiceReplyInvalidError = 4101;
inline constexpr long kCocoaFileNoSuchFileError = 4;
inline constexpr long kCocoaFileReadUnknownError = 256;
inline constexpr long kCocoaFileReadCorruptFileError = 259;
inline constexpr long kCocoaFileWriteUnknownError = 512;
inline constexpr long kCocoaFileWriteFileExistsError = 516;
inline constexpr long kCocoaPropertyListReadCorruptError = 3840;
inline constexpr long kCocoaPropertyListWriteInvalidError = 3852;
inline constexpr long kCocoaCoderReadCorruptError = 4864;
inline constexpr long kCocoaCoderValueNotFoundError = 4865;
inline constexpr long kCocoaCoderInvalidValueError = 4866;

// POSIX errors (errno values) keep their number as code.
inline constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";
Error posixError(int errnum, const std::string& path = {});

// File-provider domain.
inline constexpr const char* kFileProviderErrorDomain = "NSFileProviderErrorDomain";
inline constexpr long kFileProviderErrorNotAuthenticated = -1000;
inline constexpr long kFileProviderErrorFilenameCollision = -1001;
inline constexpr long kFileProviderErrorSyncAnchorExpired = -1002;
inline constexpr long kFileProviderErrorInsufficientQuota = -1003;
inline constexpr long kFileProviderErrorServerUnreachable = -1004;
inline constexpr long kFileProviderErrorNoSuchItem = -1005;
inline constexpr long kFileProviderErrorDirectoryNotEmpty = -1007;
inline constexpr long kFileProviderErrorProviderNotFound = -2001;
inline constexpr long kFileProviderErrorCannotSynchronize = -2005;
inline constexpr const char* kFileProviderErrorNonExistentItemIdentifierKey =
    "NSFileProviderErrorNonExistentItemIdentifier";

Error fileProviderError(long code, const std::string& localizedDescription = {});
// The no-such-item error for `identifier`.
Error fileProviderErrorForNonExistentItem(const std::string& identifier);

// The cancellation error operations report.
Error userCancelledError();

}  // namespace qlt
