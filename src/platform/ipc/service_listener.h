#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/error.h"

namespace qlt {

class ServiceListener;

// One accepted connection: what the listener's delegate exported on it.
class ServiceConnection {
 public:
  void setExportedInterface(std::string name) { exportedInterface_ = std::move(name); }
  const std::string& exportedInterface() const { return exportedInterface_; }
  void setExportedObject(std::shared_ptr<void> object) { exportedObject_ = std::move(object); }
  template <class T>
  std::shared_ptr<T> exportedObject() const {
    return std::static_pointer_cast<T>(exportedObject_);
  }
  void resume() { resumed_ = true; }
  bool isResumed() const { return resumed_; }

 private:
  std::string exportedInterface_;
  std::shared_ptr<void> exportedObject_;
  bool resumed_ = false;
};

class ServiceListenerDelegate {
 public:
  virtual ~ServiceListenerDelegate() = default;
  virtual bool shouldAcceptNewConnection(ServiceListener& listener,
                                         const std::shared_ptr<ServiceConnection>& connection) = 0;
};

// An anonymous listener of this process: reachable only through its
// endpoint, which a client passes to connectToEndpoint().
class ServiceListener : public std::enable_shared_from_this<ServiceListener> {
 public:
  static std::shared_ptr<ServiceListener> anonymousListener();
  ~ServiceListener();

  void setDelegate(std::weak_ptr<ServiceListenerDelegate> delegate);
  // Makes the endpoint reachable.
  void resume();
  const std::string& endpoint() const { return endpoint_; }

  // A connection to a resumed listener whose delegate accepted it; null with
  // an error otherwise.
  static std::shared_ptr<ServiceConnection> connectToEndpoint(const std::string& endpoint, Error* error = nullptr);

 private:
  ServiceListener();

  std::string endpoint_;
  std::mutex mutex_;
  std::weak_ptr<ServiceListenerDelegate> delegate_;
};

}  // namespace qlt
