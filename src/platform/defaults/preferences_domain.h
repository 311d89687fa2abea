#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <variant>

#include "platform/foundation/error.h"
#include "platform/foundation/observer_list.h"
#include "platform/foundation/property_list.h"

namespace qlt {

// The folder holding one preferences file per domain:
// $XDG_CONFIG_HOME/quillet/preferences, by default ~/.config/quillet/preferences.
std::string preferencesDirectory();

// One persistent defaults domain: a binary property list named
// <domain>.plist in the preferences folder, shared by every process of the
// user. Reads check the file's identity and re-read it when another process
// replaced it; writes re-read, change and atomically replace the file while
// holding an flock on <domain>.plist.lock, so writers in different processes
// never lose each other's keys. A file that cannot be parsed reads as empty
// and stays on disk until the next write replaces it.
//
// There is one object per file and process; all methods are thread-safe.
class PreferencesDomain {
 public:
  using ChangedKeys = std::set<std::string>;

  // The domain named `name` in the current preferences folder. Characters
  // that cannot appear in a file name are replaced by '_'.
  static std::shared_ptr<PreferencesDomain> named(const std::string& name);

  const std::string& name() const { return name_; }
  const std::string& path() const { return path_; }

  [[nodiscard]] std::optional<PropertyList> value(const std::string& key);
  PropertyListDictionary contents();

  // Sets (or, with nullopt, removes) one key and writes the file. When the
  // file cannot be written the value is still kept in memory, and false is
  // returned.
  [[nodiscard]] bool setValue(const std::string& key, const std::optional<PropertyList>& value, Error* error = nullptr);

  // Re-reads the file if it changed on disk and tells the listeners.
  void refresh();

  // Listeners hear about every change of the contents, made in this process
  // or read from disk, with the keys whose values changed. They run on the
  // thread that noticed the change, with no lock of this domain held.
  ObserverToken addListener(std::function<void(const ChangedKeys&)> listener);
  void removeListener(ObserverToken token);

  PreferencesDomain(std::string name, std::string path);
  PreferencesDomain(const PreferencesDomain&) = delete;
  PreferencesDomain& operator=(const PreferencesDomain&) = delete;

 private:
  struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const FileIdentity& other) const;
  };

  static FileIdentity identityOf(const struct stat& info);

  // Both require mutex_.
  ChangedKeys reloadIfChanged();
  void replaceContents(PropertyListDictionary contents, ChangedKeys& changed);

  const std::string name_;
  const std::string path_;
  std::mutex mutex_;
  PropertyListDictionary contents_;
  std::optional<FileIdentity> loaded_;
  std::optional<FileIdentity> reportedDamage_;
  ObserverList<std::monostate, ChangedKeys> listeners_;
};

}  // namespace qlt
