#pragma once

#include <memory>

#include "platform/cloud/cloud_database_operation.h"
#include "platform/cloud/cloud_service.h"
#include "platform/dispatch/operation_queue.h"

namespace qlt {

// One database (private or shared) of a cloud container. Operations added
// to it run concurrently on the database's own threads.
class CloudDatabase {
 public:
  CloudDatabase(std::shared_ptr<CloudService> service, CloudDatabaseScope scope);
  // Cancels the operations still running and waits for them.
  ~CloudDatabase();
  CloudDatabase(const CloudDatabase&) = delete;
  CloudDatabase& operator=(const CloudDatabase&) = delete;

  CloudDatabaseScope databaseScope() const { return scope_; }
  void add(std::shared_ptr<CloudDatabaseOperation> operation);

 private:
  std::shared_ptr<CloudService> service_;
  CloudDatabaseScope scope_;
  OperationQueue queue_;
};

}  // namespace qlt
