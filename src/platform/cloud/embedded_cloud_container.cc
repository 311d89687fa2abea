#include "platform/cloud/embedded_cloud_container.h"

namespace qlt {

EmbeddedCloudContainer::EmbeddedCloudContainer(std::string identifier, std::shared_ptr<CloudFaultInjector> faults,
                                               std::shared_ptr<EmbeddedCloudStore> store)
    : identifier_(std::move(identifier)),
      faults_(std::move(faults)),
      store_(std::move(store)),
      privateDatabase_(std::make_shared<CloudDatabase>(store_, CloudDatabaseScope::Private)),
      sharedDatabase_(std::make_shared<CloudDatabase>(store_, CloudDatabaseScope::Shared)) {}

std::shared_ptr<EmbeddedCloudContainer> EmbeddedCloudContainer::open(const std::string& identifier,
                                                                     const std::string& directory, Error* error) {
  auto faults = std::make_shared<CloudFaultInjector>();
  auto store = EmbeddedCloudStore::open(directory, faults, error);
  if (!store) return nullptr;
  return std::shared_ptr<EmbeddedCloudContainer>(new EmbeddedCloudContainer(identifier, faults, std::move(store)));
}

bool EmbeddedCloudContainer::ensureZone(CloudDatabaseScope scope, const RecordZoneID& zoneID, Error* error) {
  return store_->saveZone(scope, zoneID, error);
}

}  // namespace qlt
