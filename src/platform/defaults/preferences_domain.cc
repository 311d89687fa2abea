#include "platform/defaults/preferences_domain.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>

#include "platform/foundation/log.h"
#include "platform/files/property_list_file.h"
#include "platform/foundation/property_list_serialization.h"

namespace qlt {

namespace {

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/tmp";
}

bool makeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

std::string fileNameForDomain(const std::string& name) {
  std::string result = name.empty() ? "_" : name;
  for (char& c : result) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (result == "." || result == "..") result = "_";
  return result;
}

// Closes a descriptor, which also drops any flock taken through it.
struct FileDescriptor {
  int fd = -1;
  ~FileDescriptor() {
    if (fd >= 0) close(fd);
  }
};

std::optional<Bytes> readAll(int fd) {
  Bytes bytes;
  uint8_t buffer[16384];
  for (;;) {
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return std::nullopt;
    if (count == 0) return bytes;
    bytes.insert(bytes.end(), buffer, buffer + count);
  }
}

}  // namespace

std::string preferencesDirectory() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base = (config && config[0] == '/') ? std::string(config) : homeDirectory() + "/.config";
  return base + "/quillet/preferences";
}

std::shared_ptr<PreferencesDomain> PreferencesDomain::named(const std::string& name) {
  static auto& registryMutex = *new std::mutex;
  static auto& registry = *new std::map<std::string, std::weak_ptr<PreferencesDomain>>;
  std::string path = preferencesDirectory() + "/" + fileNameForDomain(name) + ".plist";
  std::lock_guard lock(registryMutex);
  for (auto it = registry.begin(); it != registry.end();) {
    it = it->second.expired() ? registry.erase(it) : std::next(it);
  }
  auto& slot = registry[path];
  auto domain = slot.lock();
  if (!domain) {
    domain = std::make_shared<PreferencesDomain>(name, path);
    slot = domain;
  }
  return domain;
}

PreferencesDomain::PreferencesDomain(std::string name, std::string path)
    : name_(std::move(name)), path_(std::move(path)) {}

PreferencesDomain::FileIdentity PreferencesDomain::identityOf(const struct stat& info) {
  return {true, info.st_dev, info.st_ino, info.st_size, info.st_mtim};
}

bool PreferencesDomain::FileIdentity::operator==(const FileIdentity& other) const {
  return exists == other.exists && device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

std::optional<PropertyList> PreferencesDomain::value(const std::string& key) {
  ChangedKeys changed;
  std::optional<PropertyList> result;
  {
    std::lock_guard lock(mutex_);
    changed = reloadIfChanged();
    if (auto found = contents_.find(key); found != contents_.end()) result = found->second;
  }
  if (!changed.empty()) listeners_.notifyAll(changed);
  return result;
}

PropertyListDictionary PreferencesDomain::contents() {
  ChangedKeys changed;
  PropertyListDictionary result;
  {
    std::lock_guard lock(mutex_);
    changed = reloadIfChanged();
    result = contents_;
  }
  if (!changed.empty()) listeners_.notifyAll(changed);
  return result;
}

void PreferencesDomain::refresh() {
  ChangedKeys changed;
  {
    std::lock_guard lock(mutex_);
    changed = reloadIfChanged();
  }
  if (!changed.empty()) listeners_.notifyAll(changed);
}

bool PreferencesDomain::setValue(const std::string& key, const std::optional<PropertyList>& value, Error* error) {
  makeDirectories(path_.substr(0, path_.rfind('/')));
  ChangedKeys changed;
  bool written = true;
  {
    // The lock is taken through a descriptor of our own so that it conflicts
    // with writers in other processes and other threads alike. It is
    // released before listeners run, as they may write again.
    FileDescriptor lockFile{open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)};
    if (lockFile.fd >= 0) {
      while (flock(lockFile.fd, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
    std::lock_guard lock(mutex_);
    // Under the file lock the file is the truth, even if its identity looks
    // unchanged (inode numbers get reused).
    loaded_.reset();
    changed = reloadIfChanged();
    auto found = contents_.find(key);
    bool unchanged = value ? (found != contents_.end() && found->second == *value) : found == contents_.end();
    if (!unchanged) {
      PropertyListDictionary updated = contents_;
      if (value) {
        updated[key] = *value;
      } else {
        updated.erase(key);
      }
      Error failure;
      written = writePropertyListToFile(PropertyList(updated), path_, PropertyListFormat::Binary, &failure);
      if (written) {
        struct stat info {};
        if (stat(path_.c_str(), &info) == 0) {
          loaded_ = identityOf(info);
        } else {
          loaded_.reset();
        }
      } else {
        // Kept in memory: readers in this process see the value until the
        // next write or a change on disk.
        log("Cannot write the preferences of %@: %@", name_, failure);
        setError(error, failure);
      }
      replaceContents(std::move(updated), changed);
    }
  }
  if (!changed.empty()) listeners_.notifyAll(changed);
  return written;
}

ObserverToken PreferencesDomain::addListener(std::function<void(const ChangedKeys&)> listener) {
  return listeners_.add({}, std::move(listener));
}

void PreferencesDomain::removeListener(ObserverToken token) { listeners_.remove(token); }

PreferencesDomain::ChangedKeys PreferencesDomain::reloadIfChanged() {
  ChangedKeys changed;
  FileIdentity identity;
  FileDescriptor file{open(path_.c_str(), O_RDONLY | O_CLOEXEC)};
  struct stat info {};
  if (file.fd < 0 || fstat(file.fd, &info) != 0) {
    if (file.fd >= 0 || (errno != ENOENT && errno != ENOTDIR)) {
      // Unreadable: keep what we have rather than forget every setting.
      if (!loaded_) log("Cannot read the preferences of %@: %@", name_, posixError(errno, path_));
      loaded_ = identity;
      return changed;
    }
    if (loaded_ && *loaded_ == identity) return changed;
    loaded_ = identity;
    replaceContents({}, changed);
    return changed;
  }
  identity = identityOf(info);
  if (loaded_ && *loaded_ == identity) return changed;
  loaded_ = identity;

  PropertyListDictionary contents;
  Error failure;
  auto bytes = readAll(file.fd);
  std::optional<PropertyList> parsed;
  if (bytes) parsed = parsePropertyList(*bytes, &failure);
  if (parsed && parsed->isDictionary()) {
    contents = std::move(*parsed->dictionary());
  } else if (!bytes) {
    log("Cannot read the preferences of %@: %@", name_, posixError(errno, path_));
  } else if (reportedDamage_ != identity) {
    reportedDamage_ = identity;
    log("Ignoring the damaged preferences file %@ (%@)", path_,
        parsed ? std::string("not a dictionary") : failure.description());
  }
  replaceContents(std::move(contents), changed);
  return changed;
}

void PreferencesDomain::replaceContents(PropertyListDictionary contents, ChangedKeys& changed) {
  for (auto& [key, value] : contents_) {
    auto found = contents.find(key);
    if (found == contents.end() || !(found->second == value)) changed.insert(key);
  }
  for (auto& [key, value] : contents) {
    if (!contents_.count(key)) changed.insert(key);
  }
  contents_ = std::move(contents);
}

}  // namespace qlt
