#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/objectstore/entity_description.h"
#include "platform/objectstore/object_id.h"
#include "platform/objectstore/value.h"

namespace qlt {

class ManagedObjectContext;
struct FaultBatch;

// One row of the store as one context sees it. Values are read and written
// by key: attributes as Values, a to-one relationship as the destination's
// ObjectID (or nil), a to-many as a collection of ObjectIDs, in order when
// the relationship is ordered. Setting one side of a relationship updates
// its inverse in the same context.
//
// Objects belong to one context and are used on its queue only. An object
// that is neither changed nor referenced from outside the context is let
// go; fetching or looking it up again brings it back.
//
// Typed subclasses register a factory per entity (ManagedObjectClasses) and
// override the hooks below.
class ManagedObject : public std::enable_shared_from_this<ManagedObject> {
 public:
  ManagedObject() = default;
  virtual ~ManagedObject() = default;
  ManagedObject(const ManagedObject&) = delete;
  ManagedObject& operator=(const ManagedObject&) = delete;

  const EntityDescription& entity() const { return *entity_; }
  const ObjectID& objectID() const { return id_; }
  // Null once the object was reset, rolled back out of existence, deleted
  // and saved, or deleted by a merged change.
  ManagedObjectContext* managedObjectContext() const { return context_; }

  // A fault has not read its row yet; touching any value reads it.
  bool isFault() const { return fault_; }
  bool isInserted() const { return inserted_; }
  bool isDeleted() const { return deleted_; }
  bool isUpdated() const;
  bool hasChanges() const { return inserted_ || deleted_ || isUpdated(); }

  Value valueForKey(const std::string& key) const;
  // Keys separated by '.', through to-one relationships; a to-many on the
  // way gives the collection of the values of its elements.
  Value valueForKeyPath(const std::string& keyPath) const;
  // Unknown keys and values of the wrong type are ignored (and logged).
  void setValueForKey(const std::string& key, Value value);

  std::shared_ptr<ManagedObject> objectForKey(const std::string& key) const;
  std::vector<std::shared_ptr<ManagedObject>> objectsForKey(const std::string& key) const;
  void setObjectForKey(const std::string& key, const std::shared_ptr<ManagedObject>& object);
  void setObjectsForKey(const std::string& key, const std::vector<std::shared_ptr<ManagedObject>>& objects);
  void addObjectForKey(const std::string& key, const std::shared_ptr<ManagedObject>& object);
  // At `index` of an ordered to-many (clamped to its end).
  void insertObjectForKey(const std::string& key, const std::shared_ptr<ManagedObject>& object, size_t index);
  void removeObjectForKey(const std::string& key, const std::shared_ptr<ManagedObject>& object);

  // The current values of the properties changed since the last save or
  // refresh.
  std::map<std::string, Value> changedValues() const;
  // The values as last read from or written to the store.
  Value committedValueForKey(const std::string& key) const;

  template <typename T>
  std::shared_ptr<T> as() {
    return std::dynamic_pointer_cast<T>(shared_from_this());
  }

 protected:
  // Called once, when the object is inserted into its context.
  virtual void awakeFromInsert() {}
  // Called after the object's row was read.
  virtual void awakeFromFetch() {}
  // Called before a save, for every object the save writes; changes made
  // here are saved too.
  virtual void willSave() {}
  // Called after a save that wrote the object.
  virtual void didSave() {}
  // Called when the object is deleted, before its relationships are
  // cleared.
  virtual void prepareForDeletion() {}

 private:
  friend class ManagedObjectContext;
  friend class ContextFetch;
  friend class ContextSave;

  // While a slot is unchanged, `current` is also its stored value and
  // `committed` means nothing; a change first keeps the stored value in
  // `committed`.
  struct Slot {
    Value committed;
    Value current;
    bool loaded = false;  // to-many slots load on their own
    bool changed = false;
    // Members of a long to-many, for lookups; valid while `indexed` is the
    // list it was built from and sizes agree.
    std::shared_ptr<std::unordered_set<ObjectID>> members;
    const ValueList* indexed = nullptr;
    // The object a to-one toward an owner (its inverse is to-many) last
    // resolved to: the items of a folder keep the folder, and the folder its
    // parents, alive and filled while any of them is in use. Valid while it
    // has the slot's ID and this context.
    std::shared_ptr<ManagedObject> owner;
    // Members added (true) or removed (false) to keep an inverse in step
    // before the list was read: applied when it is read, or written as they
    // are when the object is saved first. A folder or group of many items
    // is not read whole for each item that joins it.
    std::vector<std::pair<ObjectID, bool>> deferred;
  };
  // Defers the change when this is the inverse side of an unordered to-many
  // that has not been read; false when the list must be changed instead.
  bool deferInverseChange(int index, const ObjectID& id, bool added);
  static bool toManyContains(Slot& slot, const ObjectID& id);

  int slotIndex(const std::string& key) const;
  Slot& slot(int index) const;
  void changeSlot(int index, Value value, bool maintainInverse);
  void removeFromToMany(int index, const ObjectID& id, bool maintainInverse);
  void addToToMany(int index, const ObjectID& id, std::optional<size_t> position, bool maintainInverse);

  const EntityDescription* entity_ = nullptr;
  ObjectID id_;
  ManagedObjectContext* context_ = nullptr;
  mutable std::vector<Slot> slots_;
  int64_t version_ = 0;
  mutable bool fault_ = true;
  bool inserted_ = false;
  bool deleted_ = false;
  std::shared_ptr<FaultBatch> batch_;
};

using ManagedObjectPtr = std::shared_ptr<ManagedObject>;

}  // namespace qlt
