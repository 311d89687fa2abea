#include "platform/cloud/cloud_database_operation.h"

namespace qlt {

void CloudDatabaseOperation::start() {
  // Unlike other operations, a cancelled one still runs main() so that its
  // completion callback hears of the cancellation.
  if (beginExecuting()) main();
}

void CloudDatabaseOperation::cancel() {
  AsyncOperation::cancel();
  cancellation_.cancel();
}

void CloudDatabaseOperation::main() {
  perform(service_.get(), scope_, cancellation_);
  finish();
}

void CloudDatabaseOperation::attach(std::shared_ptr<CloudService> service, CloudDatabaseScope scope) {
  service_ = std::move(service);
  scope_ = scope;
  if (isCancelled()) cancellation_.cancel();
}

}  // namespace qlt
