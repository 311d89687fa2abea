#include "platform/cloud/cloud_container.h"

#include <map>
#include <mutex>

#include "platform/cloud/cloud_server_url.h"
#include "platform/cloud/embedded_cloud_container.h"
#include "platform/cloud/postgres_cloud_container.h"
#include "platform/files/file_path.h"
#include "platform/files/group_container.h"
#include "platform/defaults/user_defaults.h"

namespace qlt {
namespace {

struct Registry {
  std::mutex mutex;
  std::string suiteName = "group.com.quillet";
  std::map<std::string, std::shared_ptr<CloudContainer>> installed;
  std::map<std::pair<std::string, std::string>, std::shared_ptr<CloudContainer>> opened;
};

Registry& registry() {
  static auto& instance = *new Registry;
  return instance;
}

}  // namespace

std::shared_ptr<CloudDatabase> CloudContainer::database(CloudDatabaseScope scope) {
  return scope == CloudDatabaseScope::Private ? privateCloudDatabase() : sharedCloudDatabase();
}

void setCloudStoreDefaultsSuite(const std::string& suiteName) {
  std::lock_guard lock(registry().mutex);
  registry().suiteName = suiteName;
}

std::string cloudStoreDefaultsSuite() {
  std::lock_guard lock(registry().mutex);
  return registry().suiteName;
}

std::optional<std::string> cloudStoreDirectory(const std::string& identifier, Error* error) {
  std::string suite = cloudStoreDefaultsSuite();
  UserDefaults defaults(suite);
  if (auto directory = defaults.stringForKey(kCloudStoreDirectoryKey); directory && !directory->empty())
    return *directory;
  auto container = groupContainerPath(suite, error);
  if (!container) return std::nullopt;
  return appendingPathComponent(appendingPathComponent(appendingPathComponent(*container, "Library"), "Cloud Store"),
                                identifier);
}

std::shared_ptr<CloudContainer> CloudContainer::containerWithIdentifier(const std::string& identifier,
                                                                        Error* error) {
  {
    std::lock_guard lock(registry().mutex);
    auto installed = registry().installed.find(identifier);
    if (installed != registry().installed.end()) return installed->second;
  }
  std::optional<CloudServerURL> server;
  if (!configuredCloudServerURL(server, error)) return nullptr;
  auto directory = cloudStoreDirectory(identifier, error);
  if (!directory) return nullptr;
  std::lock_guard lock(registry().mutex);
  if (server) {
    auto& slot = registry().opened[{identifier, "\n" + server->url}];
    if (!slot)
      slot = PostgresCloudContainer::open(identifier, server->url, "PostgreSQL server (" + server->source + ")",
                                          appendingPathComponent(*directory, "Downloads"), error);
    return slot;
  }
  auto& slot = registry().opened[{identifier, *directory}];
  if (!slot) slot = EmbeddedCloudContainer::open(identifier, *directory, error);
  return slot;
}

std::shared_ptr<CloudContainer> installCloudContainer(const std::string& identifier,
                                                      std::shared_ptr<CloudContainer> container) {
  std::lock_guard lock(registry().mutex);
  auto& installed = registry().installed;
  std::shared_ptr<CloudContainer> previous;
  if (auto found = installed.find(identifier); found != installed.end()) {
    previous = std::move(found->second);
    installed.erase(found);
  }
  if (container) installed[identifier] = std::move(container);
  return previous;
}

ScopedCloudContainer::ScopedCloudContainer(const std::string& identifier, std::shared_ptr<CloudContainer> container)
    : identifier_(identifier), previous_(installCloudContainer(identifier, std::move(container))) {}

ScopedCloudContainer::~ScopedCloudContainer() { installCloudContainer(identifier_, std::move(previous_)); }

}  // namespace qlt
