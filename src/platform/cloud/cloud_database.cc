#include "platform/cloud/cloud_database.h"

namespace qlt {

CloudDatabase::CloudDatabase(std::shared_ptr<CloudService> service, CloudDatabaseScope scope)
    : service_(std::move(service)), scope_(scope) {
  queue_.setName(std::string("CloudDatabase ") + cloudDatabaseScopeName(scope));
}

CloudDatabase::~CloudDatabase() { queue_.cancelAllOperations(); }

void CloudDatabase::add(std::shared_ptr<CloudDatabaseOperation> operation) {
  if (!operation) return;
  operation->attach(service_, scope_);
  queue_.addOperation(std::move(operation));
}

}  // namespace qlt
