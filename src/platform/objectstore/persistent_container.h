#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/foundation/error.h"
#include "platform/objectstore/managed_object_context.h"
#include "platform/objectstore/persistent_history.h"
#include "platform/objectstore/persistent_store.h"
#include "platform/objectstore/store_coordinator.h"

namespace qlt {

// Where and how a container opens its store.
struct PersistentStoreDescription {
  std::string path;
  PersistentStoreOptions options;
  bool shouldAddStoreAsynchronously = false;
  // Post kStoreRemoteChangeNotification when another process commits.
  bool remoteChangeNotifications = false;
  // How often the store is checked for commits of other processes.
  std::chrono::milliseconds remoteChangeCheckInterval{250};
};

// A model, its one store and the contexts over it: the view context (a
// main-queue context) and any number of background contexts.
class PersistentContainer {
 public:
  using LoadCompletion = std::function<void(const PersistentStoreDescription&, const Error*)>;

  // The store lies in `directory` as "<name>.sqlite" unless the
  // description's path is changed before loading. Without a directory (and
  // a path set later) loading fails.
  PersistentContainer(std::string name, std::shared_ptr<const ManagedObjectModel> model,
                      const std::string& directory);
  virtual ~PersistentContainer();
  PersistentContainer(const PersistentContainer&) = delete;
  PersistentContainer& operator=(const PersistentContainer&) = delete;

  const std::string& name() const { return name_; }
  const std::shared_ptr<const ManagedObjectModel>& managedObjectModel() const { return model_; }
  PersistentStoreDescription& persistentStoreDescription() { return description_; }

  // Opens the store; `completion` gets the error, if any. Synchronous
  // unless the description asks otherwise (the completion then runs on
  // another thread).
  void loadPersistentStores(LoadCompletion completion);
  bool isLoaded() const { return coordinator_ != nullptr; }

  // REQUIRES: the store loaded.
  const std::shared_ptr<StoreCoordinator>& coordinator() const { return coordinator_; }
  PersistentStore& persistentStore() { return coordinator_->store(); }
  ManagedObjectContext& viewContext() { return *viewContext_; }
  std::shared_ptr<ManagedObjectContext> newBackgroundContext();
  void performBackgroundTask(std::function<void(ManagedObjectContext&)> task);

  [[nodiscard]] std::optional<std::vector<HistoryTransaction>> fetchHistoryAfterDate(Date date, Error* error = nullptr);

  // The store's metadata dictionary, read and written under the
  // coordinator's lock (safe from any context's queue).
  PropertyListDictionary metadata(Error* error = nullptr);
  [[nodiscard]] bool setMetadata(const PropertyListDictionary& metadata, Error* error = nullptr);

  // Compares the store's data version with the last one seen and posts
  // kStoreRemoteChangeNotification (object: this container) when another
  // connection committed. Runs periodically when the description asks for
  // remote-change notifications; callable at any time.
  void checkForRemoteChanges();

 private:
  void startWatching();
  void stopWatching();

  std::string name_;
  std::shared_ptr<const ManagedObjectModel> model_;
  PersistentStoreDescription description_;
  std::shared_ptr<StoreCoordinator> coordinator_;
  std::unique_ptr<ManagedObjectContext> viewContext_;

  std::mutex watchMutex_;
  std::optional<int64_t> lastDataVersion_;
  std::condition_variable watchWake_;
  bool stopWatching_ = false;
  std::thread watcher_;
  std::thread loader_;
};

}  // namespace qlt
