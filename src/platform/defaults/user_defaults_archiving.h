#pragma once

#include <optional>
#include <string>

#include "platform/defaults/user_defaults.h"
#include "platform/foundation/archive_object.h"
#include "platform/foundation/error.h"

namespace qlt {

inline constexpr const char* kUserDefaultsArchivingErrorDomain = "QLTUserDefaultsArchivingErrorDomain";
inline constexpr long kUserDefaultsArchivingNoDataErrorCode = 10001;

// The root object of the secure keyed archive stored under `key`, of the
// class `className`. No data gives the no-data error (not logged); an
// archive that does not decode is logged as well as handed back.
[[nodiscard]] std::optional<ArchiveObject> unarchiveObjectOfClass(const UserDefaults& defaults,
                                                                  const std::string& className,
                                                                  const std::string& key, Error* error = nullptr);
// Stores the secure keyed archive of `object` under `key`.
[[nodiscard]] bool archiveObject(UserDefaults& defaults, const ArchiveObject& object, const std::string& key,
                                 Error* error = nullptr);

}  // namespace qlt
