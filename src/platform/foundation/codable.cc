#include "platform/foundation/codable.h"

namespace qlt {

CodableRegistry& CodableRegistry::global() {
  static auto& registry = *new CodableRegistry;
  return registry;
}

void CodableRegistry::registerClass(const std::string& className, CodableFactory factory) {
  std::lock_guard lock(mutex_);
  factories_[className] = std::move(factory);
}

std::optional<CodableFactory> CodableRegistry::factory(const std::string& className) const {
  std::lock_guard lock(mutex_);
  auto found = factories_.find(className);
  if (found == factories_.end()) return std::nullopt;
  return found->second;
}

}  // namespace qlt
