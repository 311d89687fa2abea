#include "fuse/node_table.h"

namespace qlt::fuse {

NodeTable::NodeTable(const std::string& rootIdentifier, std::chrono::milliseconds deletionMemory)
    : deletionMemory_(deletionMemory) {
  Node root;
  root.ino = kRoot;
  root.identifier = rootIdentifier;
  root.parent = kRoot;
  root.directory = true;
  nodes_.emplace(kRoot, std::move(root));
  byIdentifier_.emplace(rootIdentifier, kRoot);
}

std::optional<Node> NodeTable::node(fuse_ino_t ino) const {
  std::lock_guard lock(mutex_);
  auto found = nodes_.find(ino);
  if (found == nodes_.end()) return std::nullopt;
  return found->second;
}

std::optional<fuse_ino_t> NodeTable::inoOf(const std::string& identifier) const {
  std::lock_guard lock(mutex_);
  auto found = byIdentifier_.find(identifier);
  if (found == byIdentifier_.end()) return std::nullopt;
  return found->second;
}

fuse_ino_t NodeTable::place(const std::string& identifier, fuse_ino_t parent, const std::string& name,
                            const FileProviderItemPtr& item, bool directory, bool package,
                            const std::string& packagePath) {
  std::lock_guard lock(mutex_);
  auto [found, inserted] = byIdentifier_.try_emplace(identifier, next_);
  if (inserted) ++next_;
  Node& node = nodes_[found->second];
  node.ino = found->second;
  node.identifier = identifier;
  if (node.ino != kRoot) {
    // An entry shows in one listing only: its parent's.
    if (!inserted && (node.parent != parent || node.name != name)) detachLocked(node);
    node.parent = parent;
    node.name = name;
  }
  if (item) node.item = item;
  if (node.directory != directory || node.package != package) node.children.reset();
  node.directory = directory;
  node.package = package;
  node.packagePath = packagePath;
  return node.ino;
}

namespace {

// The listing to change in place: the node's own when nobody else holds it,
// else a copy that replaces it.
Children& writableChildren(Node& node) {
  if (node.children.use_count() != 1) node.children = std::make_shared<Children>(*node.children);
  return const_cast<Children&>(*node.children);
}

}  // namespace

std::shared_ptr<const Children> NodeTable::setChildren(fuse_ino_t directory, Children children) {
  auto listed = std::make_shared<const Children>(std::move(children));
  std::lock_guard lock(mutex_);
  auto found = nodes_.find(directory);
  if (found != nodes_.end()) found->second.children = listed;
  return listed;
}

void NodeTable::addChild(fuse_ino_t directory, const std::string& name, fuse_ino_t child) {
  std::lock_guard lock(mutex_);
  auto found = nodes_.find(directory);
  if (found == nodes_.end() || !found->second.children) return;
  writableChildren(found->second)[name] = child;
}

void NodeTable::forgetChildren(fuse_ino_t directory) {
  std::lock_guard lock(mutex_);
  auto found = nodes_.find(directory);
  if (found != nodes_.end()) found->second.children.reset();
}

void NodeTable::forgetBelow(fuse_ino_t ino) {
  std::lock_guard lock(mutex_);
  std::vector<fuse_ino_t> pending{ino};
  while (!pending.empty()) {
    auto found = nodes_.find(pending.back());
    pending.pop_back();
    if (found == nodes_.end()) continue;
    if (found->second.children)
      for (const auto& [name, child] : *found->second.children)
        if (child != found->first) pending.push_back(child);
    found->second.children.reset();
    found->second.contentsPath.clear();
  }
}

void NodeTable::setContents(fuse_ino_t ino, const std::string& path, const Bytes& version) {
  std::lock_guard lock(mutex_);
  auto found = nodes_.find(ino);
  if (found == nodes_.end()) return;
  found->second.contentsPath = path;
  found->second.contentsVersion = version;
}

void NodeTable::detach(fuse_ino_t ino) {
  std::lock_guard lock(mutex_);
  auto found = nodes_.find(ino);
  if (found == nodes_.end() || ino == kRoot) return;
  detachLocked(found->second);
}

void NodeTable::detachLocked(const Node& node) {
  auto parent = nodes_.find(node.parent);
  if (parent == nodes_.end() || !parent->second.children) return;
  auto entry = parent->second.children->find(node.name);
  if (entry != parent->second.children->end() && entry->second == node.ino)
    writableChildren(parent->second).erase(node.name);
}

void NodeTable::markDeleted(const std::string& identifier) {
  std::lock_guard lock(mutex_);
  if (!deleted_.insert_or_assign(identifier, Clock::now()).second) return;
  deletionOrder_.push_back(identifier);
  if (deletionOrder_.size() > kRememberedDeletions) {
    deleted_.erase(deletionOrder_.front());
    deletionOrder_.pop_front();
  }
}

bool NodeTable::wasDeleted(const std::string& identifier) const {
  std::lock_guard lock(mutex_);
  auto found = deleted_.find(identifier);
  return found != deleted_.end() && Clock::now() - found->second < deletionMemory_;
}

void NodeTable::rebind(fuse_ino_t ino, const std::string& identifier) {
  std::lock_guard lock(mutex_);
  auto found = nodes_.find(ino);
  if (found == nodes_.end()) return;
  byIdentifier_.erase(found->second.identifier);
  byIdentifier_[identifier] = ino;
  found->second.identifier = identifier;
  // Made again through the mount (a new item may take the identifier it
  // is given).
  if (deleted_.erase(identifier)) std::erase(deletionOrder_, identifier);
}

std::optional<std::string> NodeTable::relativePath(fuse_ino_t ino) const {
  std::lock_guard lock(mutex_);
  std::string path;
  for (int depth = 0; depth < 4096; ++depth) {
    if (ino == kRoot) return path;
    auto found = nodes_.find(ino);
    if (found == nodes_.end()) return std::nullopt;
    path = path.empty() ? found->second.name : found->second.name + "/" + path;
    ino = found->second.parent;
  }
  return std::nullopt;
}

size_t NodeTable::size() const {
  std::lock_guard lock(mutex_);
  return nodes_.size();
}

}  // namespace qlt::fuse
