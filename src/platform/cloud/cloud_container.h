#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/cloud/cloud_database.h"
#include "platform/foundation/error.h"

namespace qlt {

// Names the folder of the embedded cloud store, in the defaults suite set
// with setCloudStoreDefaultsSuite().
inline constexpr const char* kCloudStoreDirectoryKey = "QLTCloudStoreDirectory";

// A cloud container ("CKContainer"): the private and shared databases of
// the signed-in user for one container identifier.
class CloudContainer {
 public:
  virtual ~CloudContainer() = default;

  virtual const std::string& containerIdentifier() const = 0;
  virtual std::shared_ptr<CloudDatabase> privateCloudDatabase() = 0;
  virtual std::shared_ptr<CloudDatabase> sharedCloudDatabase() = 0;
  // Where the container keeps its records, for status reports.
  virtual std::string storeLocation() const = 0;

  // The database of `scope`.
  std::shared_ptr<CloudDatabase> database(CloudDatabaseScope scope);

  // The process's container for `identifier`: one installed with
  // installCloudContainer(), else the PostgreSQL server that
  // configuredCloudServerURL() names, else the embedded store in
  // cloudStoreDirectory(identifier); opened once per process and server or
  // folder.
  static std::shared_ptr<CloudContainer> containerWithIdentifier(const std::string& identifier,
                                                                 Error* error = nullptr);
};

// The suite whose kCloudStoreDirectoryKey is read; "group.com.quillet"
// (the suite shared with the host application) unless set.
void setCloudStoreDefaultsSuite(const std::string& suiteName);
std::string cloudStoreDefaultsSuite();

// The folder of the embedded store for `identifier`: the setting when it
// is a non-empty string, else "Library/Cloud Store/<identifier>" in the
// group container of the defaults suite.
[[nodiscard]] std::optional<std::string> cloudStoreDirectory(const std::string& identifier, Error* error = nullptr);

// Makes containerWithIdentifier() answer `container` for its identifier
// (null removes the installed one), and returns what was installed before.
std::shared_ptr<CloudContainer> installCloudContainer(const std::string& identifier,
                                                      std::shared_ptr<CloudContainer> container);

// Installs a container for the lifetime of the object, then restores the
// previous one.
class ScopedCloudContainer {
 public:
  ScopedCloudContainer(const std::string& identifier, std::shared_ptr<CloudContainer> container);
  ~ScopedCloudContainer();
  ScopedCloudContainer(const ScopedCloudContainer&) = delete;
  ScopedCloudContainer& operator=(const ScopedCloudContainer&) = delete;

 private:
  std::string identifier_;
  std::shared_ptr<CloudContainer> previous_;
};

}  // namespace qlt
