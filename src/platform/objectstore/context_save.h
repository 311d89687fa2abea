#pragma once

#include <map>
#include <set>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/objectstore/managed_object_context.h"
#include "platform/sqlite/database.h"

namespace qlt {

// Writes a context's changes to its store.
class ContextSave {
 public:
  explicit ContextSave(ManagedObjectContext& context);

  [[nodiscard]] bool run(Error* error);
  // Writes the context's changes without checking versions, keeping
  // history, calling hooks or touching the objects, for a caller that rolls
  // them back. REQUIRES: the coordinator's mutex held and a savepoint open.
  [[nodiscard]] bool writeScratch(Error* error);

 private:
  using Slot = ManagedObject::Slot;

  void callWillSave();
  [[nodiscard]] bool validate(Error* error) const;
  [[nodiscard]] bool write(Error* error);
  [[nodiscard]] bool writeTransaction(Error* error);
  [[nodiscard]] bool writeRows(Error* error);
  [[nodiscard]] bool writeInsert(const ManagedObject& object, Error* error);
  [[nodiscard]] bool writeUpdate(ManagedObject& object, Error* error);
  [[nodiscard]] bool writeDelete(const ManagedObject& object, Error* error);
  // Whether the stored row's to-one relationships differ from those this
  // context read: another context moved the object meanwhile.
  [[nodiscard]] bool movedElsewhere(const ManagedObject& object, bool* moved, Error* error);
  [[nodiscard]] bool writeToManys(const ManagedObject& object, Error* error);
  // Inserts the join rows of added members and deletes those of removed
  // ones (or of added ones deleted since).
  [[nodiscard]] bool writeDeferredJoins(const ManagedObject& object, const RelationshipDescription& relationship,
                                        const std::vector<std::pair<ObjectID, bool>>& changes, Error* error);
  [[nodiscard]] bool resolveConflict(ManagedObject& object, std::vector<Value>* merged, int64_t* version, Error* error);
  [[nodiscard]] bool updateRow(const ManagedObject& object, const std::vector<int>& slots, const std::vector<Value>& values,
                 int64_t expectedVersion, bool* matched, Error* error);
  void finish();
  // The entity code column value of a to-one destination.
  Value entityCodeValue(const ObjectID* id) const;

  ManagedObjectContext& context_;
  StoreCoordinator& coordinator_;
  const StoreSchema& schema_;
  std::vector<ManagedObjectPtr> inserted_, updated_, deleted_;
  // Results of the write, applied to the objects once it committed.
  std::map<ObjectID, int64_t> newVersions_;
  std::map<ObjectID, std::vector<Value>> mergedValues_;
  std::set<ObjectID> goneFromStore_;
  bool scratch_ = false;
  // One INSERT statement per entity for the whole save.
  std::map<const EntityDescription*, CachedStatement> inserts_;
};

}  // namespace qlt
