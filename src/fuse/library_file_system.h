#pragma once

#include "fuse/node_table.h"

#include <atomic>
#include <memory>
#include <string>

#include "fuse/service_client.h"

namespace qlt::fuse {

// The library as a tree of directories and files, answering the kernel's
// requests through the service's requests alone: listings page through
// enumerators, attributes come from descriptors, reads from handed-out
// contents. Packages are directories whose entries are those of their
// handed-out contents.
class LibraryFileSystem {
 public:
  // Kernel caches are trusted this long; changes invalidate them sooner.
  static constexpr double kCacheSeconds = 60.0;

  LibraryFileSystem(std::shared_ptr<ServiceClient> client, std::string mountPoint);

  static const fuse_lowlevel_ops& operations();
  // The session whose kernel caches changes invalidate; null before mount.
  void setSession(fuse_session* session) { session_ = session; }
  fuse_session* session() const { return session_; }

  ServiceClient& client() { return *client_; }
  NodeTable& table() { return table_; }
  const std::string& mountPoint() const { return mountPoint_; }

  // The children of a directory node, listing it when it was not listed.
  [[nodiscard]] std::shared_ptr<const Children> childrenOf(fuse_ino_t directory, Error* error);
  // Places a descriptor under `parent`; its node's ino.
  fuse_ino_t placeItem(const FileProviderItemPtr& item, fuse_ino_t parent);
  // For an entry inside a package, its handed-out copy may be fetched.
  [[nodiscard]] std::optional<struct stat> attributesOf(const Node& node);

  // Tells the kernel to drop what it keeps of an entry, a node's attributes
  // (and with `data`, its contents), a directory's listing.
  void invalidateEntry(fuse_ino_t parent, const std::string& name);
  void invalidateNode(fuse_ino_t ino, bool data);

 private:
  std::shared_ptr<ServiceClient> client_;
  std::string mountPoint_;
  NodeTable table_;
  std::atomic<fuse_session*> session_{nullptr};
};

// Whether a descriptor shows as a directory, and whether as a package.
bool isDirectoryItem(const FileProviderItem& item);
bool isPackageItem(const FileProviderItem& item);
// The comma-separated tag names of user.xdg.tags; empty without tags.
std::string xdgTags(const FileProviderItem& item);

}  // namespace qlt::fuse
