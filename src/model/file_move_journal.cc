#include "model/file_move_journal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "model/folder.h"
#include "model/item.h"
#include "platform/files/file_error.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/files/file_system_calls.h"
#include "platform/foundation/log.h"
#include "platform/foundation/uuid.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library_manager.h"
#include "store/library_model_constants.h"
#include "store/library_object.h"
#include "store/library_package_path.h"

namespace qlt {
namespace {

constexpr const char* kJournalFolderName = "Moves";

// Empty without a library: then nothing is written down.
std::string journalFolder() { return sharedLibraryPackagePath(kJournalFolderName); }

// A process is known by its id and its start time, so that a reused id
// does not pass for the process that wrote an entry.
std::string startTimeOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t end = text.rfind(')');
  if (end == std::string::npos) return {};
  std::istringstream fields(text.substr(end + 2));
  std::string field;
  // After the name: state is field 3, start time field 22.
  for (int index = 3; index <= 22 && fields >> field; ++index)
    if (index == 22) return field;
  return {};
}

bool isAlive(pid_t pid, const std::string& startTime) {
  if (pid <= 0) return false;
  if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
  return startTimeOf(pid) == startTime;
}

struct Inode {
  uint64_t device = 0;
  uint64_t number = 0;
};

std::optional<Inode> inodeOf(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return std::nullopt;
  return Inode{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

// Orders entries: nanoseconds, zero-padded so that text order is time order.
std::string writtenStamp() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  char text[32];
  std::snprintf(text, sizeof text, "%020lld",
                static_cast<long long>(now.tv_sec) * 1000000000LL + static_cast<long long>(now.tv_nsec));
  return text;
}

std::mutex& registryMutex() {
  static auto& mutex = *new std::mutex;  // outlives queue threads
  return mutex;
}

struct Written {
  std::string entry;
  std::string setAside;  // what a deletion moved away, removed once saved
  std::string from;      // where it was
  std::string to;        // where a move or a new folder put it
  Inode moved;           // what a move moved
};

// This process's entries by item.
std::multimap<std::string, Written>& registry() {
  static auto& entries = *new std::multimap<std::string, Written>;
  return entries;
}

std::optional<std::string> write(const std::string& identifier, const std::string& from, const std::string& to,
                                 const char* kind, Error* error, Inode* moved = nullptr) {
  std::optional<Inode> inode = from.empty() ? Inode{} : inodeOf(from);
  if (!inode) {
    setError(error, fileReadError(errno, from));
    return std::nullopt;
  }
  if (moved) *moved = *inode;
  const std::string folder = journalFolder();
  if (folder.empty()) return std::string();
  if (!fileExists(folder) && !createDirectory(folder, true, error)) return std::nullopt;
  const pid_t pid = ::getpid();
  nlohmann::json entry{{"pid", pid},     {"started", startTimeOf(pid)}, {"identifier", identifier},
                       {"from", from},   {"to", to},                    {"device", inode->device},
                       {"inode", inode->number}, {"written", writtenStamp()}, {"kind", kind}};
  // Written, not flushed: it must outlive the process, which the page cache
  // sees to; a flush per move would cost more than the move. An entry cut
  // short by a power failure is unreadable and dropped.
  const std::string path = appendingPathComponent(folder, newUUIDString() + ".move");
  const std::string text = entry.dump();
  FileSystemCalls& calls = FileSystemCalls::current();
  int descriptor = calls.openForWriting(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (descriptor < 0) {
    setError(error, fileWriteError(errno, path));
    return std::nullopt;
  }
  std::string_view rest = text;
  int failure = 0;
  while (!rest.empty() && failure == 0) {
    ssize_t written = calls.write(descriptor, rest.data(), rest.size());
    if (written < 0 && errno != EINTR) failure = errno;
    if (written > 0) rest.remove_prefix(static_cast<size_t>(written));
  }
  ::close(descriptor);
  if (failure != 0) {
    (void)calls.unlink(path.c_str());
    setError(error, fileWriteError(failure, path));
    return std::nullopt;
  }
  return path;
}

bool isSavedFolderDirectory(ManagedObjectContext& context, const std::string& path) {
  ManagedObjectPtr library = LibraryObject::libraryObject(context, kLibraryEntityName, kLibraryEntityName);
  for (const char* key : {"rootFolder", "trashFolder", "sharedFolder"}) {
    auto top = library ? std::dynamic_pointer_cast<Folder>(library->objectForKey(key)) : nullptr;
    Folder::Ptr nearest = top ? top->nearestDescendentForPath(path) : nullptr;
    if (nearest && nearest->folderPath() == path) return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> FileMoveJournal::begin(const std::string& identifier, const std::string& from,
                                                  const std::string& to, Error* error) {
  Inode moved;
  std::optional<std::string> entry = write(identifier, from, to, "move", error, &moved);
  if (!entry) return std::nullopt;
  std::lock_guard lock(registryMutex());
  registry().emplace(identifier, Written{*entry, {}, from, to, moved});
  return entry;
}

std::optional<std::string> FileMoveJournal::beginCreation(const std::string& identifier, const std::string& path,
                                                          Error* error) {
  std::optional<std::string> entry = write(identifier, {}, path, "create", error);
  if (!entry) return std::nullopt;
  std::lock_guard lock(registryMutex());
  registry().emplace(identifier, Written{*entry, {}, {}, path, {}});
  return entry;
}

bool FileMoveJournal::setAside(const std::string& identifier, const std::string& path, Error* error) {
  if (journalFolder().empty()) return removeItem(path, error);
  const std::string held = appendingPathComponent(LibraryManager::sharedManager()->currentImportFolderPath(),
                                                  newUUIDString());
  std::optional<std::string> entry = write(identifier, path, held, "delete", error);
  if (!entry) return false;
  if (!moveItem(path, held, error)) {
    (void)FileSystemCalls::current().unlink(entry->c_str());
    return false;
  }
  std::lock_guard lock(registryMutex());
  registry().emplace(identifier, Written{*entry, held, path, held, {}});
  return true;
}

void FileMoveJournal::abandon(const std::string& entry) {
  if (entry.empty()) return;
  {
    std::lock_guard lock(registryMutex());
    for (auto it = registry().begin(); it != registry().end(); ++it) {
      if (it->second.entry == entry) {
        registry().erase(it);
        break;
      }
    }
  }
  (void)FileSystemCalls::current().unlink(entry.c_str());
}

namespace {

std::vector<Written> takeWritten(const std::string& identifier) {
  std::vector<Written> taken;
  std::lock_guard lock(registryMutex());
  auto [first, last] = registry().equal_range(identifier);
  for (auto it = first; it != last; ++it) taken.push_back(it->second);
  registry().erase(first, last);
  return taken;
}

// Moves what `written` set aside back to `savedPath` or else where it came
// from. An empty directory made there meanwhile (a folder's directory made
// again from its row) gives way.
bool moveBack(const Written& written, const std::optional<std::string>& savedPath) {
  const bool directory = isDirectory(written.setAside);
  auto freed = [&](const std::string& path) {
    if (!inodeOf(path)) return true;
    return directory && isDirectory(path) && removeEmptyDirectory(path);
  };
  std::string back;
  if (savedPath && !savedPath->empty() && freed(*savedPath))
    back = *savedPath;
  else if (freed(written.from))
    back = written.from;
  Error failure;
  if (!back.empty() && moveItem(written.setAside, back, &failure)) {
    log("Put back %@ at %@: its deletion was not saved", written.setAside, back);
    return true;
  }
  log("Cannot put back %@ (set aside from %@): %@", written.setAside, written.from, failure);
  return false;
}

}  // namespace

void FileMoveJournal::finish(const std::string& identifier, bool deleted) {
  for (const Written& written : takeWritten(identifier)) {
    bool keepEntry = false;
    if (!written.setAside.empty() && inodeOf(written.setAside)) {
      // Only a saved deletion lets the file go.
      if (deleted)
        (void)removeItem(written.setAside);
      else
        keepEntry = !moveBack(written, std::nullopt);
    }
    if (!written.entry.empty() && !keepEntry) (void)FileSystemCalls::current().unlink(written.entry.c_str());
  }
}

void FileMoveJournal::forgetCreation(const std::string& identifier) {
  // A new object has nothing set aside: finishing only strikes out entries.
  finish(identifier, false);
}

bool FileMoveJournal::putBack(const std::string& identifier, const std::optional<std::string>& savedPath) {
  bool all = true;
  std::vector<Written> kept;
  for (const Written& written : takeWritten(identifier)) {
    if (written.setAside.empty()) {
      kept.push_back(written);  // a move, struck out when the item is saved
      continue;
    }
    if (inodeOf(written.setAside) && !moveBack(written, savedPath)) {
      all = false;
      continue;  // written down still: recovery puts it back
    }
    if (!written.entry.empty()) (void)FileSystemCalls::current().unlink(written.entry.c_str());
  }
  std::lock_guard lock(registryMutex());
  for (Written& written : kept) registry().emplace(identifier, std::move(written));
  return all;
}

bool FileMoveJournal::undoUnsaved(const std::string& identifier) {
  std::vector<Written> written = takeWritten(identifier);
  std::vector<Written> kept;
  // The latest first, so that a chain of moves is undone back to its start.
  for (auto it = written.rbegin(); it != written.rend(); ++it) {
    bool undone = true;
    if (!it->setAside.empty()) {
      undone = !inodeOf(it->setAside) || moveBack(*it, std::nullopt);
    } else if (it->from.empty()) {
      // A new folder's directory: removed while nothing was put in it.
      if (isDirectory(it->to)) (void)removeEmptyDirectory(it->to);
    } else {
      std::optional<Inode> there = inodeOf(it->to);
      const bool ours = there && there->device == it->moved.device && there->number == it->moved.number;
      Error failure;
      if (ours && (inodeOf(it->from) || !moveItem(it->to, it->from, &failure))) {
        log("Cannot undo the unsaved move of %@ to %@: %@", identifier, it->to, failure);
        undone = false;
      }
    }
    if (undone) {
      if (!it->entry.empty()) (void)FileSystemCalls::current().unlink(it->entry.c_str());
    } else {
      kept.push_back(std::move(*it));
    }
  }
  // What could not be undone stays written down, for recovery once this
  // process is gone.
  std::lock_guard lock(registryMutex());
  for (auto it = kept.rbegin(); it != kept.rend(); ++it) registry().emplace(identifier, std::move(*it));
  return kept.empty();
}

int FileMoveJournal::recover(ManagedObjectContext& context) {
  const std::string folder = journalFolder();
  std::optional<std::vector<std::string>> names = folder.empty() ? std::nullopt : contentsOfDirectory(folder);
  if (!names) return 0;
  struct Entry {
    std::string path;
    nlohmann::json fields;
  };
  std::vector<Entry> entries;
  for (const std::string& name : *names) {
    if (pathExtension(name) != "move") continue;
    const std::string path = appendingPathComponent(folder, name);
    std::optional<std::string> text = readFile(path);
    nlohmann::json fields = text ? nlohmann::json::parse(*text, nullptr, false) : nlohmann::json();
    if (!fields.is_object() || !fields.contains("to") || !fields.contains("from")) {
      log("Dropping unreadable file move record %@", path);
      (void)FileSystemCalls::current().unlink(path.c_str());
      continue;
    }
    if (isAlive(fields.value("pid", 0), fields.value("started", std::string()))) continue;
    entries.push_back({path, fields});
  }
  // The latest first, so that a chain of moves is undone back to its start.
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.fields.value("written", std::string()) > b.fields.value("written", std::string());
  });
  int undone = 0;
  for (const Entry& entry : entries) {
    const std::string identifier = entry.fields.value("identifier", std::string());
    const std::string from = entry.fields.value("from", std::string());
    const std::string to = entry.fields.value("to", std::string());
    std::optional<std::string> saved;
    if (auto item = std::dynamic_pointer_cast<Item>(LibraryObject::libraryObject(context, kItemEntityName, identifier)))
      saved = item->fileURL();
    else if (auto folder = std::dynamic_pointer_cast<Folder>(
                 LibraryObject::libraryObject(context, kFolderEntityName, identifier)))
      saved = folder->folderPath();
    std::optional<Inode> there = inodeOf(to);
    const bool ours = there && there->device == entry.fields.value("device", uint64_t{0}) &&
                      there->number == entry.fields.value("inode", uint64_t{0});
    Error failure;
    const std::string kind = entry.fields.value("kind", std::string());
    const bool deletion = kind == "delete";
    if (kind == "create") {
      // A directory made for a folder that was never saved, or made again
      // where a folder's rows said it was until another process's saved
      // move or deletion said otherwise: removed while nothing was put in
      // it and no saved folder has it.
      if (saved != to && !isSavedFolderDirectory(context, to) && removeEmptyDirectory(to)) {
        ++undone;
        // Its parents were made along with it when they were missing too.
        for (std::string parent = deletingLastPathComponent(to);
             !isSavedFolderDirectory(context, parent) && removeEmptyDirectory(parent);
             parent = deletingLastPathComponent(parent)) {
        }
      }
    } else if (deletion && ours && !saved) {
      // The deletion was saved: what it set aside goes.
      if (removeItem(to, &failure)) ++undone;
    } else if (!ours || saved == to) {
      // Gone or replaced since, or saved: nothing to undo.
    } else if (!saved && from.starts_with(LibraryManager::sharedManager()->libraryImportsFolderPath() + "/")) {
      // A new item that was never saved: the file is the library's own
      // copy, and nothing refers to it.
      if (removeItem(to, &failure)) {
        log("Removed the file of an unsaved new item: %@", to);
        ++undone;
      }
    } else {
      // Back where the saved row says it is, or where it came from. Loading
      // the library may have made an empty directory there for the folder
      // meanwhile: the one set aside takes its place.
      if (saved && isDirectory(to)) (void)removeEmptyDirectory(*saved);
      const std::string back = saved && !inodeOf(*saved) ? *saved : from;
      if (!inodeOf(back) && moveItem(to, back, &failure)) {
        log("Undid the unsaved move of %@ to %@", identifier, to);
        ++undone;
      } else {
        log("Cannot undo the unsaved move of %@ to %@: %@", identifier, to, failure);
      }
    }
    (void)FileSystemCalls::current().unlink(entry.path.c_str());
  }
  return undone;
}

}  // namespace qlt
