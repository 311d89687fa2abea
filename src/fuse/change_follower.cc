#include "fuse/change_follower.h"

#include "platform/fileprovider/file_provider_domain.h"
#include "platform/foundation/log.h"

namespace qlt::fuse {

ChangeFollower::ChangeFollower(LibraryFileSystem& system, std::chrono::milliseconds interval)
    : system_(system), interval_(interval) {}

ChangeFollower::~ChangeFollower() { stop(); }

void ChangeFollower::start() {
  Error error;
  anchor_ = system_.client().currentAnchor(&error);
  if (!anchor_) log("The mount follows no changes yet: %@", error);
  thread_ = std::thread([this] { run(); });
}

void ChangeFollower::wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  wakeUp_.notify_one();
}

void ChangeFollower::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    wakeUp_.notify_one();
  }
  if (thread_.joinable()) thread_.join();
}

void ChangeFollower::run() {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wakeUp_.wait_for(lock, interval_, [this] { return woken_ || stopping_; });
      if (stopping_) return;
      woken_ = false;
    }
    (void)followOnce();  // a failed round is logged and tried again next time
  }
}

bool ChangeFollower::followOnce() {
  Error error;
  if (!anchor_) {
    anchor_ = system_.client().currentAnchor(&error);
    return anchor_.has_value();
  }
  auto changes = system_.client().changesSince(*anchor_, &error);
  if (!changes) {
    log("The mount could not follow changes: %@", error);
    if (error.is(kFileProviderErrorDomain, kFileProviderErrorSyncAnchorExpired)) {
      // Everything known may be stale: list afresh from the top.
      {
        auto tree = system_.changeTree();
        system_.table().forgetBelow(NodeTable::kRoot);
      }
      system_.invalidateNode(NodeTable::kRoot, true);
      anchor_ = system_.client().currentAnchor(nullptr);
    }
    return false;
  }
  apply(*changes);
  anchor_ = changes->anchor;
  return true;
}

void ChangeFollower::apply(const ServiceClient::Changes& changes) {
  staleEntries_.clear();
  staleNodes_.clear();
  changedDirectories_.clear();
  {
    auto tree = system_.changeTree();
    for (const FileProviderItemPtr& item : changes.updated) update(item);
    for (const std::string& identifier : changes.deleted) remove(identifier);
  }
  for (const auto& [parent, name] : staleEntries_) system_.invalidateEntry(parent, name);
  for (const auto& [ino, data] : staleNodes_) system_.invalidateNode(ino, data);
  for (fuse_ino_t directory : changedDirectories_) system_.invalidateNode(directory, true);
}

void ChangeFollower::update(const FileProviderItemPtr& item) {
  NodeTable& table = system_.table();
  if (table.wasDeleted(item->itemIdentifier())) return;  // described before its deletion
  std::string parentIdentifier = item->parentItemIdentifier();
  std::optional<fuse_ino_t> parent = table.inoOf(parentIdentifier);
  std::optional<fuse_ino_t> known = table.inoOf(item->itemIdentifier());
  std::optional<Node> before = known ? table.node(*known) : std::nullopt;
  if (before && parentIdentifier.empty()) {
    // A container the mount placed itself (the top, the trash): it keeps
    // its place; only what it says of itself changes.
    system_.placeItem(item, before->parent);
    staleNodes_.emplace_back(*known, false);
    return;
  }
  if (before && (!parent || before->parent != *parent || before->name != shownName(*item))) {
    table.detach(*known);
    staleEntries_.emplace_back(before->parent, before->name);
    changedDirectories_.insert(before->parent);
  }
  if (!parent) return;  // below nothing the mount has shown
  fuse_ino_t ino = system_.placeItem(item, *parent);
  table.addChild(*parent, shownName(*item), ino);
  staleEntries_.emplace_back(*parent, shownName(*item));
  changedDirectories_.insert(*parent);
  bool contentsChanged = !before || !before->item ||
                         before->item->itemVersion().contentVersion != item->itemVersion().contentVersion;
  if (contentsChanged && before && before->directory) table.forgetBelow(ino);
  staleNodes_.emplace_back(ino, contentsChanged);
}

void ChangeFollower::remove(const std::string& identifier) {
  NodeTable& table = system_.table();
  table.markDeleted(identifier);
  std::optional<fuse_ino_t> known = table.inoOf(identifier);
  if (!known) return;
  std::optional<Node> node = table.node(*known);
  if (!node) return;
  table.detach(*known);
  staleEntries_.emplace_back(node->parent, node->name);
  changedDirectories_.insert(node->parent);
}

}  // namespace qlt::fuse
