#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/codable.h"
#include "platform/foundation/error.h"
#include "platform/files/file_wrapper.h"

namespace qlt {

// A file wrapper in a keyed archive, as an object of class "NSFileWrapper":
//   "type"        "file", "directory" or "link"
//   "contents"    data of a file
//   "destination" string: a link's relative destination
//   "children"    dictionary of name → NSFileWrapper, of a directory
//   "posixPermissions", "creationDate", "modificationDate",
//   "extensionHidden", "typeCode", "creatorCode"   optional attributes
// Custom icons ("Icon\r") are left out when encoding.
//
// Decoding refuses what could not be written safely inside one folder:
// names that are not single path components, links that are absolute, empty,
// contain NUL or climb with "..", a wrapper reached twice, and unknown
// types. Permissions are cut to 0777, and directories stay usable by their
// owner.
class FileWrapperCoding final : public Codable {
 public:
  static constexpr const char* kClassName = "NSFileWrapper";

  // Encodes `wrapper`; `owner` keeps it alive while archiving.
  FileWrapperCoding(std::shared_ptr<const void> owner, const FileWrapper* wrapper)
      : owner_(std::move(owner)), wrapper_(wrapper) {}
  explicit FileWrapperCoding(std::unique_ptr<FileWrapper> decoded)
      : wrapper_(decoded.get()), decoded_(std::move(decoded)) {}

  std::string className() const override { return kClassName; }
  void encode(KeyedArchiver& archiver) const override;

  // The decoded tree, once: a second take gives nullptr.
  std::unique_ptr<FileWrapper> takeWrapper();

  static std::shared_ptr<Codable> decode(KeyedUnarchiver& unarchiver, Error* error);
  // Adds the class to `registry` (idempotent).
  static void registerClass(CodableRegistry& registry);

 private:
  std::shared_ptr<const void> owner_;
  const FileWrapper* wrapper_ = nullptr;
  std::unique_ptr<FileWrapper> decoded_;
};

}  // namespace qlt
