#include "platform/ipc/service_listener.h"

#include <map>

#include "platform/foundation/uuid.h"

namespace qlt {
namespace {

constexpr long kConnectionInvalidError = 4099;

std::mutex& registryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, std::weak_ptr<ServiceListener>>& registry() {
  static auto& listeners = *new std::map<std::string, std::weak_ptr<ServiceListener>>();
  return listeners;
}

}  // namespace

ServiceListener::ServiceListener() : endpoint_(newUUIDString()) {}

ServiceListener::~ServiceListener() {
  std::lock_guard lock(registryMutex());
  registry().erase(endpoint_);
}

std::shared_ptr<ServiceListener> ServiceListener::anonymousListener() {
  return std::shared_ptr<ServiceListener>(new ServiceListener());
}

void ServiceListener::setDelegate(std::weak_ptr<ServiceListenerDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

void ServiceListener::resume() {
  std::lock_guard lock(registryMutex());
  registry()[endpoint_] = weak_from_this();
}

std::shared_ptr<ServiceConnection> ServiceListener::connectToEndpoint(const std::string& endpoint, Error* error) {
  std::shared_ptr<ServiceListener> listener;
  {
    std::lock_guard lock(registryMutex());
    auto found = registry().find(endpoint);
    if (found != registry().end()) listener = found->second.lock();
  }
  std::shared_ptr<ServiceListenerDelegate> delegate;
  if (listener) {
    std::lock_guard lock(listener->mutex_);
    delegate = listener->delegate_.lock();
  }
  auto connection = std::make_shared<ServiceConnection>();
  if (!delegate || !delegate->shouldAcceptNewConnection(*listener, connection)) {
    setError(error, Error(kCocoaErrorDomain, kConnectionInvalidError, "Couldn’t communicate with a helper application."));
    return nullptr;
  }
  return connection;
}

}  // namespace qlt
