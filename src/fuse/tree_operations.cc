// The mount's requests that change the tree: new folders, removals,
// renames and moves, and extended attributes, as the service's create,
// modify and delete requests.
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

#include "fuse/errno_mapping.h"
#include "fuse/fuse_requests.h"
#include "model/finder_tags.h"
#include "model/tag_data.h"
#include "platform/foundation/uniform_type.h"

namespace qlt::fuse {
namespace {

constexpr size_t kMaximumNameLength = 255;
constexpr std::string_view kOwnAttributePrefix = "com.quillet.";

struct Entry {
  fuse_ino_t ino = 0;
  Node node;
};

// The entry `name` of a directory; nullopt with the error when there is
// none.
std::optional<Entry> entryOf(LibraryFileSystem& system, fuse_ino_t parent, const std::string& name, Error* error) {
  auto children = system.childrenOf(parent, error);
  if (!children) return std::nullopt;
  auto found = children->find(name);
  std::optional<Node> node = found == children->end() ? std::nullopt : system.table().node(found->second);
  if (!node) {
    setError(error, posixError(ENOENT));
    return std::nullopt;
  }
  return Entry{found->second, *node};
}

// A directory of the library (not one inside a package) that takes new
// entries.
bool isLibraryDirectory(const std::optional<Node>& node) { return node && node->directory && node->item && !node->package; }

void mkdir(fuse_req_t request, fuse_ino_t parent, const char* name, mode_t) {
  LibraryFileSystem& system = fileSystem(request);
  std::optional<Node> directory = system.table().node(parent);
  if (!directory) return (void)fuse_reply_err(request, ENOENT);
  if (!isLibraryDirectory(directory)) return (void)fuse_reply_err(request, EROFS);
  if (std::strlen(name) > kMaximumNameLength) return (void)fuse_reply_err(request, ENAMETOOLONG);
  auto values = std::make_shared<FileProviderItemTemplate>();
  values->parent = directory->identifier;
  values->name = name;
  values->type = UniformType::folder().identifier();
  uint64_t fields = kFileProviderItemFilename | kFileProviderItemParentItemIdentifier;
  if (auto attribute = mountNameAttribute(name)) {
    values->attributes.insert(*attribute);
    fields |= kFileProviderItemExtendedAttributes;
  }
  Error error;
  FileProviderItemPtr item = system.client().create(values, fields, std::nullopt, &error);
  if (!item) return replyError(request, "Making folder", name, error.domain().empty() ? posixError(EIO) : error);
  fuse_ino_t ino = system.show(item);
  fuse_entry_param entry;
  bool found = false;
  fillEntry(system, ino, &entry, &error, &found);
  if (!found) return replyError(request, "Making folder", name, error);
  fuse_reply_entry(request, &entry);
}

// Removes an entry of the library: a file the library has not seen yet
// just goes.
bool removeEntry(LibraryFileSystem& system, const Entry& entry, Error* error) {
  if (!system.isPending(entry.ino) && !system.deleteItem(entry.node.identifier, false, error)) return false;
  system.removeNode(entry.ino);
  return true;
}

void unlink(fuse_req_t request, fuse_ino_t parent, const char* name) {
  LibraryFileSystem& system = fileSystem(request);
  Error error;
  std::optional<Entry> entry = entryOf(system, parent, name, &error);
  if (!entry) return replyError(request, "Removing", name, error);
  if (!entry->node.item) return (void)fuse_reply_err(request, EROFS);
  if (entry->node.directory && !entry->node.package) return (void)fuse_reply_err(request, EISDIR);
  if (!removeEntry(system, *entry, &error)) return replyError(request, "Removing", name, error);
  fuse_reply_err(request, 0);
}

void rmdir(fuse_req_t request, fuse_ino_t parent, const char* name) {
  LibraryFileSystem& system = fileSystem(request);
  Error error;
  std::optional<Entry> entry = entryOf(system, parent, name, &error);
  if (!entry) return replyError(request, "Removing folder", name, error);
  if (!entry->node.item) return (void)fuse_reply_err(request, EROFS);
  if (!entry->node.directory) return (void)fuse_reply_err(request, ENOTDIR);
  if (!entry->node.package) {
    auto children = system.childrenOf(entry->ino, &error);
    if (!children) return replyError(request, "Removing folder", name, error);
    if (!children->empty()) return (void)fuse_reply_err(request, ENOTEMPTY);
  }
  // A package is one item: it goes whole.
  if (!system.deleteItem(entry->node.identifier, entry->node.package, &error))
    return replyError(request, "Removing folder", name, error);
  system.removeNode(entry->ino);
  fuse_reply_err(request, 0);
}

// The contents an entry has now: staged, or handed out by the service.
std::optional<std::string> currentContents(LibraryFileSystem& system, const Entry& entry, Error* error) {
  if (std::shared_ptr<StagedFile> staged = system.stagedFile(entry.ino)) return staged->path();
  std::optional<ServiceClient::Contents> contents = system.client().contents(entry.node.identifier, error);
  if (!contents) return std::nullopt;
  return contents->path;
}

// A file renamed over another: the target item takes the source's
// contents and date and keeps its identity (the way editors save), then
// the source goes.
bool replaceContents(LibraryFileSystem& system, const Entry& source, const Entry& target, Error* error) {
  std::shared_ptr<StagedFile> staged = system.stagedFile(source.ino);
  std::unique_lock<std::mutex> lock;
  if (staged) lock = std::unique_lock(staged->mutex);
  std::optional<std::string> contents = currentContents(system, source, error);
  if (!contents) return false;
  std::shared_ptr<FileProviderItemTemplate> values = FileProviderItemTemplate::copyOf(*target.node.item);
  std::optional<Date> modified = staged && staged->modified ? staged->modified : source.node.item->contentModificationDate();
  values->modified = modified.value_or(Date::now());
  FileProviderItemPtr item = system.client().modify(
      values, kFileProviderItemContents | kFileProviderItemContentModificationDate, contents, error);
  if (!item) return false;
  if (staged) staged->dirty = false;
  if (lock) lock.unlock();
  if (!system.isPending(source.ino) && !system.deleteItem(source.node.identifier, false, error)) return false;
  // The kernel now knows the source's inode by the target's name: that
  // inode becomes the target item, and handles still open on the old
  // target write nowhere.
  system.removeNode(target.ino);
  system.adopt(source.ino, item);
  return true;
}

bool moveEntry(LibraryFileSystem& system, const Entry& source, const Node& destination, const std::string& name,
               Error* error) {
  if (system.isPending(source.ino)) {
    system.movePending(source.ino, destination.ino, name);
    return true;
  }
  std::shared_ptr<FileProviderItemTemplate> values = FileProviderItemTemplate::copyOf(*source.node.item);
  uint64_t fields = 0;
  if (name != source.node.name) {
    values->name = name;
    fields |= kFileProviderItemFilename;
    values->attributes.clear();
    if (auto attribute = mountNameAttribute(name)) {
      values->attributes.insert(*attribute);
      fields |= kFileProviderItemExtendedAttributes;
    }
  }
  if (destination.ino != source.node.parent) {
    values->parent = destination.identifier;
    fields |= kFileProviderItemParentItemIdentifier;
  }
  if (fields == 0) return true;
  FileProviderItemPtr item = system.client().modify(values, fields, std::nullopt, error);
  if (!item) return false;
  system.show(item, source.ino);
  return true;
}

void rename(fuse_req_t request, fuse_ino_t parent, const char* name, fuse_ino_t newParent, const char* newName,
            unsigned int flags) {
  LibraryFileSystem& system = fileSystem(request);
  // Two entries cannot trade places in the library in one step.
  if (flags & RENAME_EXCHANGE) return (void)fuse_reply_err(request, EINVAL);
  if (flags & ~static_cast<unsigned>(RENAME_NOREPLACE)) return (void)fuse_reply_err(request, EINVAL);
  if (std::strlen(newName) > kMaximumNameLength) return (void)fuse_reply_err(request, ENAMETOOLONG);
  Error error;
  std::optional<Entry> source = entryOf(system, parent, name, &error);
  if (!source) return replyError(request, "Renaming", name, error);
  std::optional<Node> destination = system.table().node(newParent);
  if (!destination) return (void)fuse_reply_err(request, ENOENT);
  if (!source->node.item || !isLibraryDirectory(destination)) return (void)fuse_reply_err(request, EROFS);
  auto children = system.childrenOf(newParent, &error);
  if (!children) return replyError(request, "Renaming", name, error);
  std::optional<Entry> target;
  if (auto found = children->find(newName); found != children->end() && found->second != source->ino) {
    if (std::optional<Node> node = system.table().node(found->second)) target = Entry{found->second, *node};
  }
  if (target) {
    if (flags & RENAME_NOREPLACE) return (void)fuse_reply_err(request, EEXIST);
    if (!target->node.item) return (void)fuse_reply_err(request, EROFS);
    const bool sourceIsFolder = source->node.directory && !source->node.package;
    const bool targetIsFolder = target->node.directory && !target->node.package;
    if (sourceIsFolder != targetIsFolder) return (void)fuse_reply_err(request, sourceIsFolder ? ENOTDIR : EISDIR);
    if (!sourceIsFolder && !source->node.directory && !target->node.directory) {
      if (!replaceContents(system, *source, *target, &error)) return replyError(request, "Renaming", name, error);
      return (void)fuse_reply_err(request, 0);
    }
    // A folder over an empty folder, or a package over a package: the
    // target goes first.
    if (targetIsFolder) {
      auto inside = system.childrenOf(target->ino, &error);
      if (!inside) return replyError(request, "Renaming", name, error);
      if (!inside->empty()) return (void)fuse_reply_err(request, ENOTEMPTY);
    }
    if (!system.deleteItem(target->node.identifier, target->node.package, &error))
      return replyError(request, "Renaming", name, error);
    system.removeNode(target->ino);
  }
  if (!moveEntry(system, *source, *destination, newName, &error)) return replyError(request, "Renaming", name, error);
  fuse_reply_err(request, 0);
}

// The item with one more changed attribute, or new tags.
bool changeAttribute(LibraryFileSystem& system, fuse_ino_t ino, const std::string& name,
                     const std::optional<std::string>& value, Error* error) {
  std::optional<Node> node = system.table().node(ino);
  if (!node || !node->item) {
    setError(error, posixError(node ? EROFS : ENOENT));
    return false;
  }
  if (system.isPending(ino)) {
    // The library must have the file before it can have its attributes.
    std::shared_ptr<StagedFile> staged = system.stagedFile(ino);
    if (!staged) {
      setError(error, posixError(ENOENT));
      return false;
    }
    std::lock_guard lock(staged->mutex);
    if (!system.commit(ino, *staged, error)) return false;
    node = system.table().node(ino);
    if (!node || !node->item) {
      setError(error, posixError(ENOENT));
      return false;
    }
  }
  std::shared_ptr<FileProviderItemTemplate> values = FileProviderItemTemplate::copyOf(*node->item);
  uint64_t fields = 0;
  const std::string key = name.substr(kUserNamespace.size());
  if (name == kXdgTagsName || key == kMetadataUserTagsXAttrKey) {
    std::optional<Bytes> data;
    if (name == kXdgTagsName) {
      std::vector<TagDataEntry> entries;
      std::string text = value.value_or("");
      size_t start = 0;
      while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string tag = text.substr(start, comma - start);
        tag.erase(0, tag.find_first_not_of(' '));
        tag.erase(tag.find_last_not_of(' ') + 1);
        if (!tag.empty()) entries.push_back({tag, 0});
        start = comma + 1;
      }
      data = fileProviderTagData(entries, error);
    } else {
      data = value ? Bytes(value->begin(), value->end()) : Bytes();
      if (value && !tagNamesFromTagData(*data)) {
        setError(error, posixError(EINVAL));
        return false;
      }
    }
    if (!data) return false;
    values->tags = *data;
    fields = kFileProviderItemTagData;
  } else {
    if (!value) {
      // The request can set attributes, not take them away.
      setError(error, posixError(ENOTSUP));
      return false;
    }
    values->attributes = {{key, Bytes(value->begin(), value->end())}};
    fields = kFileProviderItemExtendedAttributes;
  }
  FileProviderItemPtr item = system.client().modify(values, fields, std::nullopt, error);
  if (!item) return false;
  system.show(item, ino);
  return true;
}

void setxattr(fuse_req_t request, fuse_ino_t ino, const char* name, const char* value, size_t size, int flags) {
  std::string_view attribute(name);
  if (!attribute.starts_with(kUserNamespace)) return (void)fuse_reply_err(request, ENOTSUP);
  std::string_view key = attribute.substr(kUserNamespace.size());
  if (key.empty() || key.starts_with(kOwnAttributePrefix)) return (void)fuse_reply_err(request, EPERM);
  LibraryFileSystem& system = fileSystem(request);
  std::optional<Node> node = system.table().node(ino);
  if (!node) return (void)fuse_reply_err(request, ENOENT);
  const bool exists = shownAttributes(*node).contains(std::string(name));
  if ((flags & XATTR_CREATE) && exists) return (void)fuse_reply_err(request, EEXIST);
  if ((flags & XATTR_REPLACE) && !exists) return (void)fuse_reply_err(request, ENODATA);
  Error error;
  if (!changeAttribute(system, ino, name, std::string(value, size), &error))
    return replyError(request, "Setting an attribute of", node->name, error);
  fuse_reply_err(request, 0);
}

void removexattr(fuse_req_t request, fuse_ino_t ino, const char* name) {
  std::string_view attribute(name);
  if (!attribute.starts_with(kUserNamespace)) return (void)fuse_reply_err(request, ENOTSUP);
  LibraryFileSystem& system = fileSystem(request);
  std::optional<Node> node = system.table().node(ino);
  if (!node) return (void)fuse_reply_err(request, ENOENT);
  if (!shownAttributes(*node).contains(std::string(name))) return (void)fuse_reply_err(request, ENODATA);
  if (attribute.substr(kUserNamespace.size()).starts_with(kOwnAttributePrefix)) return (void)fuse_reply_err(request, EPERM);
  Error error;
  if (!changeAttribute(system, ino, name, std::nullopt, &error))
    return replyError(request, "Removing an attribute of", node->name, error);
  fuse_reply_err(request, 0);
}

}  // namespace

void addTreeOperations(fuse_lowlevel_ops& operations) {
  operations.mkdir = mkdir;
  operations.unlink = unlink;
  operations.rmdir = rmdir;
  operations.rename = rename;
  operations.setxattr = setxattr;
  operations.removexattr = removexattr;
}

}  // namespace qlt::fuse
