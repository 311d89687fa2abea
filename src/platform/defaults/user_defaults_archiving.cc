#include "platform/defaults/user_defaults_archiving.h"

#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"
#include "platform/foundation/log.h"

namespace qlt {

std::optional<ArchiveObject> unarchiveObjectOfClass(const UserDefaults& defaults, const std::string& className,
                                                    const std::string& key, Error* error) {
  std::optional<Bytes> data = defaults.dataForKey(key);
  if (!data) {
    setError(error, Error(kUserDefaultsArchivingErrorDomain, kUserDefaultsArchivingNoDataErrorCode, "No such value."));
    return std::nullopt;
  }
  Error failure;
  std::optional<ArchiveObject> object = KeyedUnarchiver::unarchivedObject(*data, {className}, &failure);
  if (!object) {
    log("Error unarchiving defaults object %@: %@", key, failure);
    setError(error, failure);
  }
  return object;
}

bool archiveObject(UserDefaults& defaults, const ArchiveObject& object, const std::string& key, Error* error) {
  std::optional<Bytes> data = KeyedArchiver::archivedData(object, true, error);
  return data && defaults.setObject(*data, key, error);
}

}  // namespace qlt
