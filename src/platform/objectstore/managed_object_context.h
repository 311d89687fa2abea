#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/objectstore/context_changes.h"
#include "platform/objectstore/fetch_request.h"
#include "platform/objectstore/managed_object.h"
#include "platform/objectstore/merge_policy.h"
#include "platform/objectstore/store_coordinator.h"

namespace qlt {

// Errors of contexts, in kCocoaErrorDomain.
inline constexpr long kManagedObjectValidationError = 1570;
inline constexpr long kValidationMissingMandatoryPropertyError = 1570;
inline constexpr long kValidationRelationshipDeniedDeleteError = 1600;
inline constexpr long kManagedObjectContextLockingError = 132000;
inline constexpr long kManagedObjectReferentialIntegrityError = 133000;
inline constexpr long kManagedObjectMergeError = 133020;
inline constexpr long kPersistentStoreSaveError = 134030;

// A scratch pad of objects over one store. Each context has its own queue:
// the main-queue context's is the main queue, a private-queue context's a
// serial queue of its own. REQUIRES: every call below except perform(),
// performAndWait() and the accessors of name, policy and staleness is made
// inside the context's queue.
class ManagedObjectContext {
 public:
  enum class ConcurrencyType { MainQueue, PrivateQueue };

  ManagedObjectContext(std::shared_ptr<StoreCoordinator> coordinator, ConcurrencyType type);
  ~ManagedObjectContext();
  ManagedObjectContext(const ManagedObjectContext&) = delete;
  ManagedObjectContext& operator=(const ManagedObjectContext&) = delete;

  ConcurrencyType concurrencyType() const { return type_; }
  const std::shared_ptr<StoreCoordinator>& coordinator() const { return coordinator_; }

  std::string name() const;
  void setName(std::string name);
  MergePolicy mergePolicy() const;
  void setMergePolicy(MergePolicy policy);
  // How old (in seconds) values read from the store may be when a fault is
  // fulfilled; negative means no limit. Rows are read from the store every
  // time a fault fires, so every setting is met.
  double stalenessInterval() const;
  void setStalenessInterval(double seconds);
  // Author recorded in the history with every save; the process's bundle
  // identifier unless set.
  std::string transactionAuthor() const;
  void setTransactionAuthor(std::string author);

  void perform(std::function<void()> block);
  void performAndWait(const std::function<void()>& block);
  // Whether the caller runs inside this context's queue.
  bool isInsideQueue() const;

  // Inserts a new object of a concrete entity; nullptr for unknown or
  // abstract entities or when no key can be allocated.
  ManagedObjectPtr insertNewObject(const std::string& entityName, Error* error = nullptr);
  // Marks `object` deleted and applies the delete rules of its
  // relationships at once: nullify removes it from its destinations,
  // cascade deletes them.
  void deleteObject(const ManagedObjectPtr& object);
  void deleteObjects(const std::vector<ManagedObjectPtr>& objects);

  // The registered object, or a fault for `id` (not checked against the
  // store). nullptr for IDs of another store or unknown entities.
  ManagedObjectPtr objectWithID(const ObjectID& id);
  // The object with its values read; nullptr with
  // kManagedObjectReferentialIntegrityError when no such row exists.
  ManagedObjectPtr existingObjectWithID(const ObjectID& id, Error* error = nullptr);
  ManagedObjectPtr registeredObject(const ObjectID& id) const;
  [[nodiscard]] std::optional<ObjectID> objectIDForURIRepresentation(const std::string& uri) const;

  bool hasChanges() const;
  std::vector<ManagedObjectPtr> insertedObjects() const;
  std::vector<ManagedObjectPtr> updatedObjects() const;
  std::vector<ManagedObjectPtr> deletedObjects() const;

  // Answers as if the context's changes were saved: inserted objects that
  // match are included, deleted ones left out, updated ones judged by their
  // current values.
  [[nodiscard]] std::optional<FetchResult> execute(const FetchRequest& request, Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<ManagedObjectPtr>> fetch(const FetchRequest& request, Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<ObjectID>> fetchObjectIDs(const FetchRequest& request, Error* error = nullptr);
  [[nodiscard]] std::optional<int64_t> count(const FetchRequest& request, Error* error = nullptr);

  // Writes every change in one transaction, with a history transaction when
  // the store keeps history. On failure nothing is written and the changes
  // stay in the context.
  [[nodiscard]] bool save(Error* error = nullptr);
  // Forgets every change: inserted objects leave the context, the others
  // take their committed values back.
  void rollback();
  // Forgets every object; objects handed out before become unusable.
  void reset();
  // Reads `object` again: with `mergeChanges` its unsaved changes are kept
  // over the store's values, otherwise they are dropped.
  void refreshObject(const ManagedObjectPtr& object, bool mergeChanges);
  void refreshAllObjects();
  // Brings the objects registered here up to date with a save of another
  // context (or a history transaction): updated objects are read again
  // (keeping this context's changes), deleted ones leave the context.
  void mergeChanges(const ContextChanges& changes);

 private:
  friend class ManagedObject;
  friend class ContextFetch;
  friend class ContextSave;
  struct Entry {
    std::weak_ptr<ManagedObject> weak;
    ManagedObjectPtr strong;  // held while the object has changes
  };

  // Called by ManagedObject.
  void fulfillFault(const ManagedObject& object);
  void loadToMany(const ManagedObject& object, int slotIndex);
  void objectDidChange(ManagedObject& object);

  ManagedObjectPtr makeObject(const EntityDescription& entity, const ObjectID& id);
  ManagedObjectPtr registerRow(StoredRow row);
  // Registers the row's object and fills it when it is a fault (setting
  // `filled`); the caller calls awakeFromFetch() for filled objects.
  ManagedObjectPtr adoptRow(StoredRow& row, bool* filled);
  void applyRow(ManagedObject& object, StoredRow& row, bool keepChanges);
  void forget(ManagedObject& object);
  // Holds `object` while it has changes (the registry alone would let it go).
  void retain(const ManagedObjectPtr& object);
  void release(const ManagedObject& object);
  void sweepRegistry();
  void deleteRecursively(const ManagedObjectPtr& object);
  std::vector<ManagedObjectPtr> changedObjects() const;
  std::vector<ManagedObjectPtr> changedObjectsWhere(bool (ManagedObject::*test)() const) const;

  std::shared_ptr<StoreCoordinator> coordinator_;
  ConcurrencyType type_;
  std::unique_ptr<SerialQueue> queue_;

  mutable std::mutex settingsMutex_;
  std::string name_;
  MergePolicy mergePolicy_ = MergePolicy::Error;
  double stalenessInterval_ = -1;
  std::string transactionAuthor_;

  std::unordered_map<ObjectID, Entry> registry_;
  std::unordered_set<ObjectID> retained_;  // entries with `strong` set
  size_t sweepThreshold_ = 1024;
};

}  // namespace qlt
