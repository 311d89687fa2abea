#include "platform/files/directory_watcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "platform/files/file_path.h"
#include "platform/foundation/log.h"

namespace qlt {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kIdleWait{1000};

bool isBelowOrAt(const std::string& path, const std::string& directory) {
  return path == directory || (path.size() > directory.size() && path.starts_with(directory) &&
                               path[directory.size()] == '/');
}

int64_t nanoseconds(const timespec& time) { return int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec; }

// The entries of a directory with what tells a change apart, not following
// symbolic links; nothing for a directory that cannot be read.
std::optional<std::map<std::string, struct stat>> listDirectory(const std::string& path) {
  DIR* directory = ::opendir(path.c_str());
  if (!directory) return std::nullopt;
  std::map<std::string, struct stat> entries;
  while (dirent* entry = ::readdir(directory)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat status {};
    if (::fstatat(::dirfd(directory), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0)
      entries.emplace(std::move(name), status);
  }
  ::closedir(directory);
  return entries;
}

}  // namespace

DirectoryWatcher::DirectoryWatcher(std::vector<std::string> roots, Handler handler, std::unique_ptr<WatchSource> source,
                                   Timing timing)
    : roots_(std::move(roots)), handler_(std::move(handler)), source_(std::move(source)), timing_(timing) {
  for (std::string& root : roots_) root = standardizingPath(root);
}

DirectoryWatcher::~DirectoryWatcher() { stop(); }

bool DirectoryWatcher::start(Error* error) {
  if (!source_) source_ = makeInotifyWatchSource(error);
  if (!source_) return false;
  {
    std::lock_guard lock(mutex_);
    for (const std::string& root : roots_) addTree(root, nullptr);
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

void DirectoryWatcher::stop() {
  stopping_ = true;
  if (source_) source_->wake();
  if (thread_.joinable()) thread_.join();
}

size_t DirectoryWatcher::watchedDirectoryCount() const {
  std::lock_guard lock(mutex_);
  return watches_.size();
}

size_t DirectoryWatcher::polledDirectoryCount() const {
  std::lock_guard lock(mutex_);
  return polled_.size();
}

void DirectoryWatcher::run() {
  Pending pending;
  bool gathering = false;
  Clock::time_point first, last;
  Clock::time_point nextPoll = Clock::now() + timing_.pollInterval;
  while (!stopping_) {
    Clock::time_point now = Clock::now();
    milliseconds timeout = kIdleWait;
    if (gathering) {
      auto untilQuiet = std::chrono::duration_cast<milliseconds>(last + timing_.quiet - now);
      auto untilLongest = std::chrono::duration_cast<milliseconds>(first + timing_.longest - now);
      timeout = std::min({timeout, untilQuiet, untilLongest});
    }
    bool polling = polledDirectoryCount() > 0;
    if (polling) timeout = std::min(timeout, std::chrono::duration_cast<milliseconds>(nextPoll - now));
    std::vector<WatchEvent> events = source_->readEvents(std::max(timeout, milliseconds(0)));
    if (stopping_) break;

    size_t before = pending.paths.size();
    bool rescanBefore = pending.rescan;
    {
      std::lock_guard lock(mutex_);
      for (const WatchEvent& event : events) handle(event, pending);
      now = Clock::now();
      if (polling && now >= nextPoll) {
        poll(pending);
        nextPoll = now + timing_.pollInterval;
      }
    }
    bool grew = pending.paths.size() != before || pending.rescan != rescanBefore;
    if (grew || (gathering && !events.empty())) {
      if (!gathering) first = now;
      gathering = true;
      last = now;
    }
    if (!gathering || (now - last < timing_.quiet && now - first < timing_.longest)) continue;

    DirectoryChanges changes;
    {
      std::lock_guard lock(mutex_);
      // A directory moved out of the watched trees stays watched by the
      // kernel wherever it went; let it go.
      for (const auto& [cookie, path] : movedAway_) forgetTree(path);
      movedAway_.clear();
    }
    changes.paths.assign(pending.paths.begin(), pending.paths.end());
    changes.rescan = pending.rescan;
    pending = {};
    gathering = false;
    handler_(changes);
  }
}

void DirectoryWatcher::handle(const WatchEvent& event, Pending& pending) {
  if (event.mask & IN_Q_OVERFLOW) {
    pending.rescan = true;
    resynchronize();
    return;
  }
  auto found = watches_.find(event.watch);
  if (found == watches_.end()) return;
  const std::string directory = found->second;
  if (event.mask & IN_IGNORED) {
    watches_.erase(found);
    return;
  }
  if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
    if (std::find(roots_.begin(), roots_.end(), directory) != roots_.end()) pending.paths.insert(directory);
    return;
  }
  std::string path = event.name.empty() ? directory : appendingPathComponent(directory, event.name);
  pending.paths.insert(path);
  if (!(event.mask & IN_ISDIR)) return;
  if (event.mask & IN_MOVED_FROM) {
    movedAway_[event.cookie] = path;
  } else if (event.mask & IN_MOVED_TO) {
    auto moved = movedAway_.find(event.cookie);
    if (moved != movedAway_.end()) {
      renameTree(moved->second, path);
      movedAway_.erase(moved);
    } else {
      addTree(path, &pending);
    }
  } else if (event.mask & IN_CREATE) {
    addTree(path, &pending);
  } else if (event.mask & IN_DELETE) {
    forgetTree(path);
  }
}

void DirectoryWatcher::addTree(const std::string& path, Pending* report) {
  std::vector<std::string> directories{path};
  while (!directories.empty()) {
    std::string directory = std::move(directories.back());
    directories.pop_back();
    watchDirectory(directory);
    std::optional<std::map<std::string, struct stat>> entries = listDirectory(directory);
    if (!entries) continue;
    for (const auto& [name, status] : *entries) {
      std::string entry = appendingPathComponent(directory, name);
      if (report) report->paths.insert(entry);
      if (S_ISDIR(status.st_mode)) directories.push_back(std::move(entry));
    }
  }
}

void DirectoryWatcher::watchDirectory(const std::string& path) {
  Error error;
  int watch = source_->addWatch(path, &error);
  if (watch >= 0) {
    watches_[watch] = path;
    polled_.erase(path);
    return;
  }
  const Error* cause = error.underlyingError() ? error.underlyingError() : &error;
  if (cause->code() != ENOSPC) return;  // gone already, or not a directory
  if (!limitLogged_) {
    log("Directory watch limit reached; watching %@ and what follows by polling", path);
    limitLogged_ = true;
  }
  Snapshot snapshot;
  if (std::optional<std::map<std::string, struct stat>> entries = listDirectory(path))
    for (const auto& [name, status] : *entries)
      snapshot[name] = {nanoseconds(status.st_mtim), nanoseconds(status.st_ctim), static_cast<int64_t>(status.st_size),
                        S_ISDIR(status.st_mode)};
  polled_[path] = std::move(snapshot);
}

void DirectoryWatcher::renameTree(const std::string& from, const std::string& to) {
  auto moved = [&](const std::string& path) { return to + path.substr(from.size()); };
  for (auto& [watch, path] : watches_)
    if (isBelowOrAt(path, from)) path = moved(path);
  std::map<std::string, Snapshot> polled;
  for (auto& [path, snapshot] : polled_) polled[isBelowOrAt(path, from) ? moved(path) : path] = std::move(snapshot);
  polled_ = std::move(polled);
}

void DirectoryWatcher::forgetTree(const std::string& path) {
  for (auto it = watches_.begin(); it != watches_.end();) {
    if (isBelowOrAt(it->second, path)) {
      source_->removeWatch(it->first);
      it = watches_.erase(it);
    } else {
      ++it;
    }
  }
  std::erase_if(polled_, [&](const auto& entry) { return isBelowOrAt(entry.first, path); });
}

// After lost events the kernel's watches may name directories that moved
// and miss new ones: watch the trees again, keeping what is still there.
void DirectoryWatcher::resynchronize() {
  std::map<int, std::string> previous = std::move(watches_);
  watches_.clear();
  movedAway_.clear();
  polled_.clear();
  for (const std::string& root : roots_) addTree(root, nullptr);
  for (const auto& [watch, path] : previous)
    if (!watches_.contains(watch)) source_->removeWatch(watch);
}

void DirectoryWatcher::poll(Pending& pending) {
  std::vector<std::string> directories;
  for (const auto& [path, snapshot] : polled_) directories.push_back(path);
  for (const std::string& directory : directories) {
    auto found = polled_.find(directory);
    if (found == polled_.end()) continue;  // forgotten or watched meanwhile
    std::optional<std::map<std::string, struct stat>> entries = listDirectory(directory);
    if (!entries) {
      pending.paths.insert(directory);
      forgetTree(directory);
      continue;
    }
    Snapshot now;
    std::vector<std::string> newDirectories;
    for (const auto& [name, status] : *entries) {
      Stamp stamp{nanoseconds(status.st_mtim), nanoseconds(status.st_ctim), static_cast<int64_t>(status.st_size),
                  S_ISDIR(status.st_mode)};
      auto old = found->second.find(name);
      if (old == found->second.end() || !(old->second == stamp)) {
        pending.paths.insert(appendingPathComponent(directory, name));
        if (stamp.directory && (old == found->second.end() || !old->second.directory))
          newDirectories.push_back(appendingPathComponent(directory, name));
      }
      now[name] = stamp;
    }
    for (const auto& [name, stamp] : found->second)
      if (!now.contains(name)) {
        pending.paths.insert(appendingPathComponent(directory, name));
        if (stamp.directory) forgetTree(appendingPathComponent(directory, name));
      }
    polled_[directory] = std::move(now);
    for (const std::string& path : newDirectories) addTree(path, &pending);
  }
}

}  // namespace qlt
