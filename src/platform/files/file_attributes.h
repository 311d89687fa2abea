#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"

namespace qlt {

// What the system keeps about an item beyond its contents. Linux has no
// fields for the creation date it cannot set, the hidden-extension flag or
// the classic type and creator codes; those live in extended attributes
// named after kProductIdentifierPrefix.
struct FileAttributes {
  enum class Type { Regular, Directory, SymbolicLink, Other };

  Type type = Type::Other;
  uint64_t size = 0;
  mode_t posixPermissions = 0;
  // The creation date set with setCreationTime, else the birth time when the
  // file system records one, else the earlier of change and modification.
  struct timespec creationTime {};
  struct timespec modificationTime {};
  struct timespec accessTime {};
  bool extensionHidden = false;
  // Four-character codes such as 'TEXT'; 0 when unset.
  uint32_t typeCode = 0;
  uint32_t creatorCode = 0;

  Date creationDate() const { return Date::fromTimespec(creationTime); }
  Date modificationDate() const { return Date::fromTimespec(modificationTime); }
  Date accessDate() const { return Date::fromTimespec(accessTime); }
};

// Failures carry Cocoa file codes (kCocoaFileNoSuchFileError for a missing
// item) with the POSIX error underneath. None of these follows a symbolic
// link at `path`.
[[nodiscard]] std::optional<FileAttributes> attributesOfItem(const std::string& path, Error* error = nullptr);

[[nodiscard]] bool setCreationTime(const std::string& path, const struct timespec& time, Error* error = nullptr);
[[nodiscard]] bool setModificationTime(const std::string& path, const struct timespec& time, Error* error = nullptr);
[[nodiscard]] bool setAccessTime(const std::string& path, const struct timespec& time, Error* error = nullptr);
[[nodiscard]] bool setPosixPermissions(const std::string& path, mode_t permissions, Error* error = nullptr);
[[nodiscard]] bool setExtensionHidden(const std::string& path, bool hidden, Error* error = nullptr);
[[nodiscard]] bool setTypeCode(const std::string& path, uint32_t code, Error* error = nullptr);
[[nodiscard]] bool setCreatorCode(const std::string& path, uint32_t code, Error* error = nullptr);

// 'TEXT' as a number, for readable call sites.
constexpr uint32_t fourCharCode(const char (&code)[5]) {
  return static_cast<uint32_t>(static_cast<unsigned char>(code[0])) << 24 |
         static_cast<uint32_t>(static_cast<unsigned char>(code[1])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(code[2])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(code[3]));
}

}  // namespace qlt
