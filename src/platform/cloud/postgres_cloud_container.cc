#include "platform/cloud/postgres_cloud_container.h"

namespace qlt {

PostgresCloudContainer::PostgresCloudContainer(std::string identifier, std::string location,
                                               std::shared_ptr<CloudFaultInjector> faults,
                                               std::shared_ptr<PostgresCloudStore> store)
    : identifier_(std::move(identifier)),
      location_(std::move(location)),
      faults_(std::move(faults)),
      store_(std::move(store)),
      privateDatabase_(std::make_shared<CloudDatabase>(store_, CloudDatabaseScope::Private)),
      sharedDatabase_(std::make_shared<CloudDatabase>(store_, CloudDatabaseScope::Shared)) {}

std::shared_ptr<PostgresCloudContainer> PostgresCloudContainer::open(const std::string& identifier,
                                                                     const std::string& url,
                                                                     const std::string& location,
                                                                     const std::string& downloadsDirectory,
                                                                     Error* error) {
  auto faults = std::make_shared<CloudFaultInjector>();
  auto store = PostgresCloudStore::open(url, downloadsDirectory, faults, error);
  if (!store) return nullptr;
  return std::shared_ptr<PostgresCloudContainer>(
      new PostgresCloudContainer(identifier, location, faults, std::move(store)));
}

bool PostgresCloudContainer::ensureZone(CloudDatabaseScope scope, const RecordZoneID& zoneID, Error* error) {
  return store_->saveZone(scope, zoneID, error);
}

}  // namespace qlt
