#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"

namespace qlt {

// What the file-provider service may do with an item.
enum FileProviderItemCapabilities : uint64_t {
  kFileProviderItemAllowsReading = 1,
  kFileProviderItemAllowsWriting = 2,
  kFileProviderItemAllowsReparenting = 4,
  kFileProviderItemAllowsRenaming = 8,
  kFileProviderItemAllowsTrashing = 16,
  kFileProviderItemAllowsDeleting = 32,
  kFileProviderItemAllowsEvicting = 64,
};

enum FileProviderFileSystemFlags : uint64_t {
  kFileProviderFileSystemUserReadable = 2,
  kFileProviderFileSystemUserWritable = 4,
  kFileProviderFileSystemHidesExtension = 16,
};

// Which fields of an item a request carries (create) or changed (modify).
enum FileProviderItemFields : uint64_t {
  kFileProviderItemContents = 1,
  kFileProviderItemFilename = 2,
  kFileProviderItemParentItemIdentifier = 4,
  kFileProviderItemLastUsedDate = 8,
  kFileProviderItemTagData = 16,
  kFileProviderItemFavoriteRank = 32,
  kFileProviderItemCreationDate = 64,
  kFileProviderItemContentModificationDate = 128,
  kFileProviderItemFileSystemFlags = 256,
  kFileProviderItemExtendedAttributes = 512,
  kFileProviderItemTypeAndCreator = 1024,
};

// Options of the service's create request.
enum FileProviderCreateItemOptions : uint64_t {
  kFileProviderCreateItemMayAlreadyExist = 1,
  kFileProviderCreateItemDeletionConflicted = 2,
};

// Options of the service's modify request.
enum FileProviderModifyItemOptions : uint64_t {
  kFileProviderModifyItemMayAlreadyExist = 1,
};

// Options of the service's delete request.
enum FileProviderDeleteItemOptions : uint64_t {
  kFileProviderDeleteItemRecursive = 1,
};

// Two opaque byte strings the service compares for equality only.
struct FileProviderItemVersion {
  Bytes contentVersion;
  Bytes metadataVersion;
  bool operator==(const FileProviderItemVersion&) const = default;
};

// The service's questions about one item or folder. Answers are snapshots:
// an implementation may be read on any thread.
class FileProviderItem {
 public:
  virtual ~FileProviderItem() = default;

  virtual std::string itemIdentifier() const = 0;
  virtual std::string parentItemIdentifier() const { return {}; }
  virtual std::string filename() const { return {}; }
  // A type identifier; empty when none.
  virtual std::string contentType() const { return {}; }
  [[nodiscard]] virtual std::optional<uint64_t> documentSize() const { return std::nullopt; }
  [[nodiscard]] virtual std::optional<uint64_t> childItemCount() const { return std::nullopt; }
  [[nodiscard]] virtual std::optional<Date> creationDate() const { return std::nullopt; }
  [[nodiscard]] virtual std::optional<Date> contentModificationDate() const { return std::nullopt; }
  [[nodiscard]] virtual std::optional<Date> lastUsedDate() const { return std::nullopt; }
  virtual uint64_t capabilities() const { return 0; }
  virtual uint64_t fileSystemFlags() const {
    return kFileProviderFileSystemUserReadable | kFileProviderFileSystemUserWritable;
  }
  virtual FileProviderItemVersion itemVersion() const { return {}; }
  virtual std::map<std::string, Bytes> extendedAttributes() const { return {}; }
  [[nodiscard]] virtual std::optional<Bytes> tagData() const { return std::nullopt; }
  // The classic type code in the low 32 bits, the creator code in the high.
  [[nodiscard]] virtual std::optional<uint64_t> typeAndCreator() const { return std::nullopt; }
  virtual bool isShared() const { return false; }
  virtual bool isSharedByCurrentUser() const { return false; }
  virtual bool isUploaded() const { return true; }
  virtual bool isUploading() const { return false; }
  virtual bool isDownloaded() const { return true; }
  virtual bool isDownloading() const { return false; }
  virtual bool isMostRecentVersionDownloaded() const { return true; }
};

using FileProviderItemPtr = std::shared_ptr<const FileProviderItem>;

// An item described by values: the templates the service hands to create
// and modify requests.
class FileProviderItemTemplate : public FileProviderItem {
 public:
  // The values `item` answers now, to be changed for a modify request.
  static std::shared_ptr<FileProviderItemTemplate> copyOf(const FileProviderItem& item);

  std::string identifier;
  std::string parent;
  std::string name;
  std::string type;
  std::optional<uint64_t> size;
  std::optional<Date> created;
  std::optional<Date> modified;
  std::optional<Date> lastUsed;
  uint64_t flags = kFileProviderFileSystemUserReadable | kFileProviderFileSystemUserWritable;
  std::map<std::string, Bytes> attributes;
  std::optional<Bytes> tags;
  std::optional<uint64_t> typeAndCreatorCodes;

  std::string itemIdentifier() const override { return identifier; }
  std::string parentItemIdentifier() const override { return parent; }
  std::string filename() const override { return name; }
  std::string contentType() const override { return type; }
  std::optional<uint64_t> documentSize() const override { return size; }
  std::optional<Date> creationDate() const override { return created; }
  std::optional<Date> contentModificationDate() const override { return modified; }
  std::optional<Date> lastUsedDate() const override { return lastUsed; }
  uint64_t fileSystemFlags() const override { return flags; }
  std::map<std::string, Bytes> extendedAttributes() const override { return attributes; }
  std::optional<Bytes> tagData() const override { return tags; }
  std::optional<uint64_t> typeAndCreator() const override { return typeAndCreatorCodes; }
};

// The name-collision error, holding the item that has the name.
inline constexpr const char* kFileProviderErrorCollidingItemKey = "NSFileProviderErrorCollidingItem";
Error fileProviderErrorForCollisionWithItem(const FileProviderItemPtr& item);
// Items the service must not sync (aliases, links, applications).
inline constexpr long kFileProviderErrorExcludedFromSync = -2010;

}  // namespace qlt
