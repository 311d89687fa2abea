#include "fuse/library_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "fuse/errno_mapping.h"
#include "fuse/fuse_requests.h"
#include "model/tag_data.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/files/file_path.h"
#include "platform/foundation/log.h"
#include "platform/foundation/uniform_type.h"
#include "util/filename_rules.h"

namespace qlt::fuse {

LibraryFileSystem& fileSystem(fuse_req_t request) {
  return *static_cast<LibraryFileSystem*>(fuse_req_userdata(request));
}

void replyError(fuse_req_t request, const char* operation, const std::string& what, const Error& error) {
  int number = errnoFor(error);
  log("%@ of %@ failed (%@): %@", operation, what, std::string(std::strerror(number)), error);
  fuse_reply_err(request, number);
}

namespace {

timespec timespecOf(const std::optional<Date>& date) {
  if (!date) return {0, 0};
  double seconds = date->timeIntervalSince1970();
  auto whole = static_cast<time_t>(seconds);
  if (static_cast<double>(whole) > seconds) --whole;
  return {whole, static_cast<long>((seconds - static_cast<double>(whole)) * 1e9)};
}

// A directory's entries as they were when it was opened, so that offsets
// stay put while it is read.
struct DirectoryHandle {
  struct Entry {
    std::string name;
    fuse_ino_t ino;
  };
  std::vector<Entry> entries;
};

}  // namespace

std::optional<std::string> packagePathOf(LibraryFileSystem& system, const Node& node, Error* error) {
  const Node* package = &node;
  std::optional<Node> holder;
  for (int depth = 0; depth < 4096 && package->item == nullptr; ++depth) {
    holder = system.table().node(package->parent);
    if (!holder) break;
    package = &*holder;
  }
  if (!package->item || !package->package) {
    setError(error, fileProviderErrorForNonExistentItem(node.identifier));
    return std::nullopt;
  }
  std::string base = package->contentsPath;
  if (base.empty() || package->contentsVersion != package->item->itemVersion().contentVersion ||
      ::access(base.c_str(), F_OK) != 0) {
    auto contents = system.client().contents(package->identifier, error);
    if (!contents) return std::nullopt;
    base = contents->path;
    system.table().setContents(package->ino, base, contents->item->itemVersion().contentVersion);
  }
  return node.packagePath.empty() ? base : base + "/" + node.packagePath;
}

void fillEntry(LibraryFileSystem& system, fuse_ino_t ino, fuse_entry_param* entry, Error* error, bool* found) {
  *found = false;
  std::memset(entry, 0, sizeof(*entry));
  std::optional<Node> node = system.table().node(ino);
  if (!node) return;
  std::optional<struct stat> attributes = system.attributesOf(*node);
  if (!attributes) {
    if (error) *error = fileProviderErrorForNonExistentItem(node->identifier);
    return;
  }
  entry->ino = ino;
  entry->attr = *attributes;
  entry->attr_timeout = LibraryFileSystem::kCacheSeconds;
  entry->entry_timeout = LibraryFileSystem::kCacheSeconds;
  *found = true;
}

namespace {

void lookup(fuse_req_t request, fuse_ino_t parent, const char* name) {
  LibraryFileSystem& system = fileSystem(request);
  Error error;
  auto children = system.childrenOf(parent, &error);
  if (!children) return replyError(request, "Lookup", name, error);
  auto child = children->find(name);
  if (child == children->end()) {
    // A negative entry, kept until a change names it.
    fuse_entry_param missing{};
    missing.entry_timeout = LibraryFileSystem::kCacheSeconds;
    fuse_reply_entry(request, &missing);
    return;
  }
  fuse_entry_param entry;
  bool found = false;
  fillEntry(system, child->second, &entry, &error, &found);
  if (!found) return replyError(request, "Lookup", name, error);
  fuse_reply_entry(request, &entry);
}

void forget(fuse_req_t request, fuse_ino_t, uint64_t) { fuse_reply_none(request); }

void forgetMulti(fuse_req_t request, size_t, fuse_forget_data*) { fuse_reply_none(request); }

void getattr(fuse_req_t request, fuse_ino_t ino, fuse_file_info*) {
  LibraryFileSystem& system = fileSystem(request);
  std::optional<Node> node = system.table().node(ino);
  if (!node) return (void)fuse_reply_err(request, ENOENT);
  std::optional<struct stat> attributes = system.attributesOf(*node);
  if (!attributes) return (void)fuse_reply_err(request, ENOENT);
  fuse_reply_attr(request, &*attributes, LibraryFileSystem::kCacheSeconds);
}

void opendir(fuse_req_t request, fuse_ino_t ino, fuse_file_info* info) {
  LibraryFileSystem& system = fileSystem(request);
  Error error;
  auto children = system.childrenOf(ino, &error);
  if (!children) return replyError(request, "Listing", std::to_string(ino), error);
  auto handle = std::make_unique<DirectoryHandle>();
  std::optional<Node> node = system.table().node(ino);
  handle->entries.push_back({".", ino});
  handle->entries.push_back({"..", node ? node->parent : ino});
  for (const auto& [name, child] : *children) handle->entries.push_back({name, child});
  info->fh = reinterpret_cast<uint64_t>(handle.release());
  info->cache_readdir = 1;
  info->keep_cache = 1;
  fuse_reply_open(request, info);
}

void readdirAny(fuse_req_t request, fuse_ino_t, size_t size, off_t offset, fuse_file_info* info, bool plus) {
  LibraryFileSystem& system = fileSystem(request);
  auto* handle = reinterpret_cast<DirectoryHandle*>(info->fh);
  std::vector<char> buffer(size);
  size_t used = 0;
  for (size_t index = static_cast<size_t>(offset); index < handle->entries.size(); ++index) {
    const DirectoryHandle::Entry& entry = handle->entries[index];
    size_t added = 0;
    auto next = static_cast<off_t>(index + 1);
    if (plus) {
      fuse_entry_param parameters{};
      if (entry.name == "." || entry.name == "..") {
        // No lookup: the kernel knows these already.
        parameters.attr.st_ino = entry.ino;
        parameters.attr.st_mode = S_IFDIR;
      } else {
        bool found = false;
        fillEntry(system, entry.ino, &parameters, nullptr, &found);
        if (!found) continue;  // gone since the directory was opened
      }
      added = fuse_add_direntry_plus(request, buffer.data() + used, size - used, entry.name.c_str(), &parameters, next);
    } else {
      struct stat attributes {};
      attributes.st_ino = entry.ino;
      std::optional<Node> node = system.table().node(entry.ino);
      attributes.st_mode = node && !node->directory ? S_IFREG : S_IFDIR;
      added = fuse_add_direntry(request, buffer.data() + used, size - used, entry.name.c_str(), &attributes, next);
    }
    if (added > size - used) break;
    used += added;
  }
  fuse_reply_buf(request, buffer.data(), used);
}

void readdir(fuse_req_t request, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* info) {
  readdirAny(request, ino, size, offset, info, false);
}

void readdirplus(fuse_req_t request, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* info) {
  readdirAny(request, ino, size, offset, info, true);
}

void releasedir(fuse_req_t request, fuse_ino_t, fuse_file_info* info) {
  delete reinterpret_cast<DirectoryHandle*>(info->fh);
  fuse_reply_err(request, 0);
}

}  // namespace

std::map<std::string, std::string> shownAttributes(const Node& node) {
  std::map<std::string, std::string> shown;
  if (!node.item) return shown;
  for (const auto& [name, value] : node.item->extendedAttributes()) {
    if (name == kMountNameAttribute) continue;
    std::string shownName = name.starts_with(kUserNamespace) ? name : std::string(kUserNamespace) + name;
    shown.emplace(shownName, std::string(value.begin(), value.end()));
  }
  if (std::string tags = xdgTags(*node.item); !tags.empty()) shown[kXdgTagsName] = tags;
  return shown;
}

namespace {

void replyXattr(fuse_req_t request, const std::string& value, size_t size) {
  if (size == 0) return (void)fuse_reply_xattr(request, value.size());
  if (value.size() > size) return (void)fuse_reply_err(request, ERANGE);
  fuse_reply_buf(request, value.data(), value.size());
}

void getxattr(fuse_req_t request, fuse_ino_t ino, const char* name, size_t size) {
  // Only "user." attributes exist here; `ls -l` asks every file for its
  // security label and access lists, so those are answered at once.
  if (!std::string_view(name).starts_with(kUserNamespace)) return (void)fuse_reply_err(request, ENODATA);
  LibraryFileSystem& system = fileSystem(request);
  std::optional<Node> node = system.table().node(ino);
  if (!node) return (void)fuse_reply_err(request, ENOENT);
  auto shown = shownAttributes(*node);
  auto found = shown.find(name);
  if (found == shown.end()) return (void)fuse_reply_err(request, ENODATA);
  replyXattr(request, found->second, size);
}

void listxattr(fuse_req_t request, fuse_ino_t ino, size_t size) {
  LibraryFileSystem& system = fileSystem(request);
  std::optional<Node> node = system.table().node(ino);
  if (!node) return (void)fuse_reply_err(request, ENOENT);
  std::string names;
  for (const auto& [name, value] : shownAttributes(*node)) {
    names += name;
    names.push_back('\0');
  }
  replyXattr(request, names, size);
}

void statfs(fuse_req_t request, fuse_ino_t) {
  LibraryFileSystem& system = fileSystem(request);
  // The space of the disk the mount point stands on.
  struct statvfs answer {};
  if (::statvfs(deletingLastPathComponent(system.mountPoint()).c_str(), &answer) != 0) answer = {};
  answer.f_namemax = 255;
  fuse_reply_statfs(request, &answer);
}

void init(void*, fuse_conn_info* connection) {
  // With access lists handled by the kernel, it keeps their absence per
  // inode instead of asking for every `ls -l`.
  if (connection->capable & FUSE_CAP_POSIX_ACL) connection->want |= FUSE_CAP_POSIX_ACL;
  if (connection->capable & FUSE_CAP_SPLICE_MOVE) connection->want |= FUSE_CAP_SPLICE_MOVE;
  if (connection->capable & FUSE_CAP_SPLICE_WRITE) connection->want |= FUSE_CAP_SPLICE_WRITE;
  connection->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
}

fuse_lowlevel_ops makeOperations() {
  fuse_lowlevel_ops operations{};
  operations.init = init;
  operations.lookup = lookup;
  operations.forget = forget;
  operations.forget_multi = forgetMulti;
  operations.getattr = getattr;
  operations.opendir = opendir;
  operations.readdir = readdir;
  operations.readdirplus = readdirplus;
  operations.releasedir = releasedir;
  operations.getxattr = getxattr;
  operations.listxattr = listxattr;
  operations.statfs = statfs;
  addFileOperations(operations);
  addTreeOperations(operations);
  return operations;
}

}  // namespace

std::string shownName(const FileProviderItem& item) {
  std::string stored = item.filename();
  std::map<std::string, Bytes> attributes = item.extendedAttributes();
  auto found = attributes.find(kMountNameAttribute);
  if (found == attributes.end()) return stored;
  std::string chosen(found->second.begin(), found->second.end());
  if (chosen.empty() || !isValidFilename(chosen) || stringSanitizedForFileName(chosen) != stored) return stored;
  return chosen;
}

std::optional<std::pair<std::string, Bytes>> mountNameAttribute(const std::string& name) {
  if (stringSanitizedForFileName(name) == name) return std::nullopt;
  return std::make_pair(std::string(kMountNameAttribute), Bytes(name.begin(), name.end()));
}

bool isDirectoryItem(const FileProviderItem& item) {
  const UniformType* type = UniformType::withIdentifier(item.contentType());
  return type && type->conformsTo(UniformType::directory());
}

bool isPackageItem(const FileProviderItem& item) {
  const UniformType* type = UniformType::withIdentifier(item.contentType());
  return type && type->conformsTo(UniformType::package());
}

std::string xdgTags(const FileProviderItem& item) {
  std::optional<Bytes> data = item.tagData();
  if (!data || data->empty()) return {};
  std::optional<std::vector<std::string>> names = tagNamesFromTagData(*data);
  std::string joined;
  for (const std::string& name : names.value_or(std::vector<std::string>{})) {
    if (!joined.empty()) joined += ',';
    joined += name;
  }
  return joined;
}

LibraryFileSystem::LibraryFileSystem(std::shared_ptr<ServiceClient> client, std::string mountPoint)
    : client_(std::move(client)), mountPoint_(std::move(mountPoint)), table_(kRootContainerItemIdentifier) {}

const fuse_lowlevel_ops& LibraryFileSystem::operations() {
  static const fuse_lowlevel_ops operations = makeOperations();
  return operations;
}

fuse_ino_t LibraryFileSystem::placeItem(const FileProviderItemPtr& item, fuse_ino_t parent) {
  bool package = isPackageItem(*item);
  return table_.place(item->itemIdentifier(), parent, shownName(*item), item, isDirectoryItem(*item), package);
}

std::shared_ptr<const Children> LibraryFileSystem::childrenOf(fuse_ino_t directory, Error* error) {
  std::optional<Node> node = table_.node(directory);
  if (!node) {
    setError(error, posixError(ENOENT));
    return nullptr;
  }
  if (!node->directory) {
    setError(error, posixError(ENOTDIR));
    return nullptr;
  }
  if (node->children) return node->children;

  Children children;
  if (node->package || (!node->item && !node->packagePath.empty())) {
    auto path = packagePathOf(*this, *node, error);
    if (!path) return nullptr;
    DIR* listing = ::opendir(path->c_str());
    if (!listing) {
      setError(error, posixError(errno, *path));
      return nullptr;
    }
    while (dirent* entry = ::readdir(listing)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string inside = node->packagePath.empty() ? name : node->packagePath + "/" + name;
      // Entries inside a package are known by their path inside it.
      std::string package = node->item ? node->identifier : node->identifier.substr(0, node->identifier.find("//"));
      std::string identifier = package + "//" + inside;
      bool isDirectory = entry->d_type == DT_DIR;
      children.emplace(name, table_.place(identifier, directory, name, nullptr, isDirectory, false, inside));
    }
    ::closedir(listing);
    return table_.setChildren(directory, std::move(children));
  }
  constexpr int kListingAttempts = 3;
  for (int attempt = 1;; ++attempt) {
    uint64_t generation;
    {
      std::lock_guard lock(treeMutex_);
      generation = treeGeneration_;
    }
    auto items = client_->children(node->identifier, error);
    if (!items) return nullptr;
    FileProviderItemPtr trash;
    if (directory == NodeTable::kRoot) {
      // The trash shows at the top, as the folder its descriptor names.
      Error trashError;
      trash = client_->item(kTrashContainerItemIdentifier, &trashError);
    }
    std::lock_guard tree(treeMutex_);
    const bool current = generation == treeGeneration_;
    if (!current && attempt < kListingAttempts) continue;
    for (const FileProviderItemPtr& item : *items) {
      if (table_.wasDeleted(item->itemIdentifier())) continue;
      // A listing that changes overlapped shows what it saw but moves no
      // entry the mount already places: the change may have moved it since.
      std::optional<fuse_ino_t> known = current ? std::nullopt : table_.inoOf(item->itemIdentifier());
      children.emplace(shownName(*item), known ? *known : placeItem(item, directory));
    }
    {
      // Files programs are still writing, which the library has not seen.
      std::lock_guard lock(stagingMutex_);
      for (const auto& [ino, pending] : pending_)
        if (pending.parent == directory) children.insert_or_assign(pending.name, ino);
    }
    if (trash) children.emplace(shownName(*trash), placeItem(trash, directory));
    // Changes kept coming: show this listing once and take it again next time.
    if (!current) return std::make_shared<const Children>(std::move(children));
    return table_.setChildren(directory, std::move(children));
  }
}

std::unique_lock<std::mutex> LibraryFileSystem::changeTree() {
  std::unique_lock lock(treeMutex_);
  ++treeGeneration_;
  return lock;
}

std::optional<struct stat> LibraryFileSystem::attributesOf(const Node& node) {
  struct stat attributes {};
  attributes.st_ino = node.ino;
  attributes.st_uid = ::getuid();
  attributes.st_gid = ::getgid();
  if (!node.item && node.ino != NodeTable::kRoot) {
    // An entry inside a package: as its handed-out copy is.
    auto path = packagePathOf(*this, node, nullptr);
    if (!path || ::lstat(path->c_str(), &attributes) != 0) return std::nullopt;
    attributes.st_ino = node.ino;
    attributes.st_mode = (attributes.st_mode & S_IFMT) | (S_ISDIR(attributes.st_mode) ? 0555 : 0444);
    return attributes;
  }
  uint64_t capabilities = node.item ? node.item->capabilities() : kFileProviderItemAllowsReading;
  bool writable = (capabilities & kFileProviderItemAllowsWriting) != 0;
  if (node.directory) {
    attributes.st_mode = S_IFDIR | (writable ? 0755 : 0555);
    attributes.st_nlink = 2;
  } else {
    attributes.st_mode = S_IFREG | (writable ? 0644 : 0444);
    attributes.st_nlink = 1;
  }
  if (node.item) {
    attributes.st_size = static_cast<off_t>(node.item->documentSize().value_or(0));
    attributes.st_mtim = timespecOf(node.item->contentModificationDate());
    attributes.st_ctim = attributes.st_mtim;
    std::optional<Date> used = node.item->lastUsedDate();
    attributes.st_atim = used ? timespecOf(used) : attributes.st_mtim;
  }
  if (std::shared_ptr<StagedFile> staged = stagedFile(node.ino)) {
    // Being written: as the staged contents are.
    struct stat written {};
    if (::fstat(staged->descriptor(), &written) == 0) {
      attributes.st_size = written.st_size;
      attributes.st_mtim = written.st_mtim;
      attributes.st_atim = written.st_atim;
      attributes.st_ctim = written.st_mtim;
    }
  }
  attributes.st_blksize = 4096;
  // Contents that are not on this machine take no blocks, as placeholders
  // of cloud files do.
  const bool dataless = node.item && !node.directory && !node.item->isDownloaded();
  attributes.st_blocks = dataless ? 0 : (attributes.st_size + 511) / 512;
  return attributes;
}

void LibraryFileSystem::invalidateEntry(fuse_ino_t parent, const std::string& name) {
  fuse_session* session = session_.load();
  if (!session || name.empty()) return;
  fuse_lowlevel_notify_inval_entry(session, parent, name.c_str(), name.size());
}

void LibraryFileSystem::invalidateNode(fuse_ino_t ino, bool data) {
  fuse_session* session = session_.load();
  if (!session) return;
  fuse_lowlevel_notify_inval_inode(session, ino, data ? 0 : -1, 0);
}

}  // namespace qlt::fuse
