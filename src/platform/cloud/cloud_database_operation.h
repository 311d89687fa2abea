#pragma once

#include <memory>

#include "platform/dispatch/async_operation.h"
#include "platform/cloud/cloud_service.h"

namespace qlt {

// Base of the requests added to a CloudDatabase. The database starts the
// operation on a thread of its own, and every callback of the operation
// runs on that thread. A cancelled operation (before or while it waits for
// the server) reports the operation-cancelled error to its completion
// callback and finishes.
class CloudDatabaseOperation : public AsyncOperation {
 public:
  void start() override;
  void cancel() override;

  // Service quality asked for (25: user-initiated); the embedded store
  // answers every request alike.
  int qualityOfService = 0;

 protected:
  // Sends the request and reports the answer; `service` is null when the
  // operation was started without being added to a database.
  virtual void perform(CloudService* service, CloudDatabaseScope scope, const CloudCancellation& cancellation) = 0;
  void main() override;

 private:
  friend class CloudDatabase;
  void attach(std::shared_ptr<CloudService> service, CloudDatabaseScope scope);

  std::shared_ptr<CloudService> service_;
  CloudDatabaseScope scope_ = CloudDatabaseScope::Private;
  CloudCancellation cancellation_;
};

}  // namespace qlt
