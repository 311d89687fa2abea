#pragma once

#include "fuse/node_table.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "fuse/service_client.h"
#include "fuse/staged_file.h"

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
  // Listings taken from the service and changes followed from the library
  // take turns. Changes made to the tree while this lock is held make a
  // listing begun before them stale: it is taken again rather than kept,
  // so that it cannot bring back what they moved or removed. Tell the
  // kernel only after unlocking: its invalidations may wait for requests
  // that wait for this lock.
  [[nodiscard]] std::unique_lock<std::mutex> changeTree();
  // Places a descriptor under `parent`; its node's ino.
  fuse_ino_t placeItem(const FileProviderItemPtr& item, fuse_ino_t parent);
  // For an entry inside a package, its handed-out copy may be fetched.
  [[nodiscard]] std::optional<struct stat> attributesOf(const Node& node);

  // Tells the kernel to drop what it keeps of an entry, a node's attributes
  // (and with `data`, its contents), a directory's listing.
  void invalidateEntry(fuse_ino_t parent, const std::string& name);
  void invalidateNode(fuse_ino_t ino, bool data);

  // Writing. New contents are collected in staged files in this directory
  // (empty: nothing can be written).
  void setStagingDirectory(std::string directory) { stagingDirectory_ = std::move(directory); }
  // A file made by a program but not yet in the library: a node of its own
  // with empty staged contents, listed under `parent` until it is created
  // or removed.
  [[nodiscard]] std::optional<fuse_ino_t> addPendingFile(fuse_ino_t parent, const std::string& name, Error* error);
  [[nodiscard]] bool isPending(fuse_ino_t ino) const;
  // The staged contents of a node, if it has any.
  std::shared_ptr<StagedFile> stagedFile(fuse_ino_t ino) const;
  // The node's staged contents, made when it has none: empty with
  // `truncate`, else a copy of its current contents. One more handle holds
  // them until releaseStagedFile().
  [[nodiscard]] std::shared_ptr<StagedFile> openStagedFile(fuse_ino_t ino, bool truncate, Error* error);
  void releaseStagedFile(fuse_ino_t ino);
  // Hands staged contents to the service: a pending file becomes an item
  // (create request), an item gets new contents (modify request). Nothing
  // to do when they are unchanged. REQUIRES: `staged->mutex` held.
  [[nodiscard]] bool commit(fuse_ino_t ino, StagedFile& staged, Error* error);
  // Asks the service to delete an item; descriptors of it that the change
  // follower read before the deletion no longer bring it back.
  [[nodiscard]] bool deleteItem(const std::string& identifier, bool recursive, Error* error);
  // The node goes from the tree, and staged contents it has go nowhere.
  void removeNode(fuse_ino_t ino);
  // Moves or renames a pending file; no request.
  void movePending(fuse_ino_t ino, fuse_ino_t parent, const std::string& name);
  // The node stands for `item` from now on (a file renamed over another
  // takes the other's place), no longer pending.
  void adopt(fuse_ino_t ino, const FileProviderItemPtr& item);
  // Shows what a request answered: the node of the item placed under its
  // parent by its name (a node of the mount's own, such as a created
  // pending file, keeps its inode).
  fuse_ino_t show(const FileProviderItemPtr& item, std::optional<fuse_ino_t> ino = std::nullopt);

 private:
  struct Pending {
    fuse_ino_t parent;
    std::string name;
  };

  std::shared_ptr<ServiceClient> client_;
  std::string mountPoint_;
  NodeTable table_;
  std::atomic<fuse_session*> session_{nullptr};
  std::string stagingDirectory_;

  // Lock order: treeMutex_ before stagingMutex_.
  std::mutex treeMutex_;
  uint64_t treeGeneration_ = 0;  // guarded by treeMutex_

  mutable std::mutex stagingMutex_;
  std::map<fuse_ino_t, Pending> pending_;
  struct Staging {
    std::shared_ptr<StagedFile> file;
    int handles = 0;
  };
  std::map<fuse_ino_t, Staging> staged_;
  uint64_t pendingCount_ = 0;
};

// The library keeps names it can store (no leading ".", no ":" or "~"); a
// name a program chose that the library changed is kept in this attribute
// of the item and shown instead, while the library's name is still the
// stored form of it.
inline constexpr const char* kMountNameAttribute = "com.quillet.mount-name";
std::string shownName(const FileProviderItem& item);
// The attribute to send with a request naming an entry `name`, if the
// library will store the name otherwise.
[[nodiscard]] std::optional<std::pair<std::string, Bytes>> mountNameAttribute(const std::string& name);

// Whether a descriptor shows as a directory, and whether as a package.
bool isDirectoryItem(const FileProviderItem& item);
bool isPackageItem(const FileProviderItem& item);
// The comma-separated tag names of user.xdg.tags; empty without tags.
std::string xdgTags(const FileProviderItem& item);

}  // namespace qlt::fuse
