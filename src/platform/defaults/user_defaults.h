#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/observer_list.h"
#include "platform/foundation/property_list.h"

namespace qlt {

class PreferencesDomain;

// Settings looked up by key in a search list of domains: the object's own
// persistent domain, then the suites added with addSuiteNamed() in the order
// they were added, then the registration domain. Persistent domains live in
// $XDG_CONFIG_HOME/quillet/preferences/<domain>.plist and are shared with
// every other process of the user: writes go to disk at once, and reads pick
// up files that another process changed.
//
// All methods are thread-safe.
class UserDefaults {
 public:
  using Observer = std::function<void(const std::optional<PropertyList>& newValue)>;

  static constexpr const char* kDefaultApplicationDomain = "com.quillet.fileprovider";

  // The domain of standard(). Changing it succeeds only before standard()
  // is first used (or when the name is unchanged).
  static bool setApplicationDomain(const std::string& domain);
  static std::string applicationDomain();
  static UserDefaults& standard();

  // The defaults of the suite `suiteName`; an empty name stands for the
  // application domain.
  explicit UserDefaults(const std::string& suiteName = {});
  ~UserDefaults();
  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;

  const std::string& domainName() const { return domainName_; }

  // Adding the object's own domain or a suite already in the list does
  // nothing.
  void addSuiteNamed(const std::string& suiteName);
  void removeSuiteNamed(const std::string& suiteName);

  // Merges `defaults` into the registration domain, which is searched last
  // and lives only in memory.
  void registerDefaults(const PropertyListDictionary& defaults);

  [[nodiscard]] std::optional<PropertyList> objectForKey(const std::string& key) const;
  // Strings, and numbers in their decimal form.
  [[nodiscard]] std::optional<std::string> stringForKey(const std::string& key) const;
  // 0 when unset or not a number.
  int64_t integerForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;
  // NO when unset; numbers, Booleans and strings ("YES", "true", "1") read
  // leniently.
  bool boolForKey(const std::string& key) const;
  [[nodiscard]] std::optional<Bytes> dataForKey(const std::string& key) const;
  [[nodiscard]] std::optional<PropertyListArray> arrayForKey(const std::string& key) const;
  [[nodiscard]] std::optional<PropertyListDictionary> dictionaryForKey(const std::string& key) const;
  [[nodiscard]] std::optional<Date> dateForKey(const std::string& key) const;

  // Every key visible through this object with the value lookup returns.
  PropertyListDictionary dictionaryRepresentation() const;

  // Setters write the object's own domain. They fail only when the file
  // cannot be written, in which case the value is still visible in this
  // process.
  [[nodiscard]] bool setObject(const PropertyList& value, const std::string& key, Error* error = nullptr);
  [[nodiscard]] bool setString(const std::string& value, const std::string& key, Error* error = nullptr);
  [[nodiscard]] bool setInteger(int64_t value, const std::string& key, Error* error = nullptr);
  [[nodiscard]] bool setDouble(double value, const std::string& key, Error* error = nullptr);
  [[nodiscard]] bool setBool(bool value, const std::string& key, Error* error = nullptr);
  [[nodiscard]] bool removeObjectForKey(const std::string& key, Error* error = nullptr);

  // Re-reads the files of all searched domains that changed on disk and
  // tells observers about values that changed. Writes need no
  // synchronization; this is how changes by other processes are picked up
  // when nothing reads them.
  void synchronize();

  // Calls `observer` with the new value whenever the value visible through
  // this object for `key` changes: by a setter of any object sharing one of
  // the searched domains, by registration or suite changes, or by another
  // process (noticed on the next read or synchronize()). It runs on the
  // thread that made or noticed the change.
  ObserverToken addObserver(const std::string& key, Observer observer);
  // Once this returns the observer is not called again.
  void removeObserver(ObserverToken token);

 private:
  struct SearchList {
    std::vector<std::shared_ptr<PreferencesDomain>> domains;  // own domain first
    std::shared_ptr<const PropertyListDictionary> registration;
  };
  struct Suite {
    std::shared_ptr<PreferencesDomain> domain;
    ObserverToken listener;
  };

  SearchList searchList() const;
  [[nodiscard]] static std::optional<PropertyList> lookUp(const SearchList& list, const std::string& key);
  Suite attach(std::shared_ptr<PreferencesDomain> domain);
  // Compares the visible value of every observed key (all of them when
  // `keys` is null) with the one observers last heard of, and notifies.
  void updateObservers(const std::set<std::string>* keys);

  const std::string domainName_;
  mutable std::mutex mutex_;
  Suite own_;
  std::vector<Suite> suites_;
  std::shared_ptr<const PropertyListDictionary> registration_;
  std::map<ObserverToken, std::optional<PropertyList>> lastNotified_;
  ObserverList<std::string, std::optional<PropertyList>> observers_;
};

}  // namespace qlt
