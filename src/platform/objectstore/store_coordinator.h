#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/objectstore/managed_object_classes.h"
#include "platform/objectstore/persistent_store.h"
#include "platform/sqlite/statement.h"
#include "platform/objectstore/store_sql_mapper.h"
#include "platform/objectstore/value.h"

namespace qlt {

// A row as read from the store: the object's ID, its version and one value
// per property of its entity (allProperties() order); to-many slots are nil
// (they are read separately).
struct StoredRow {
  ObjectID id;
  const EntityDescription* entity = nullptr;
  int64_t version = 0;
  std::vector<Value> values;
};

// What the contexts of one store share: the store, its one connection and
// the lock that serializes every use of it, and the reading of rows.
class StoreCoordinator {
 public:
  explicit StoreCoordinator(std::unique_ptr<PersistentStore> store);

  PersistentStore& store() { return *store_; }
  const PersistentStore& store() const { return *store_; }
  const ManagedObjectModel& model() const { return store_->model(); }
  const StoreSQLMapper& mapper() const { return mapper_; }
  const InternedString& storeIdentifier() const { return storeIdentifier_; }
  // Held around every use of store().database().
  std::recursive_mutex& mutex() { return mutex_; }

  // How objects of `entity` are made: the class registered for it or its
  // nearest ancestor, looked up once (classes register before stores open).
  // Null: plain ManagedObject.
  // The reference stays valid for the coordinator's life.
  const ManagedObjectClasses::Factory& factoryFor(const EntityDescription& entity);

  // The ObjectID of the row with key `pk` and entity code `code`; null when
  // the code is unknown.
  [[nodiscard]] std::optional<ObjectID> objectID(int64_t code, int64_t pk) const;

  // REQUIRES: mutex() held, for all that follows.
  // Reads the rows of `ids` (all of one root entity or not); rows that are
  // gone are missing from the result.
  [[nodiscard]] bool readRows(const std::vector<ObjectID>& ids, std::map<ObjectID, StoredRow>* rows, Error* error);
  // Decodes the current row of a statement that selected "t0".* (and
  // nothing else) of the root table `table`; nullopt for rows of unknown
  // entities.
  [[nodiscard]] std::optional<StoredRow> decodeRow(const Statement& statement, const std::string& table) const;
  // The same into `row`, reusing its storage; false for rows of unknown
  // entities.
  bool decodeRow(const Statement& statement, const std::string& table, StoredRow* row) const;
  // The destinations of `relationship` for the object `owner`, in order.
  [[nodiscard]] std::optional<std::vector<ObjectID>> readToMany(const ObjectID& owner, const RelationshipDescription& relationship,
                                                  Error* error);
  // The current version of a row, or nullopt when it is gone.
  [[nodiscard]] std::optional<int64_t> readVersion(const ObjectID& id, Error* error, bool* failed);

  // How attribute values go into columns and back.
  [[nodiscard]] static bool bindValue(Statement& statement, int index, const Value& value, Error* error);
  static Value columnValue(const Statement& statement, int column, AttributeType type);

 private:
  // Where each property of an entity sits in a root table's "SELECT *".
  struct RowLayout {
    int pk = -1, entity = -1, version = -1;
    std::vector<int> columns;        // per property; -1 when not stored
    std::vector<int> entityColumns;  // per to-one whose destination has subentities
    std::vector<InternedString> destinations;  // per to-one
  };
  const RowLayout* layoutOf(const Statement& statement, const std::string& table, const EntityDescription* entity) const;
  // Column positions of a root table's "SELECT *", by column name.
  const std::map<std::string, int>& columnsOf(const Statement& statement, const std::string& table) const;

  struct EntityInfo {
    const EntityDescription* entity = nullptr;
    InternedString name;
  };
  const EntityInfo* entityInfo(int64_t code) const;

  std::unique_ptr<PersistentStore> store_;
  StoreSQLMapper mapper_;
  InternedString storeIdentifier_;
  std::unordered_map<int64_t, EntityInfo> entitiesByCode_;
  std::recursive_mutex mutex_;
  mutable std::map<std::string, std::map<std::string, int>> columnsByTable_;
  mutable std::map<std::pair<std::string, const EntityDescription*>, RowLayout> layouts_;
  std::mutex factoriesMutex_;
  std::unordered_map<const EntityDescription*, ManagedObjectClasses::Factory> factories_;
};

}  // namespace qlt
