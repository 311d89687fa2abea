#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/objectstore/context_changes.h"
#include "platform/objectstore/object_id.h"

namespace qlt {

class Database;
class StoreCoordinator;

enum class HistoryChangeType { Insert = 0, Update = 1, Delete = 2 };

struct HistoryChange {
  ObjectID objectID;
  HistoryChangeType type = HistoryChangeType::Update;
  // The properties an update changed.
  std::vector<std::string> updatedProperties;
};

// One save, as the store's history keeps it.
struct HistoryTransaction {
  int64_t token = 0;  // increases with every transaction of the store
  Date timestamp;
  std::string author;       // bundle identifier of the saving process
  std::string contextName;  // name of the saving context, may be empty
  std::vector<HistoryChange> changes;

  // The transaction's changes as IDs, for ManagedObjectContext::mergeChanges.
  ContextChanges objectIDNotification() const;
};

// The transactions with a timestamp after `date`, oldest first. Fails when
// the store keeps no history.
[[nodiscard]] std::optional<std::vector<HistoryTransaction>> fetchHistoryAfterDate(StoreCoordinator& coordinator, Date date,
                                                                     Error* error = nullptr);

// Writes one transaction. REQUIRES: the coordinator's mutex held and a
// transaction open on `database`.
[[nodiscard]] bool writeHistoryTransaction(Database& database, const HistoryTransaction& transaction, Error* error);

}  // namespace qlt
