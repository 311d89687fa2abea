// LibraryFileSystem: files being written, and what the requests answer.
#include <unistd.h>

#include <cerrno>

#include "fuse/library_file_system.h"
#include "platform/foundation/uniform_type.h"
#include "platform/foundation/uuid.h"

namespace qlt::fuse {
namespace {

// A file a program made that the library does not have yet.
class PendingItem final : public FileProviderItemTemplate {
 public:
  uint64_t capabilities() const override {
    return kFileProviderItemAllowsReading | kFileProviderItemAllowsWriting | kFileProviderItemAllowsReparenting |
           kFileProviderItemAllowsRenaming | kFileProviderItemAllowsTrashing | kFileProviderItemAllowsDeleting;
  }
};

constexpr const char* kPendingIdentifierPrefix = "pending:";

}  // namespace

std::optional<fuse_ino_t> LibraryFileSystem::addPendingFile(fuse_ino_t parent, const std::string& name, Error* error) {
  std::optional<Node> directory = table_.node(parent);
  if (!directory || !directory->directory || !directory->item) {
    setError(error, posixError(ENOENT));
    return std::nullopt;
  }
  if (stagingDirectory_.empty()) {
    setError(error, posixError(EROFS));
    return std::nullopt;
  }
  std::shared_ptr<StagedFile> staged = StagedFile::make(stagingDirectory_, std::nullopt, error);
  if (!staged) return std::nullopt;
  auto item = std::make_shared<PendingItem>();
  item->identifier = kPendingIdentifierPrefix + newUUIDString();
  item->parent = directory->identifier;
  item->name = name;
  item->type = UniformType::data().identifier();
  // Its creation is a change even when nothing is written.
  staged->dirty = true;
  fuse_ino_t ino = table_.place(item->identifier, parent, name, item, false, false);
  {
    std::lock_guard lock(stagingMutex_);
    pending_[ino] = {parent, name};
    staged_[ino] = {staged, 1};
  }
  table_.addChild(parent, name, ino);
  return ino;
}

bool LibraryFileSystem::isPending(fuse_ino_t ino) const {
  std::lock_guard lock(stagingMutex_);
  return pending_.contains(ino);
}

std::shared_ptr<StagedFile> LibraryFileSystem::stagedFile(fuse_ino_t ino) const {
  std::lock_guard lock(stagingMutex_);
  auto found = staged_.find(ino);
  return found == staged_.end() ? nullptr : found->second.file;
}

std::shared_ptr<StagedFile> LibraryFileSystem::openStagedFile(fuse_ino_t ino, bool truncate, Error* error) {
  std::shared_ptr<StagedFile> existing;
  {
    std::lock_guard lock(stagingMutex_);
    if (auto found = staged_.find(ino); found != staged_.end()) {
      ++found->second.handles;
      existing = found->second.file;
    }
  }
  if (existing) {
    if (truncate) {
      std::lock_guard lock(existing->mutex);
      if (::ftruncate(existing->descriptor(), 0) != 0) {
        setError(error, posixError(errno));
        releaseStagedFile(ino);
        return nullptr;
      }
      existing->dirty = true;
    }
    return existing;
  }
  std::optional<Node> node = table_.node(ino);
  if (!node || !node->item) {
    setError(error, posixError(ENOENT));
    return nullptr;
  }
  if (stagingDirectory_.empty()) {
    setError(error, posixError(EROFS));
    return nullptr;
  }
  std::optional<std::string> source;
  if (!truncate) {
    std::optional<ServiceClient::Contents> contents = client_->contents(node->identifier, error);
    if (!contents) return nullptr;
    source = contents->path;
  }
  std::shared_ptr<StagedFile> made = StagedFile::make(stagingDirectory_, source, error);
  if (!made) return nullptr;
  made->dirty = truncate;
  std::lock_guard lock(stagingMutex_);
  // Another handle may have staged the node meanwhile: theirs it is.
  auto [entry, inserted] = staged_.try_emplace(ino, Staging{made, 0});
  ++entry->second.handles;
  return entry->second.file;
}

void LibraryFileSystem::releaseStagedFile(fuse_ino_t ino) {
  bool abandoned = false;
  {
    std::lock_guard lock(stagingMutex_);
    auto found = staged_.find(ino);
    if (found == staged_.end() || --found->second.handles > 0) return;
    staged_.erase(found);
    // A file whose creation failed is gone with its last handle.
    abandoned = pending_.erase(ino) > 0;
  }
  if (abandoned) table_.detach(ino);
}

bool LibraryFileSystem::deleteItem(const std::string& identifier, bool recursive, Error* error) {
  if (!client_->remove(identifier, recursive, error)) return false;
  // A listing taken before the deletion and stored after it would bring
  // the item back: listings overlapping this are taken again.
  auto tree = changeTree();
  table_.markDeleted(identifier);
  return true;
}

void LibraryFileSystem::removeNode(fuse_ino_t ino) {
  {
    std::lock_guard lock(stagingMutex_);
    pending_.erase(ino);
    if (auto found = staged_.find(ino); found != staged_.end()) found->second.file->discarded = true;
  }
  table_.detach(ino);
}

void LibraryFileSystem::movePending(fuse_ino_t ino, fuse_ino_t parent, const std::string& name) {
  std::optional<Node> node = table_.node(ino);
  std::optional<Node> directory = table_.node(parent);
  if (!node || !directory || !node->item) return;
  auto item = std::make_shared<PendingItem>();
  item->identifier = node->identifier;
  item->parent = directory->identifier;
  item->name = name;
  item->type = node->item->contentType();
  table_.detach(ino);
  table_.place(item->identifier, parent, name, item, false, false);
  {
    std::lock_guard lock(stagingMutex_);
    pending_[ino] = {parent, name};
  }
  table_.addChild(parent, name, ino);
}

bool LibraryFileSystem::commit(fuse_ino_t ino, StagedFile& staged, Error* error) {
  if (staged.discarded || !staged.dirty) return true;
  std::optional<Node> node = table_.node(ino);
  std::optional<Node> parent = node ? table_.node(node->parent) : std::nullopt;
  if (!node || !node->item || !parent) {
    setError(error, posixError(ENOENT));
    return false;
  }
  FileProviderItemPtr item;
  if (isPending(ino)) {
    auto values = std::make_shared<FileProviderItemTemplate>();
    values->parent = parent->identifier;
    values->name = node->name;
    values->type = UniformType::data().identifier();
    uint64_t fields = kFileProviderItemContents | kFileProviderItemFilename | kFileProviderItemParentItemIdentifier;
    if (auto attribute = mountNameAttribute(node->name)) {
      values->attributes.insert(*attribute);
      fields |= kFileProviderItemExtendedAttributes;
    }
    if (staged.modified) {
      values->modified = staged.modified;
      fields |= kFileProviderItemContentModificationDate;
    }
    if (staged.accessed) {
      values->lastUsed = staged.accessed;
      fields |= kFileProviderItemLastUsedDate;
    }
    item = client_->create(values, fields, staged.path(), error);
    if (!item) {
      if (error && error->domain().empty()) *error = posixError(EIO);
      return false;
    }
    {
      std::lock_guard lock(stagingMutex_);
      pending_.erase(ino);
    }
    table_.rebind(ino, item->itemIdentifier());
  } else {
    std::shared_ptr<FileProviderItemTemplate> values = FileProviderItemTemplate::copyOf(*node->item);
    values->modified = staged.modified.value_or(Date::now());
    uint64_t fields = kFileProviderItemContents | kFileProviderItemContentModificationDate;
    if (staged.accessed) {
      values->lastUsed = staged.accessed;
      fields |= kFileProviderItemLastUsedDate;
    }
    item = client_->modify(values, fields, staged.path(), error);
    if (!item) return false;
  }
  staged.dirty = false;
  staged.modified.reset();
  staged.accessed.reset();
  show(item, ino);
  return true;
}

void LibraryFileSystem::adopt(fuse_ino_t ino, const FileProviderItemPtr& item) {
  {
    std::lock_guard lock(stagingMutex_);
    pending_.erase(ino);
  }
  table_.rebind(ino, item->itemIdentifier());
  show(item, ino);
}

fuse_ino_t LibraryFileSystem::show(const FileProviderItemPtr& item, std::optional<fuse_ino_t> ino) {
  // A listing taken before this change and stored after it would show the
  // entry where it was: listings overlapping this are taken again.
  auto tree = changeTree();
  std::optional<fuse_ino_t> parent = table_.inoOf(item->parentItemIdentifier());
  if (!ino) ino = table_.inoOf(item->itemIdentifier());
  if (ino) {
    std::optional<Node> before = table_.node(*ino);
    if (before && (!parent || before->parent != *parent || before->name != shownName(*item))) table_.detach(*ino);
  }
  if (!parent) return ino.value_or(0);
  fuse_ino_t placed = placeItem(item, *parent);
  table_.addChild(*parent, shownName(*item), placed);
  return placed;
}

}  // namespace qlt::fuse
