#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/date.h"
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
  virtual bool isShared() const { return false; }
  virtual bool isSharedByCurrentUser() const { return false; }
  virtual bool isUploaded() const { return true; }
  virtual bool isUploading() const { return false; }
  virtual bool isDownloaded() const { return true; }
  virtual bool isDownloading() const { return false; }
  virtual bool isMostRecentVersionDownloaded() const { return true; }
};

using FileProviderItemPtr = std::shared_ptr<const FileProviderItem>;

}  // namespace qlt
