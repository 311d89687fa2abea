#include "platform/objectstore/persistent_container.h"

#include "platform/foundation/log.h"
#include "platform/dispatch/notification_center.h"
#include "platform/sqlite/database.h"

namespace qlt {

PersistentContainer::PersistentContainer(std::string name, std::shared_ptr<const ManagedObjectModel> model,
                                         const std::string& directory)
    : name_(std::move(name)), model_(std::move(model)) {
  if (!directory.empty()) description_.path = directory + "/" + name_ + ".sqlite";
}

PersistentContainer::~PersistentContainer() {
  if (loader_.joinable()) loader_.join();
  stopWatching();
  viewContext_.reset();
}

void PersistentContainer::loadPersistentStores(LoadCompletion completion) {
  auto load = [this, completion = std::move(completion)] {
    Error error;
    if (description_.path.empty()) {
      error = Error(kCocoaErrorDomain, kPersistentStoreOpenError, "The store has no location.");
      if (completion) completion(description_, &error);
      return;
    }
    auto store = PersistentStore::open(description_.path, model_, description_.options, &error);
    if (!store) {
      if (completion) completion(description_, &error);
      return;
    }
    coordinator_ = std::make_shared<StoreCoordinator>(std::move(store));
    viewContext_ = std::make_unique<ManagedObjectContext>(coordinator_, ManagedObjectContext::ConcurrencyType::MainQueue);
    if (description_.remoteChangeNotifications) startWatching();
    if (completion) completion(description_, nullptr);
  };
  if (description_.shouldAddStoreAsynchronously)
    loader_ = std::thread(std::move(load));
  else
    load();
}

std::shared_ptr<ManagedObjectContext> PersistentContainer::newBackgroundContext() {
  if (!coordinator_) return nullptr;
  return std::make_shared<ManagedObjectContext>(coordinator_, ManagedObjectContext::ConcurrencyType::PrivateQueue);
}

void PersistentContainer::performBackgroundTask(std::function<void(ManagedObjectContext&)> task) {
  auto context = newBackgroundContext();
  if (!context) return;
  ManagedObjectContext* raw = context.get();
  raw->perform([context = std::move(context), task = std::move(task)] { task(*context); });
}

std::optional<std::vector<HistoryTransaction>> PersistentContainer::fetchHistoryAfterDate(Date date, Error* error) {
  if (!coordinator_) {
    setError(error, Error(kCocoaErrorDomain, kPersistentStoreOperationError, "The store is not loaded."));
    return std::nullopt;
  }
  return qlt::fetchHistoryAfterDate(*coordinator_, date, error);
}

PropertyListDictionary PersistentContainer::metadata(Error* error) {
  if (!coordinator_) return {};
  std::lock_guard lock(coordinator_->mutex());
  return coordinator_->store().metadata(error);
}

bool PersistentContainer::setMetadata(const PropertyListDictionary& metadata, Error* error) {
  if (!coordinator_) {
    setError(error, Error(kCocoaErrorDomain, kPersistentStoreOperationError, "The store is not loaded."));
    return false;
  }
  std::lock_guard lock(coordinator_->mutex());
  return coordinator_->store().setMetadata(metadata, error);
}

void PersistentContainer::checkForRemoteChanges() {
  if (!coordinator_) return;
  std::optional<int64_t> version;
  {
    std::lock_guard lock(coordinator_->mutex());
    version = coordinator_->store().database().dataVersion();
  }
  if (!version) return;
  bool changed;
  {
    std::lock_guard lock(watchMutex_);
    changed = lastDataVersion_ && *lastDataVersion_ != *version;
    lastDataVersion_ = version;
  }
  if (changed) NotificationCenter::defaultCenter().post(kStoreRemoteChangeNotification, this);
}

void PersistentContainer::startWatching() {
  checkForRemoteChanges();
  watcher_ = std::thread([this] {
    std::unique_lock lock(watchMutex_);
    while (!stopWatching_) {
      watchWake_.wait_for(lock, description_.remoteChangeCheckInterval);
      if (stopWatching_) break;
      lock.unlock();
      checkForRemoteChanges();
      lock.lock();
    }
  });
}

void PersistentContainer::stopWatching() {
  {
    std::lock_guard lock(watchMutex_);
    stopWatching_ = true;
  }
  watchWake_.notify_all();
  if (watcher_.joinable()) watcher_.join();
}

}  // namespace qlt
