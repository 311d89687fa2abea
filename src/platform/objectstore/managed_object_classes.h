#pragma once

#include <functional>
#include <memory>
#include <string>

namespace qlt {

class ManagedObject;

// The class used for the objects of each entity of a model. Entities
// without a registered class use their nearest registered superentity's,
// else ManagedObject.
class ManagedObjectClasses {
 public:
  using Factory = std::function<std::shared_ptr<ManagedObject>()>;

  static void add(const std::string& modelName, const std::string& entityName, Factory factory);
  template <typename T>
  static void add(const std::string& modelName, const std::string& entityName) {
    add(modelName, entityName, [] { return std::make_shared<T>(); });
  }
  // Null when neither the entity nor any superentity has a class.
  static Factory factory(const std::string& modelName, const std::string& entityName);
};

}  // namespace qlt
