#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/foundation/error.h"
#include "platform/ipc/service_listener.h"

namespace qlt {

class FileProviderExtension;

inline constexpr const char* kExtensionFileProviderErrorDomain = "QLTFileProviderErrorDomain";
inline constexpr long kFileProviderNoLibraryObjectErrorCode = 10001;

// Hands the host application connections on which the extension itself is
// the exported object. A listener is kept only until its first connection.
class FileProviderServiceSource : public ServiceListenerDelegate,
                                  public std::enable_shared_from_this<FileProviderServiceSource> {
 public:
  explicit FileProviderServiceSource(std::weak_ptr<FileProviderExtension> extension);

  // kProductIdentifierPrefix + "-FileProvider".
  static std::string serviceName();
  // A new anonymous listener's endpoint; never fails.
  std::string makeListenerEndpoint(Error* error = nullptr);
  bool shouldAcceptNewConnection(ServiceListener& listener,
                                 const std::shared_ptr<ServiceConnection>& connection) override;
  size_t pendingListenerCount() const;

 private:
  std::weak_ptr<FileProviderExtension> extension_;
  mutable std::mutex mutex_;
  std::set<std::shared_ptr<ServiceListener>> listeners_;
};

}  // namespace qlt
