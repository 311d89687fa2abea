#include "extension/file_provider_service_source.h"

#include "extension/file_provider_extension.h"
#include "extension/file_providing.h"
#include "platform/foundation/uniform_type.h"

namespace qlt {

FileProviderServiceSource::FileProviderServiceSource(std::weak_ptr<FileProviderExtension> extension)
    : extension_(std::move(extension)) {}

std::string FileProviderServiceSource::serviceName() { return std::string(kProductIdentifierPrefix) + "-FileProvider"; }

std::string FileProviderServiceSource::makeListenerEndpoint(Error*) {
  std::shared_ptr<ServiceListener> listener = ServiceListener::anonymousListener();
  listener->setDelegate(weak_from_this());
  {
    std::lock_guard lock(mutex_);
    listeners_.insert(listener);
  }
  listener->resume();
  return listener->endpoint();
}

bool FileProviderServiceSource::shouldAcceptNewConnection(ServiceListener& listener,
                                                          const std::shared_ptr<ServiceConnection>& connection) {
  connection->setExportedInterface(kFileProvidingInterfaceName);
  std::shared_ptr<FileProviding> exported = extension_.lock();
  connection->setExportedObject(exported);
  {
    std::lock_guard lock(mutex_);
    for (auto it = listeners_.begin(); it != listeners_.end(); ++it) {
      if (it->get() == &listener) {
        listeners_.erase(it);
        break;
      }
    }
  }
  connection->resume();
  return true;
}

size_t FileProviderServiceSource::pendingListenerCount() const {
  std::lock_guard lock(mutex_);
  return listeners_.size();
}

}  // namespace qlt
