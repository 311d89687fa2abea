#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"
#include "platform/objectstore/managed_object_model.h"
#include "platform/objectstore/object_id.h"
#include "platform/objectstore/schema.h"
#include "platform/sqlite/database.h"

namespace qlt {

struct PersistentStoreOptions {
  bool readOnly = false;
  // Creates the history tables (see PersistentStore).
  bool historyTracking = false;
  bool vacuumOnOpen = false;
  std::chrono::milliseconds busyTimeout{5000};
};

// Errors of PersistentStore, in kCocoaErrorDomain with an underlying SQLite
// error where there is one.
inline constexpr long kPersistentStoreInvalidTypeError = 134000;        // not an SQLite file
inline constexpr long kPersistentStoreIncompatibleSchemaError = 134020;  // migration failed or impossible
inline constexpr long kPersistentStoreOperationError = 134070;
inline constexpr long kPersistentStoreOpenError = 134080;

// One SQLite store file holding the objects of one model. Besides the model's
// tables (see StoreSchema) the file holds:
// - "_qlt_metadata"(key, value): "_identifier" (the store UUID) and
//   "_dictionary" (the metadata dictionary as a binary property list);
// - "_qlt_entities"(name, code): the code of every entity ever stored, the
//   value of "_entity" columns; a code never changes once given;
// - "_qlt_keys"(root, next): the next free primary key of each root table;
// - with history tracking, "_qlt_history_transactions" and
//   "_qlt_history_changes".
// Several stores (in one or several processes) may share a file.
class PersistentStore {
 public:
  // Creates the file when missing and brings it up to the model in one
  // transaction; on failure the file is left as it was.
  static std::unique_ptr<PersistentStore> open(const std::string& path, std::shared_ptr<const ManagedObjectModel> model,
                                               const PersistentStoreOptions& options = {}, Error* error = nullptr);

  PersistentStore(const PersistentStore&) = delete;
  PersistentStore& operator=(const PersistentStore&) = delete;

  const std::string& path() const { return path_; }
  const std::string& identifier() const { return identifier_; }
  const PersistentStoreOptions& options() const { return options_; }
  const StoreSchema& schema() const { return schema_; }
  const ManagedObjectModel& model() const { return schema_.model(); }

  // The store's connection. REQUIRES: callers serialize all use of it,
  // including against metadata(), setMetadata() and allocatePrimaryKeys(),
  // which use it too (those three are safe to call concurrently with each
  // other).
  Database& database() { return *database_; }

  [[nodiscard]] std::optional<int64_t> entityCode(const std::string& entityName) const;
  [[nodiscard]] std::optional<std::string> entityName(int64_t code) const;

  // Re-read from the file on every call; empty when none was ever set or on
  // failure.
  PropertyListDictionary metadata(Error* error = nullptr) const;
  // Replaces the whole dictionary in its own transaction: between processes
  // the last call wins.
  [[nodiscard]] bool setMetadata(const PropertyListDictionary& metadata, Error* error = nullptr);

  // The first of `count` consecutive keys no store on this file has handed
  // out for the table of `entity`'s root. REQUIRES: no transaction open on
  // database() (a rolled-back outer transaction would lose the reservation).
  [[nodiscard]] std::optional<int64_t> allocatePrimaryKeys(const EntityDescription& entity, int64_t count, Error* error = nullptr);

  ObjectID objectID(const EntityDescription& entity, int64_t primaryKey) const {
    return ObjectID{identifier_, entity.name(), primaryKey};
  }

 private:
  struct Reservation {
    int64_t next = 0;
    int64_t end = 0;
  };

  PersistentStore(std::string path, std::shared_ptr<const ManagedObjectModel> model, PersistentStoreOptions options,
                  std::unique_ptr<Database> database);
  [[nodiscard]] bool prepare(Error* error);
  [[nodiscard]] bool rebuildCollatedIndexesIfNeeded(Error* error);
  [[nodiscard]] bool loadEntityCodes(bool assignMissing, Error* error);
  [[nodiscard]] std::optional<int64_t> reserveKeys(const std::string& table, int64_t count, Error* error);

  std::string path_;
  PersistentStoreOptions options_;
  StoreSchema schema_;
  std::unique_ptr<Database> database_;
  std::string identifier_;
  std::map<std::string, int64_t> codesByName_;
  std::map<int64_t, std::string> namesByCode_;

  mutable std::mutex mutex_;
  std::map<std::string, Reservation> reservations_;
};

}  // namespace qlt
