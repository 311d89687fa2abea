#include "platform/objectstore/managed_object_classes.h"

#include <map>
#include <mutex>

namespace qlt {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::pair<std::string, std::string>, ManagedObjectClasses::Factory> factories;
};

Registry& registry() {
  static auto& instance = *new Registry;
  return instance;
}

}  // namespace

void ManagedObjectClasses::add(const std::string& modelName, const std::string& entityName, Factory factory) {
  std::lock_guard lock(registry().mutex);
  registry().factories[{modelName, entityName}] = std::move(factory);
}

ManagedObjectClasses::Factory ManagedObjectClasses::factory(const std::string& modelName,
                                                            const std::string& entityName) {
  std::lock_guard lock(registry().mutex);
  auto found = registry().factories.find({modelName, entityName});
  return found == registry().factories.end() ? Factory() : found->second;
}

}  // namespace qlt
