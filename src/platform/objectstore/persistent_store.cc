#include "platform/objectstore/persistent_store.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>

#include "platform/foundation/property_list_serialization.h"
#include "platform/foundation/string_comparison.h"
#include "platform/foundation/uuid.h"
#include "platform/sqlite/statement.h"
#include "platform/sqlite/transaction.h"

namespace qlt {
namespace {

constexpr int64_t kKeyBlock = 64;
constexpr const char* kIdentifierKey = "_identifier";
constexpr const char* kCollationVersionKey = "_collationVersion";
constexpr const char* kDictionaryKey = "_dictionary";

constexpr const char* kInternalTables =
    "CREATE TABLE IF NOT EXISTS \"_qlt_metadata\" (\"key\" TEXT PRIMARY KEY, \"value\" BLOB);"
    "CREATE TABLE IF NOT EXISTS \"_qlt_entities\" (\"name\" TEXT PRIMARY KEY, \"code\" INTEGER UNIQUE NOT NULL);"
    "CREATE TABLE IF NOT EXISTS \"_qlt_keys\" (\"root\" TEXT PRIMARY KEY, \"next\" INTEGER NOT NULL);";

constexpr const char* kHistoryTables =
    "CREATE TABLE IF NOT EXISTS \"_qlt_history_transactions\" (\"id\" INTEGER PRIMARY KEY, "
    "\"timestamp\" REAL NOT NULL, \"author\" TEXT, \"context\" TEXT);"
    "CREATE TABLE IF NOT EXISTS \"_qlt_history_changes\" (\"id\" INTEGER PRIMARY KEY, "
    "\"transaction_id\" INTEGER NOT NULL, \"entity\" TEXT NOT NULL, \"pk\" INTEGER NOT NULL, "
    "\"type\" INTEGER NOT NULL, \"updated\" TEXT);"
    "CREATE INDEX IF NOT EXISTS \"_qlt_history_transactions_timestamp\" ON \"_qlt_history_transactions\" "
    "(\"timestamp\");"
    "CREATE INDEX IF NOT EXISTS \"_qlt_history_changes_transaction\" ON \"_qlt_history_changes\" "
    "(\"transaction_id\");";

Error storeError(long code, const std::string& description, const std::string& path,
                 const Error* underlying = nullptr) {
  Error error(kCocoaErrorDomain, code, description);
  error.setUserInfoValue(kFilePathErrorKey, path);
  if (underlying) error.setUnderlyingError(*underlying);
  return error;
}

// Whether the file at `path` is missing, empty or starts like an SQLite database.
bool mayBeSQLiteFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return true;
  static constexpr char kHeader[16] = "SQLite format 3";
  char header[16] = {};
  file.read(header, sizeof header);
  if (file.gcount() == 0) return true;
  return file.gcount() == sizeof header && std::memcmp(header, kHeader, sizeof header) == 0;
}

bool stepFailed(Statement& statement, bool hadRow) { return !hadRow && statement.failed(); }

}  // namespace

PersistentStore::PersistentStore(std::string path, std::shared_ptr<const ManagedObjectModel> model,
                                 PersistentStoreOptions options, std::unique_ptr<Database> database)
    : path_(std::move(path)), options_(options), schema_(std::move(model)), database_(std::move(database)) {}

std::unique_ptr<PersistentStore> PersistentStore::open(const std::string& path,
                                                       std::shared_ptr<const ManagedObjectModel> model,
                                                       const PersistentStoreOptions& options, Error* error) {
  if (!model) {
    setError(error, storeError(kPersistentStoreOpenError, "A store needs a model.", path));
    return nullptr;
  }
  if (!mayBeSQLiteFile(path)) {
    setError(error, storeError(kPersistentStoreInvalidTypeError, "The file is not an SQLite database.", path));
    return nullptr;
  }
  DatabaseOptions databaseOptions;
  databaseOptions.readOnly = options.readOnly;
  databaseOptions.busyTimeout = options.busyTimeout;
  Error failure;
  std::unique_ptr<Database> database = Database::open(path, databaseOptions, &failure);
  if (!database) {
    setError(error, storeError(kPersistentStoreOpenError, "The store file could not be opened.", path, &failure));
    return nullptr;
  }
  std::unique_ptr<PersistentStore> store(new PersistentStore(path, std::move(model), options, std::move(database)));
  if (!store->prepare(error)) return nullptr;
  if (options.vacuumOnOpen && !options.readOnly && !store->database_->execute("VACUUM", &failure)) {
    setError(error, storeError(kPersistentStoreOpenError, "The store could not be compacted.", path, &failure));
    return nullptr;
  }
  return store;
}

// Indexes ordered by the localized collation are only valid for the
// collation version that built them.
bool PersistentStore::rebuildCollatedIndexesIfNeeded(Error* error) {
  std::string version = localizedStandardCollationVersion();
  auto select = database_->prepare("SELECT value FROM \"_qlt_metadata\" WHERE key = ?", error);
  if (!select || !select->bindText(1, kCollationVersionKey, error)) return false;
  bool found = select->step(error);
  if (select->failed()) return false;
  if (found && select->columnText(0) == version) return true;
  select.reset();
  if (found && !database_->execute("REINDEX QLT_LOCALIZED_STANDARD", error)) return false;
  auto insert = database_->prepare("INSERT OR REPLACE INTO \"_qlt_metadata\" (key, value) VALUES (?, ?)", error);
  return insert && insert->bindText(1, kCollationVersionKey, error) && insert->bindText(2, version, error) &&
         insert->execute(error);
}

bool PersistentStore::prepare(Error* error) {
  Error failure;
  auto fail = [&](long code, const std::string& description, bool withUnderlying = true) {
    setError(error, storeError(code, description, path_, withUnderlying ? &failure : nullptr));
    return false;
  };
  auto transaction = Transaction::begin(
      *database_, options_.readOnly ? Transaction::Mode::Deferred : Transaction::Mode::Immediate, &failure);
  if (!transaction) return fail(kPersistentStoreOpenError, "The store could not be locked.");

  if (!options_.readOnly &&
      !database_->execute(std::string(kInternalTables) + (options_.historyTracking ? kHistoryTables : ""), &failure))
    return fail(kPersistentStoreOpenError, "The store's own tables could not be created.");

  std::map<std::string, std::vector<std::string>> existingColumns;
  auto tables = database_->prepare("SELECT name FROM sqlite_master WHERE type = 'table'", &failure);
  if (!tables) return fail(kPersistentStoreOpenError, "The store's tables could not be read.");
  while (tables->step(&failure)) {
    std::string table(tables->columnText(0));
    auto info = database_->prepare("PRAGMA table_info(" + StoreSchema::quote(table) + ")", &failure);
    if (!info) return fail(kPersistentStoreOpenError, "The store's tables could not be read.");
    auto& columns = existingColumns[table];
    while (info->step(&failure)) columns.push_back(std::string(info->columnText(1)));
    if (info->failed()) return fail(kPersistentStoreOpenError, "The store's tables could not be read.");
  }
  if (tables->failed()) return fail(kPersistentStoreOpenError, "The store's tables could not be read.");

  for (const std::string& statement : schema_.migrationStatements(existingColumns)) {
    if (options_.readOnly) {
      if (statement.starts_with("CREATE INDEX IF NOT EXISTS")) continue;
      return fail(kPersistentStoreIncompatibleSchemaError,
                  "The store needs to be migrated to the model but was opened read-only.", false);
    }
    if (!database_->execute(statement, &failure))
      return fail(kPersistentStoreIncompatibleSchemaError, "The store could not be migrated to the model.");
  }
  if (options_.readOnly && !existingColumns.count("_qlt_metadata"))
    return fail(kPersistentStoreIncompatibleSchemaError, "The store was never opened for writing.", false);

  if (!loadEntityCodes(!options_.readOnly, error)) return false;

  auto select = database_->prepare("SELECT value FROM \"_qlt_metadata\" WHERE key = ?", &failure);
  if (!select || !select->bindText(1, kIdentifierKey, &failure))
    return fail(kPersistentStoreOpenError, "The store's identifier could not be read.");
  bool found = select->step(&failure);
  if (stepFailed(*select, found)) return fail(kPersistentStoreOpenError, "The store's identifier could not be read.");
  if (found) {
    identifier_ = std::string(select->columnText(0));
  } else if (options_.readOnly) {
    return fail(kPersistentStoreIncompatibleSchemaError, "The store has no identifier.", false);
  } else {
    identifier_ = newUUIDString();
    auto insert = database_->prepare("INSERT INTO \"_qlt_metadata\" (key, value) VALUES (?, ?)", &failure);
    if (!insert || !insert->bindText(1, kIdentifierKey, &failure) || !insert->bindText(2, identifier_, &failure) ||
        !insert->execute(&failure))
      return fail(kPersistentStoreOpenError, "The store's identifier could not be written.");
  }
  if (!options_.readOnly && !rebuildCollatedIndexesIfNeeded(&failure))
    return fail(kPersistentStoreOpenError, "The store's indexes could not be rebuilt.");
  if (!transaction->commit(&failure)) return fail(kPersistentStoreOpenError, "The store could not be set up.");
  return true;
}

bool PersistentStore::loadEntityCodes(bool assignMissing, Error* error) {
  Error failure;
  auto fail = [&](const std::string& description, bool withUnderlying = true) {
    setError(error, storeError(kPersistentStoreIncompatibleSchemaError, description, path_,
                               withUnderlying ? &failure : nullptr));
    return false;
  };
  auto select = database_->prepare("SELECT name, code FROM \"_qlt_entities\"", &failure);
  if (!select) return fail("The store's entity codes could not be read.");
  int64_t maxCode = 0;
  while (select->step(&failure)) {
    int64_t code = select->columnInt64(1);
    std::string name(select->columnText(0));
    codesByName_[name] = code;
    namesByCode_[code] = name;
    maxCode = std::max(maxCode, code);
  }
  if (select->failed()) return fail("The store's entity codes could not be read.");

  std::unique_ptr<Statement> insert;
  for (const EntityDescription* entity : schema_.model().entities()) {
    if (codesByName_.count(entity->name())) continue;
    if (!assignMissing) return fail("The store has no code for entity " + entity->name() + ".", false);
    if (!insert) insert = database_->prepare("INSERT INTO \"_qlt_entities\" (name, code) VALUES (?, ?)", &failure);
    int64_t code = ++maxCode;
    if (!insert || !insert->bindText(1, entity->name(), &failure) || !insert->bindInt64(2, code, &failure) ||
        !insert->execute(&failure))
      return fail("The entity codes could not be written.");
    codesByName_[entity->name()] = code;
    namesByCode_[code] = entity->name();
  }
  return true;
}

std::optional<int64_t> PersistentStore::entityCode(const std::string& entityName) const {
  auto found = codesByName_.find(entityName);
  if (found == codesByName_.end()) return std::nullopt;
  return found->second;
}

std::optional<std::string> PersistentStore::entityName(int64_t code) const {
  auto found = namesByCode_.find(code);
  if (found == namesByCode_.end()) return std::nullopt;
  return found->second;
}

PropertyListDictionary PersistentStore::metadata(Error* error) const {
  std::lock_guard lock(mutex_);
  Error failure;
  auto select = database_->cachedStatement("SELECT value FROM \"_qlt_metadata\" WHERE key = ?", &failure);
  if (!select || !select->bindText(1, kDictionaryKey, &failure)) {
    setError(error, storeError(kPersistentStoreOperationError, "The metadata could not be read.", path_, &failure));
    return {};
  }
  bool found = select->step(&failure);
  if (stepFailed(*select, found)) {
    setError(error, storeError(kPersistentStoreOperationError, "The metadata could not be read.", path_, &failure));
    return {};
  }
  if (!found) return {};
  std::span<const uint8_t> blob = select->columnBlob(0);
  std::optional<PropertyList> parsed = parsePropertyList(blob.data(), blob.size(), &failure);
  const PropertyListDictionary* dictionary = parsed ? parsed->dictionary() : nullptr;
  if (!dictionary) {
    setError(error, storeError(kPersistentStoreOperationError, "The metadata is damaged.", path_,
                               parsed ? nullptr : &failure));
    return {};
  }
  return *dictionary;
}

bool PersistentStore::setMetadata(const PropertyListDictionary& metadata, Error* error) {
  Error failure;
  auto fail = [&](bool withUnderlying = true) {
    setError(error, storeError(kPersistentStoreOperationError, "The metadata could not be written.", path_,
                               withUnderlying ? &failure : nullptr));
    return false;
  };
  if (options_.readOnly) return fail(false);
  std::optional<Bytes> bytes = serializePropertyList(PropertyList(metadata), PropertyListFormat::Binary, &failure);
  if (!bytes) return fail();
  std::lock_guard lock(mutex_);
  auto transaction = Transaction::begin(*database_, Transaction::Mode::Immediate, &failure);
  if (!transaction) return fail();
  auto insert =
      database_->cachedStatement("INSERT OR REPLACE INTO \"_qlt_metadata\" (key, value) VALUES (?, ?)", &failure);
  if (!insert || !insert->bindText(1, kDictionaryKey, &failure) || !insert->bindBlob(2, *bytes, &failure) ||
      !insert->execute(&failure) || !transaction->commit(&failure))
    return fail();
  return true;
}

std::optional<int64_t> PersistentStore::allocatePrimaryKeys(const EntityDescription& entity, int64_t count,
                                                            Error* error) {
  auto fail = [&](const std::string& description) {
    setError(error, storeError(kPersistentStoreOperationError, description, path_));
    return std::nullopt;
  };
  if (count <= 0) return fail("At least one key must be asked for.");
  if (options_.readOnly) return fail("A read-only store cannot allocate keys.");
  const EntityDescription& root = entity.rootEntity();
  if (schema_.model().entity(root.name()) != &root) return fail("The entity " + entity.name() + " is not in the model.");
  std::string table = schema_.tableName(entity);

  std::lock_guard lock(mutex_);
  Reservation& reservation = reservations_[table];
  if (reservation.end - reservation.next >= count) {
    int64_t first = reservation.next;
    reservation.next += count;
    return first;
  }
  int64_t fetched = std::max(count, kKeyBlock);
  std::optional<int64_t> first = reserveKeys(table, fetched, error);
  // A large request leaves the current reservation alone.
  if (first && fetched > count) reservation = {*first + count, *first + fetched};
  return first;
}

std::optional<int64_t> PersistentStore::reserveKeys(const std::string& table, int64_t count, Error* error) {
  Error failure;
  auto fail = [&](const std::string& description, bool withUnderlying = true) {
    setError(error,
             storeError(kPersistentStoreOperationError, description, path_, withUnderlying ? &failure : nullptr));
    return std::nullopt;
  };
  if (database_->inTransaction()) return fail("Keys cannot be allocated inside a transaction.", false);
  auto transaction = Transaction::begin(*database_, Transaction::Mode::Immediate, &failure);
  if (!transaction) return fail("The store could not be locked to allocate keys.");

  auto next = database_->cachedStatement("SELECT next FROM \"_qlt_keys\" WHERE root = ?", &failure);
  if (!next || !next->bindText(1, table, &failure)) return fail("The next key could not be read.");
  bool found = next->step(&failure);
  if (stepFailed(*next, found)) return fail("The next key could not be read.");
  int64_t first = found ? next->columnInt64(0) : 1;
  next.reset();

  auto maxKey = database_->cachedStatement("SELECT COALESCE(MAX(\"_pk\"), 0) FROM " + StoreSchema::quote(table),
                                           &failure);
  if (!maxKey || !maxKey->step(&failure)) return fail("The largest key in use could not be read.");
  first = std::max(first, maxKey->columnInt64(0) + 1);
  maxKey.reset();
  if (first > std::numeric_limits<int64_t>::max() - count) return fail("The table has run out of keys.", false);

  auto update =
      database_->cachedStatement("INSERT OR REPLACE INTO \"_qlt_keys\" (root, next) VALUES (?, ?)", &failure);
  if (!update || !update->bindText(1, table, &failure) || !update->bindInt64(2, first + count, &failure) ||
      !update->execute(&failure) || !transaction->commit(&failure))
    return fail("The allocated keys could not be recorded.");
  return first;
}

}  // namespace qlt
