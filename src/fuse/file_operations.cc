// The mount's requests on open files: reading handed-out contents, and
// writing staged contents that become the service's create and modify
// requests when a handle is flushed, synced or released.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fuse/errno_mapping.h"
#include "fuse/fuse_requests.h"
#include "platform/foundation/log.h"

namespace qlt::fuse {
namespace {

FileHandle* handleOf(fuse_file_info* info) { return reinterpret_cast<FileHandle*>(info->fh); }

bool allowsWriting(const Node& node) {
  return node.item && (node.item->capabilities() & kFileProviderItemAllowsWriting) != 0;
}

Date dateOf(const struct timespec& time) {
  return Date::fromUnixTime(static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9);
}

void replyOpened(fuse_req_t request, fuse_file_info* info, std::unique_ptr<FileHandle> handle, bool keepCache) {
  info->fh = reinterpret_cast<uint64_t>(handle.release());
  info->keep_cache = keepCache ? 1 : 0;
  fuse_reply_open(request, info);
}

// Reading: a handed-out copy of the contents, or of the entry inside a
// package; the contents being written when someone is writing them.
void openForReading(fuse_req_t request, LibraryFileSystem& system, const Node& node, fuse_file_info* info) {
  auto handle = std::make_unique<FileHandle>();
  if (std::shared_ptr<StagedFile> staged = system.stagedFile(node.ino)) {
    handle->staged = staged;
    return replyOpened(request, info, std::move(handle), false);
  }
  Error error;
  std::string path;
  bool sameVersion = false;
  if (!node.item) {
    auto inside = packagePathOf(system, node, &error);
    if (!inside) return replyError(request, "Opening", node.name, error);
    path = *inside;
    sameVersion = true;
  } else {
    Bytes version = node.item->itemVersion().contentVersion;
    sameVersion = !node.contentsPath.empty() && node.contentsVersion == version &&
                  ::access(node.contentsPath.c_str(), R_OK) == 0;
    if (sameVersion) {
      path = node.contentsPath;
    } else {
      auto contents = system.client().contents(node.identifier, &error);
      if (!contents) return replyError(request, "Opening", node.name, error);
      path = contents->path;
      system.table().setContents(node.ino, path, contents->item->itemVersion().contentVersion);
    }
  }
  handle->descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (handle->descriptor < 0) return replyError(request, "Opening", node.name, posixError(errno, path));
  // The kernel keeps what it read while the contents' version stays.
  replyOpened(request, info, std::move(handle), sameVersion);
}

void open(fuse_req_t request, fuse_ino_t ino, fuse_file_info* info) {
  LibraryFileSystem& system = fileSystem(request);
  std::optional<Node> node = system.table().node(ino);
  if (!node) return (void)fuse_reply_err(request, ENOENT);
  if (node->directory) return (void)fuse_reply_err(request, EISDIR);
  const bool writing = (info->flags & O_ACCMODE) != O_RDONLY;
  const bool truncate = (info->flags & O_TRUNC) != 0;
  if (!writing && !truncate) return openForReading(request, system, *node, info);
  // Inside packages nothing is written: they change as a whole.
  if (!node->item) return (void)fuse_reply_err(request, EROFS);
  if (!allowsWriting(*node)) return (void)fuse_reply_err(request, EACCES);
  Error error;
  auto handle = std::make_unique<FileHandle>();
  handle->staged = system.openStagedFile(ino, truncate, &error);
  if (!handle->staged) return replyError(request, "Opening for writing", node->name, error);
  handle->writing = true;
  replyOpened(request, info, std::move(handle), false);
}

void create(fuse_req_t request, fuse_ino_t parent, const char* name, mode_t, fuse_file_info* info) {
  LibraryFileSystem& system = fileSystem(request);
  std::optional<Node> directory = system.table().node(parent);
  if (!directory) return (void)fuse_reply_err(request, ENOENT);
  if (!directory->item) return (void)fuse_reply_err(request, EROFS);
  if (std::strlen(name) > 255) return (void)fuse_reply_err(request, ENAMETOOLONG);
  Error error;
  auto children = system.childrenOf(parent, &error);
  if (!children) return replyError(request, "Creating", name, error);
  if (children->contains(name)) return (void)fuse_reply_err(request, EEXIST);
  std::optional<fuse_ino_t> ino = system.addPendingFile(parent, name, &error);
  if (!ino) return replyError(request, "Creating", name, error);
  auto handle = std::make_unique<FileHandle>();
  handle->staged = system.stagedFile(*ino);
  handle->writing = true;
  fuse_entry_param entry;
  bool found = false;
  fillEntry(system, *ino, &entry, &error, &found);
  if (!found || !handle->staged) {
    system.releaseStagedFile(*ino);
    return replyError(request, "Creating", name, error);
  }
  // Attributes change with every write: the kernel asks again.
  entry.attr_timeout = 0;
  info->fh = reinterpret_cast<uint64_t>(handle.release());
  fuse_reply_create(request, &entry, info);
}

void read(fuse_req_t request, fuse_ino_t, size_t size, off_t offset, fuse_file_info* info) {
  FileHandle* handle = handleOf(info);
  fuse_bufvec buffer = FUSE_BUFVEC_INIT(size);
  buffer.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
  buffer.buf[0].fd = handle->fd();
  buffer.buf[0].pos = offset;
  fuse_reply_data(request, &buffer, FUSE_BUF_SPLICE_MOVE);
}

void write(fuse_req_t request, fuse_ino_t, const char* data, size_t size, off_t offset, fuse_file_info* info) {
  FileHandle* handle = handleOf(info);
  if (!handle->writing || !handle->staged) return (void)fuse_reply_err(request, EBADF);
  StagedFile& staged = *handle->staged;
  std::lock_guard lock(staged.mutex);
  size_t done = 0;
  while (done < size) {
    ssize_t put = ::pwrite(staged.descriptor(), data + done, size - done, offset + static_cast<off_t>(done));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return (void)fuse_reply_err(request, errno);
    done += static_cast<size_t>(put);
  }
  staged.dirty = true;
  fuse_reply_write(request, done);
}

// Hands written contents to the service; the error goes to close() or
// fsync().
int commitHandle(LibraryFileSystem& system, fuse_ino_t ino, FileHandle& handle) {
  if (!handle.writing || !handle.staged) return 0;
  std::lock_guard lock(handle.staged->mutex);
  Error error;
  if (system.commit(ino, *handle.staged, &error)) return 0;
  int number = errnoFor(error);
  log("Saving what was written to %@ failed: %@", std::to_string(ino), error);
  return number;
}

void flush(fuse_req_t request, fuse_ino_t ino, fuse_file_info* info) {
  fuse_reply_err(request, commitHandle(fileSystem(request), ino, *handleOf(info)));
}

void fsync(fuse_req_t request, fuse_ino_t ino, int, fuse_file_info* info) {
  fuse_reply_err(request, commitHandle(fileSystem(request), ino, *handleOf(info)));
}

void release(fuse_req_t request, fuse_ino_t ino, fuse_file_info* info) {
  LibraryFileSystem& system = fileSystem(request);
  std::unique_ptr<FileHandle> handle(handleOf(info));
  if (handle->writing && handle->staged) {
    (void)commitHandle(system, ino, *handle);
    handle->staged.reset();
    system.releaseStagedFile(ino);
  }
  if (handle->descriptor >= 0) ::close(handle->descriptor);
  fuse_reply_err(request, 0);
}

// Sets the dates a program chose: on staged contents they travel with
// them, otherwise they are a modify request of their own.
bool setDates(LibraryFileSystem& system, const Node& node, const struct stat& attributes, int toSet, Error* error) {
  const struct timespec now = Date::now().toTimespec();
  std::optional<struct timespec> modified, accessed;
  if (toSet & FUSE_SET_ATTR_MTIME_NOW) modified = now;
  else if (toSet & FUSE_SET_ATTR_MTIME) modified = attributes.st_mtim;
  if (toSet & FUSE_SET_ATTR_ATIME_NOW) accessed = now;
  else if (toSet & FUSE_SET_ATTR_ATIME) accessed = attributes.st_atim;
  if (!modified && !accessed) return true;
  if (std::shared_ptr<StagedFile> staged = system.stagedFile(node.ino)) {
    std::lock_guard lock(staged->mutex);
    struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
    if (accessed) times[0] = *accessed;
    if (modified) times[1] = *modified;
    (void)::futimens(staged->descriptor(), times);
    if (modified) staged->modified = dateOf(*modified);
    if (accessed) staged->accessed = dateOf(*accessed);
    // A date alone is a change of a file still being made; of an item, it
    // waits for the contents when they changed, else it is sent now.
    if (staged->dirty || system.isPending(node.ino)) return true;
  }
  if (!node.item) {
    setError(error, posixError(EROFS));
    return false;
  }
  std::shared_ptr<FileProviderItemTemplate> values = FileProviderItemTemplate::copyOf(*node.item);
  uint64_t fields = 0;
  if (modified) {
    values->modified = dateOf(*modified);
    fields |= kFileProviderItemContentModificationDate;
  }
  if (accessed) {
    values->lastUsed = dateOf(*accessed);
    fields |= kFileProviderItemLastUsedDate;
  }
  FileProviderItemPtr item = system.client().modify(values, fields, std::nullopt, error);
  if (!item) return false;
  system.show(item, node.ino);
  return true;
}

bool setSize(LibraryFileSystem& system, const Node& node, off_t size, FileHandle* handle, Error* error) {
  if (!node.item) {
    setError(error, posixError(EROFS));
    return false;
  }
  if (!allowsWriting(node)) {
    setError(error, posixError(EACCES));
    return false;
  }
  std::shared_ptr<StagedFile> staged = handle && handle->writing ? handle->staged : nullptr;
  const bool ownStaging = !staged;
  if (ownStaging) staged = system.openStagedFile(node.ino, size == 0, error);
  if (!staged) return false;
  bool done = false;
  {
    std::lock_guard lock(staged->mutex);
    if (::ftruncate(staged->descriptor(), size) != 0) {
      setError(error, posixError(errno));
    } else {
      staged->dirty = true;
      // truncate(2) on a path has no close to wait for.
      done = !ownStaging || system.commit(node.ino, *staged, error);
    }
  }
  if (ownStaging) system.releaseStagedFile(node.ino);
  return done;
}

void setattr(fuse_req_t request, fuse_ino_t ino, struct stat* attributes, int toSet, fuse_file_info* info) {
  LibraryFileSystem& system = fileSystem(request);
  std::optional<Node> node = system.table().node(ino);
  if (!node) return (void)fuse_reply_err(request, ENOENT);
  Error error;
  if ((toSet & FUSE_SET_ATTR_UID) && attributes->st_uid != ::getuid()) return (void)fuse_reply_err(request, EPERM);
  if ((toSet & FUSE_SET_ATTR_GID) && attributes->st_gid != ::getgid()) return (void)fuse_reply_err(request, EPERM);
  // Permissions are the library's: a mode is taken where the item may be
  // written, and changes nothing.
  if ((toSet & FUSE_SET_ATTR_MODE) && !allowsWriting(*node)) return (void)fuse_reply_err(request, EPERM);
  if (toSet & FUSE_SET_ATTR_SIZE) {
    if (node->directory) return (void)fuse_reply_err(request, EISDIR);
    FileHandle* handle = info ? handleOf(info) : nullptr;
    if (!setSize(system, *node, attributes->st_size, handle, &error))
      return replyError(request, "Truncating", node->name, error);
  }
  if (!setDates(system, *node, *attributes, toSet, &error)) return replyError(request, "Dating", node->name, error);
  std::optional<Node> now = system.table().node(ino);
  std::optional<struct stat> answer = now ? system.attributesOf(*now) : std::nullopt;
  if (!answer) return (void)fuse_reply_err(request, ENOENT);
  fuse_reply_attr(request, &*answer, 0);
}

}  // namespace

void addFileOperations(fuse_lowlevel_ops& operations) {
  operations.open = open;
  operations.create = create;
  operations.read = read;
  operations.write = write;
  operations.flush = flush;
  operations.fsync = fsync;
  operations.release = release;
  operations.setattr = setattr;
}

}  // namespace qlt::fuse
