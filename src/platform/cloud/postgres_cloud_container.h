#pragma once

#include <memory>
#include <string>

#include "platform/cloud/cloud_container.h"
#include "platform/cloud/cloud_fault_injector.h"
#include "platform/cloud/postgres_cloud_store.h"

namespace qlt {

// A cloud container served by a PostgreSQL server (PostgresCloudStore):
// containers on several machines that connect to one server see each
// other's records.
class PostgresCloudContainer final : public CloudContainer {
 public:
  // `location` stands for the server in status reports (never the URI);
  // fetched assets land in `downloadsDirectory`.
  static std::shared_ptr<PostgresCloudContainer> open(const std::string& identifier, const std::string& url,
                                                      const std::string& location,
                                                      const std::string& downloadsDirectory, Error* error = nullptr);

  const std::string& containerIdentifier() const override { return identifier_; }
  std::shared_ptr<CloudDatabase> privateCloudDatabase() override { return privateDatabase_; }
  std::shared_ptr<CloudDatabase> sharedCloudDatabase() override { return sharedDatabase_; }
  std::string storeLocation() const override { return location_; }

  std::shared_ptr<CloudService> service() const { return store_; }
  CloudFaultInjector& faults() { return *faults_; }
  [[nodiscard]] bool ensureZone(CloudDatabaseScope scope, const RecordZoneID& zoneID, Error* error = nullptr);

 private:
  PostgresCloudContainer(std::string identifier, std::string location, std::shared_ptr<CloudFaultInjector> faults,
                         std::shared_ptr<PostgresCloudStore> store);

  std::string identifier_;
  std::string location_;
  std::shared_ptr<CloudFaultInjector> faults_;
  std::shared_ptr<PostgresCloudStore> store_;
  std::shared_ptr<CloudDatabase> privateDatabase_;
  std::shared_ptr<CloudDatabase> sharedDatabase_;
};

}  // namespace qlt
