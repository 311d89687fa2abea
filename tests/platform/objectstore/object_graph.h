#pragma once

#include <map>
#include <string>

#include "platform/objectstore/object_id.h"
#include "platform/objectstore/predicate_evaluation.h"
#include "platform/objectstore/value.h"

namespace qlt {

// Objects held in memory, related by object IDs, for judging predicates
// without a store.
class ObjectGraph {
 public:
  struct Object final : ObjectAccessor {
    const ObjectGraph* graph = nullptr;
    ObjectID id;
    std::map<std::string, Value> values;

    ObjectID objectID() const override { return id; }
    Value valueForKey(const std::string& key) const override {
      auto found = values.find(key);
      return found == values.end() ? Value() : found->second;
    }
    const ObjectAccessor* objectForID(const ObjectID& other) const override {
      auto found = graph->objects.find(other);
      return found == graph->objects.end() ? nullptr : &found->second;
    }
  };

  Object& add(const ObjectID& id, std::map<std::string, Value> values) {
    Object& object = objects[id];
    object.graph = this;
    object.id = id;
    object.values = std::move(values);
    return object;
  }

  std::map<ObjectID, Object> objects;
};

}  // namespace qlt
