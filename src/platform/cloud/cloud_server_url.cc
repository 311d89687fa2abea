#include "platform/cloud/cloud_server_url.h"

#include <sys/stat.h>

#include <cstdlib>

#include "platform/cloud/cloud_container.h"
#include "platform/cloud/cloud_error.h"
#include "platform/defaults/user_defaults.h"
#include "platform/files/file_system.h"

namespace qlt {

bool configuredCloudServerURL(std::optional<CloudServerURL>& configured, Error* error) {
  configured.reset();
  if (const char* url = std::getenv(kCloudURLEnvironmentVariable); url && *url) {
    configured = CloudServerURL{url, kCloudURLEnvironmentVariable};
    return true;
  }
  UserDefaults defaults(cloudStoreDefaultsSuite());
  auto path = defaults.stringForKey(kCloudURLFileKey);
  if (!path || path->empty()) return true;
  auto refuse = [&](const std::string& why) {
    setError(error, cloudError(kCloudErrorNotAuthenticated, "The cloud URL file " + *path + " " + why));
    return false;
  };
  struct stat info;
  if (::stat(path->c_str(), &info) != 0) return refuse("cannot be found.");
  if (!S_ISREG(info.st_mode) || (info.st_mode & 077) != 0)
    return refuse("must be a file that only its owner may read (mode 0600).");
  auto contents = readFile(*path);
  if (!contents) return refuse("cannot be read.");
  std::string url = contents->substr(0, contents->find('\n'));
  while (!url.empty() && (url.back() == '\r' || url.back() == ' ')) url.pop_back();
  if (url.empty()) return refuse("holds no URI.");
  configured = CloudServerURL{url, *path};
  return true;
}

}  // namespace qlt
