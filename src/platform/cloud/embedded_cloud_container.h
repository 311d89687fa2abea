#pragma once

#include <memory>
#include <string>

#include "platform/cloud/cloud_container.h"
#include "platform/cloud/cloud_fault_injector.h"
#include "platform/cloud/embedded_cloud_store.h"

namespace qlt {

// A cloud container served by an EmbeddedCloudStore in a folder of this
// machine. Containers opened on one folder, in one process or several,
// see each other's records.
class EmbeddedCloudContainer final : public CloudContainer {
 public:
  static std::shared_ptr<EmbeddedCloudContainer> open(const std::string& identifier, const std::string& directory,
                                                      Error* error = nullptr);

  const std::string& containerIdentifier() const override { return identifier_; }
  std::shared_ptr<CloudDatabase> privateCloudDatabase() override { return privateDatabase_; }
  std::shared_ptr<CloudDatabase> sharedCloudDatabase() override { return sharedDatabase_; }
  std::string storeLocation() const override { return store_->directory(); }

  // The server behind both databases.
  std::shared_ptr<CloudService> service() const { return store_; }

  // Faults planned here hit the requests of this container's databases.
  CloudFaultInjector& faults() { return *faults_; }

  // Creates the zone when it is missing, bypassing planned faults.
  [[nodiscard]] bool ensureZone(CloudDatabaseScope scope, const RecordZoneID& zoneID, Error* error = nullptr);

 private:
  EmbeddedCloudContainer(std::string identifier, std::shared_ptr<CloudFaultInjector> faults,
                         std::shared_ptr<EmbeddedCloudStore> store);

  std::string identifier_;
  std::shared_ptr<CloudFaultInjector> faults_;
  std::shared_ptr<EmbeddedCloudStore> store_;
  std::shared_ptr<CloudDatabase> privateDatabase_;
  std::shared_ptr<CloudDatabase> sharedDatabase_;
};

}  // namespace qlt
