#include "store/library_changes_container.h"

#include "platform/foundation/bundle.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"
#include "platform/dispatch/notification_center.h"
#include "platform/defaults/user_defaults.h"
#include "store/library_manager.h"

namespace qlt {

std::string LibraryChangesPersistentContainer::defaultDirectoryPath() {
  return LibraryManager::sharedManager()->libraryChangesFolderPath();
}

void LibraryChangesPersistentContainer::removeChangesFile() {
  std::string folder = LibraryManager::sharedManager()->libraryChangesFolderPath();
  if (!folder.empty()) (void)removeItem(folder);  // what cannot go now is gone with the next reset
}

LibraryChangesPersistentContainer::LibraryChangesPersistentContainer(const std::string& name,
                                                                     std::shared_ptr<const ManagedObjectModel> model)
    : PersistentContainer(name, std::move(model), defaultDirectoryPath()) {
  PersistentStoreDescription& description = persistentStoreDescription();
  description.shouldAddStoreAsynchronously = false;
  description.options.vacuumOnOpen = !UserDefaults::standard().boolForKey(kChangeManagerDisableVacuumKey);
  description.options.historyTracking = true;
  description.remoteChangeNotifications = true;
  historyQueue_.setMaxConcurrentOperationCount(1);
  remoteChangeToken_ = NotificationCenter::defaultCenter().addObserver(
      kStoreRemoteChangeNotification, this,
      [this](const Notification&) { historyQueue_.addOperationWithBlock([this] { updatePersistentHistory(); }); });
}

LibraryChangesPersistentContainer::~LibraryChangesPersistentContainer() {
  NotificationCenter::defaultCenter().removeObserver(remoteChangeToken_);
  historyQueue_.cancelAllOperations();
  historyQueue_.waitUntilAllOperationsAreFinished();
}

Date LibraryChangesPersistentContainer::lastDateForPersistentStoreHistory() {
  if (!isLoaded()) return Date::distantPast();
  PropertyListDictionary metadata = this->metadata();
  auto dates = metadata.find(kDatesForPersistentStoreHistoryKey);
  const PropertyList* date = dates != metadata.end() ? dates->second.find(mainBundleIdentifier()) : nullptr;
  return date && date->date() ? *date->date() : Date::distantPast();
}

void LibraryChangesPersistentContainer::setLastDateForPersistentHistory(Date date) {
  if (!isLoaded()) return;
  PropertyListDictionary metadata = this->metadata();
  PropertyList& dates = metadata[kDatesForPersistentStoreHistoryKey];
  if (!dates.dictionary()) dates = PropertyListDictionary{};
  (*dates.dictionary())[mainBundleIdentifier()] = date;
  Error error;
  if (!this->setMetadata(metadata, &error)) log("Cannot save the history date of the changes database: %@", error);
}

void LibraryChangesPersistentContainer::updatePersistentHistory() {
  if (!isLoaded()) return;
  ManagedObjectContext& view = viewContext();
  view.performAndWait([&] {
    Error error;
    auto history = fetchHistoryAfterDate(lastDateForPersistentStoreHistory(), &error);
    if (!history) {
      log("Failed to get history: %@", error.description());
      return;
    }
    if (history->empty()) return;
    std::string me = mainBundleIdentifier();
    for (const HistoryTransaction& transaction : *history) {
      bool foreign = transaction.author != me;
      if (foreign) view.setStalenessInterval(0);
      view.mergeChanges(transaction.objectIDNotification());
      if (foreign) view.setStalenessInterval(-1);
    }
    setLastDateForPersistentHistory(Date::now());
    Error saveError;
    if (view.hasChanges() && !view.save(&saveError)) log("Cannot save merged changes: %@", saveError);
  });
}

}  // namespace qlt
