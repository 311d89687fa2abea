#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/observer_list.h"
#include "store/library_object.h"

namespace qlt {

inline constexpr const char* kCloudDefaultsObservationContext = "QLTCloudDefaultsObservationContext";

// The library's one settings object ("QLTStandardCloudDefaults"): the user
// defaults that follow the user from device to device, mirrored into its
// attributes so that they travel as a cloud record. Colours are secure
// keyed archives of the colour in user defaults and of its property-list
// form here. The copy into the object happens when observation starts and
// on every change of an observed key; the copy back into user defaults
// when a cloud record is applied.
class CloudDefaults : public LibraryObject {
 public:
  // The 31 mirrored keys, in order, and the attribute of each.
  static const std::vector<std::string>& observedDefaultsKeys();
  static const std::map<std::string, std::string>& defaultsKeyMapping();
  [[nodiscard]] static std::optional<std::string> savedKeyForDefaultsKey(const std::string& key);
  static bool isColorDefaultsKey(const std::string& key);
  // False for the five sizes whose zero here means "not set".
  static bool allowsZeroValueForDefaultsKey(const std::string& key);

  // The library's settings object in `context`, inserted when there is
  // none yet; null without a library.
  static std::shared_ptr<CloudDefaults> cloudDefaults(ManagedObjectContext& context);

  ~CloudDefaults() override;

  void startObservingDefaults();
  void stopObservingDefaults();
  bool isObservingDefaults() const;

  // User defaults → this object, for one key.
  void updateSavedValueForDefaultsKey(const std::string& key);
  // This object → user defaults, for one key, leaving an equal value alone.
  void updateDefaultsForKeyIfNecessary(const std::string& key);

  void updateFromCloudRecord(const CloudRecord& record) override;

 protected:
  void prepareForDeletion() override;

 private:
  void updateDefaultsForKey(const std::string& key);
  void updateColorDefaultsForKey(const std::string& key);
  void setIfChanged(const std::string& attribute, const Value& value);

  mutable std::mutex mutex_;
  std::vector<ObserverToken> observations_;
  bool observing_ = false;
};

// Gives the settings object its class. Must run before the library store
// opens; safe to call again and from any thread.
void registerCloudClasses();

}  // namespace qlt
