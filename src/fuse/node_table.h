#pragma once

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/fileprovider/file_provider_item.h"

namespace qlt::fuse {

using Children = std::map<std::string, fuse_ino_t>;

// What the mount knows of one entry of the tree: an item or container the
// service described, or a file inside a package's handed-out contents.
struct Node {
  fuse_ino_t ino = 0;
  std::string identifier;
  fuse_ino_t parent = 0;
  std::string name;
  FileProviderItemPtr item;  // null for a file inside a package
  bool directory = false;
  bool package = false;
  // Inside a package: the entry's path below the package's contents.
  std::string packagePath;
  // The children by name, once the directory was listed; dropped when it
  // changes so that the next look lists it again. Shared with whoever
  // holds a copy of the node, never changed under them.
  std::shared_ptr<const Children> children;
  // Where the contents were last handed out, and for which version.
  std::string contentsPath;
  Bytes contentsVersion;
};

// Inode numbers stay with their identifier for the life of the mount.
// Safe on any thread.
class NodeTable {
 public:
  static constexpr fuse_ino_t kRoot = FUSE_ROOT_ID;

  // Deletions are remembered this long: descriptors read before one are
  // applied within it, and an identifier may come back afterwards (a
  // record restored from the cloud, a file carrying its identifier).
  static constexpr std::chrono::milliseconds kDeletionMemory{5000};

  explicit NodeTable(const std::string& rootIdentifier,
                     std::chrono::milliseconds deletionMemory = kDeletionMemory);

  [[nodiscard]] std::optional<Node> node(fuse_ino_t ino) const;
  [[nodiscard]] std::optional<fuse_ino_t> inoOf(const std::string& identifier) const;
  // The node of `identifier` (made on first sight) with `item` as its
  // descriptor, placed under `parent` as `name`; it leaves the listing of
  // the place it had.
  fuse_ino_t place(const std::string& identifier, fuse_ino_t parent, const std::string& name,
                   const FileProviderItemPtr& item, bool directory, bool package, const std::string& packagePath = {});
  // Replaces a directory's children, as listed; the listing kept.
  std::shared_ptr<const Children> setChildren(fuse_ino_t directory, Children children);
  // Adds or replaces one entry of a listed directory; nothing when the
  // directory is not listed (its next listing will show the entry).
  void addChild(fuse_ino_t directory, const std::string& name, fuse_ino_t child);
  void forgetChildren(fuse_ino_t directory);
  // Forgets the listings at and below `ino` (package contents included).
  void forgetBelow(fuse_ino_t ino);
  void setContents(fuse_ino_t ino, const std::string& path, const Bytes& version);
  // The node is known by another identifier from now on (a file the mount
  // made, once the library has it); its inode stays.
  void rebind(fuse_ino_t ino, const std::string& identifier);
  // Takes a node out of its parent's listing; the inode stays for as long
  // as the kernel may ask about it.
  void detach(fuse_ino_t ino);
  // The library deleted the item: descriptors of it read before the
  // deletion no longer place it, for the deletion memory's length (and
  // only the newest kRememberedDeletions).
  static constexpr size_t kRememberedDeletions = 4096;
  void markDeleted(const std::string& identifier);
  [[nodiscard]] bool wasDeleted(const std::string& identifier) const;
  // The path of a node below the mount's top, "" for the top; nullopt when
  // a parent is unknown.
  [[nodiscard]] std::optional<std::string> relativePath(fuse_ino_t ino) const;
  size_t size() const;

 private:
  // REQUIRES: mutex_ held.
  void detachLocked(const Node& node);

  mutable std::mutex mutex_;
  std::unordered_map<fuse_ino_t, Node> nodes_;
  std::unordered_map<std::string, fuse_ino_t> byIdentifier_;
  using Clock = std::chrono::steady_clock;
  std::chrono::milliseconds deletionMemory_;
  std::unordered_map<std::string, Clock::time_point> deleted_;
  std::deque<std::string> deletionOrder_;
  fuse_ino_t next_ = kRoot + 1;
};

}  // namespace qlt::fuse
