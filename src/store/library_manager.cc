#include "store/library_manager.h"

#include <map>
#include <mutex>
#include <set>

#include "platform/foundation/bundle.h"
#include "platform/foundation/byte_count.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/files/group_container.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "platform/dispatch/notification_center.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/defaults/user_defaults.h"
#include "platform/foundation/uuid.h"
#include "store/library.h"
#include "store/library_model.h"
#include "util/file_manager.h"

namespace qlt {
namespace {

std::mutex& sharedMutex() {
  static auto& mutex = *new std::mutex;
  return mutex;
}

std::shared_ptr<LibraryManager>& sharedInstance() {
  static auto& manager = *new std::shared_ptr<LibraryManager>;
  return manager;
}

std::string createdFolder(const std::string& path, bool intermediates, const char* failure) {
  if (!isDirectory(path)) {
    Error error;
    if (!createDirectory(path, intermediates, &error)) log(failure, error.description());
  }
  return path;
}

}  // namespace

std::shared_ptr<LibraryManager> LibraryManager::sharedManager() {
  std::lock_guard lock(sharedMutex());
  if (!sharedInstance()) sharedInstance() = std::make_shared<LibraryManager>();
  return sharedInstance();
}

void LibraryManager::setSharedManager(std::shared_ptr<LibraryManager> manager) {
  std::lock_guard lock(sharedMutex());
  sharedInstance() = std::move(manager);
}

RecordZoneID LibraryManager::libraryZoneID() { return RecordZoneID("Quillet", kCurrentUserDefaultName); }

void LibraryManager::registerDefaults() {
  PropertyListDictionary defaults{{"QLTActivityShowActivityInStatusBar", false}};
  for (const char* key : {"QLTSearchGroupDefaultMatchAll", "QLTSearchGroupDefaultSearchAll",
                          "QLTSearchGroupDefaultSearchName", "QLTSearchGroupDefaultSearchComments",
                          "QLTSearchGroupDefaultSearchContents", "QLTSearchGroupDefaultSearchSource",
                          "QLTSearchGroupDefaultSearchTags", "QLTSearchGroupDefaultSearchLabels",
                          "QLTSearchHighlightSearchText", "QLTSearchSuggestionsShowImmediately"})
    defaults[key] = true;
  defaults["QLTSearchHighlightSearchTextForSavedSearch"] = false;
  UserDefaults::standard().registerDefaults(defaults);
}

LibraryManager::LibraryManager(std::shared_ptr<LibraryModelDelegate> model) : modelDelegate_(std::move(model)) {
  static std::once_flag registered;
  std::call_once(registered, registerDefaults);
}

LibraryManager::~LibraryManager() {
  if (willSaveToken_) NotificationCenter::defaultCenter().removeObserver(willSaveToken_);
  if (remoteChangeToken_) NotificationCenter::defaultCenter().removeObserver(remoteChangeToken_);
}

std::shared_ptr<Library> LibraryManager::library() const {
  std::lock_guard lock(mutex_);
  return library_;
}

std::shared_ptr<PersistentContainer> LibraryManager::container() const {
  std::lock_guard lock(mutex_);
  return container_;
}

std::shared_ptr<const ManagedObjectModel> LibraryManager::libraryModel() {
  std::lock_guard lock(mutex_);
  if (!model_) model_ = qlt::libraryModel();
  return model_;
}

std::optional<FileProviderDomain> LibraryManager::fileProviderDomain() const {
  std::lock_guard lock(mutex_);
  return domain_;
}

void LibraryManager::setFileProviderDomain(FileProviderDomain domain) {
  std::lock_guard lock(mutex_);
  domain_ = std::move(domain);
}

std::string LibraryManager::groupContainerPath() const {
  return qlt::groupContainerPath(kSharedDefaultsSuite).value_or(std::string());
}

std::string LibraryManager::libraryFolderPath() {
  return appendingPathComponent(groupContainerPath(), kLibraryFolderName);
}

std::string LibraryManager::libraryFilePath() { return appendingPathComponent(libraryFolderPath(), kLibraryFilename); }

std::string LibraryManager::libraryPersistentStorePath() {
  return appendingPathComponent(libraryFilePath(), "Quillet.sqlite");
}

std::string LibraryManager::libraryImportsFolderPath() {
  return createdFolder(appendingPathComponent(libraryFilePath(), "Imports"), true, "Cannot create imports folder: %@");
}

std::string LibraryManager::currentImportFolderPath() {
  std::string identifier;
  {
    std::lock_guard lock(mutex_);
    if (importIdentifier_.empty()) importIdentifier_ = newUUIDString();
    identifier = importIdentifier_;
  }
  return createdFolder(appendingPathComponent(libraryImportsFolderPath(), identifier), true,
                       "Cannot create import folder: %@");
}

std::string LibraryManager::libraryStationeryFolderPath() {
  return createdFolder(appendingPathComponent(libraryFilePath(), "Stationery"), true,
                       "Cannot create stationery folder: %@");
}

std::string LibraryManager::libraryEncryptedItemsFolderPath() {
  std::string path = appendingPathComponent(libraryFilePath(), "Encrypted.noindex");
  if (fileExists(path)) return path;
  std::string old = appendingPathComponent(libraryFilePath(), "Encrypted");
  Error moveError;
  if (isDirectory(old) && !moveItem(old, path, &moveError)) log("Cannot move the encrypted items folder: %@", moveError);
  Error error;
  if (isDirectory(path) || createDirectory(path, true, &error))
    (void)setExtensionHidden(path, true);  // a display flag
  else
    log("Cannot create encrypted items folder: %@", error.description());
  return path;
}

std::string LibraryManager::libraryChangesFolderPath() {
  std::string path = appendingPathComponent(sharedManager()->libraryFilePath(), "Library Changes");
  if (isDirectory(path)) return path;
  Error error;
  if (!createDirectory(path, false, &error)) {
    log("Couldn't create folder for holding library changes database: %@", error.description());
    return {};
  }
  return path;
}

std::string LibraryManager::libraryChangesStorePath() {
  std::string folder = libraryChangesFolderPath();
  return folder.empty() ? folder : appendingPathComponent(folder, "Library Changes");
}

PersistentStore* LibraryManager::libraryPersistentStore() {
  auto container = this->container();
  return container && container->isLoaded() ? &container->persistentStore() : nullptr;
}

void LibraryManager::loadLibrary(LoadCompletion completion) {
  auto model = libraryModel();
  registerLibraryObjectClasses();
  auto container = std::make_shared<PersistentContainer>("Quillet", model, libraryFilePath());
  container->persistentStoreDescription().options.historyTracking = true;
  container->persistentStoreDescription().remoteChangeNotifications = true;
  {
    std::lock_guard lock(mutex_);
    container_ = container;
  }
  std::string package = libraryFilePath();
  if (!fileExists(package)) {
    Error error;
    if (!createDirectory(package, true, &error)) {
      log("Error creating library file: %@", error.description());
      if (completion) completion(nullptr, &error);
      return;
    }
  }
  if (int64_t free = availableCapacity(package); free >= 0) log("Free Space: %@", formatByteCount(free));

  std::optional<Error> storeError;
  container->loadPersistentStores([&](const PersistentStoreDescription&, const Error* error) {
    if (error) storeError = *error;
  });
  if (container->isLoaded()) container->viewContext().setMergePolicy(MergePolicy::StoreTrumpsByProperty);
  if (storeError) {
    log("Error opening library: %@", storeError->description());
    if (completion) completion(nullptr, &*storeError);
    return;
  }
  ManagedObjectContext& view = container->viewContext();
  Error checkError;
  bool checked = false;
  view.performAndWait([&] { checked = checkLibrary(&checkError) && saveLibrary(&checkError); });
  if (!checked) {
    log("Error checking library: %@", checkError.description());
    if (completion) completion(nullptr, &checkError);
    return;
  }
  if (completion) completion(library(), nullptr);

  willSaveToken_ = NotificationCenter::defaultCenter().addObserver(
      kContextWillSaveNotification, &view, [this](const Notification& note) { stampChangedObjects(note); });
  remoteChangeToken_ = NotificationCenter::defaultCenter().addObserver(
      kStoreRemoteChangeNotification, container.get(), [weak = weak_from_this()](const Notification&) {
        OperationQueue::mainQueue().addOperationWithBlock([weak] {
          if (auto manager = weak.lock()) manager->updatePersistentStoreHistory();
        });
      });
  didLoadLibrary();
  NotificationCenter::defaultCenter().post(kLibraryManagerDidLoadLibraryNotification, this);
}

bool LibraryManager::checkLibrary(Error* error) {
  auto container = this->container();
  if (!container || !container->isLoaded()) return false;
  ManagedObjectContext& view = container->viewContext();
  auto libraries = view.fetch(FetchRequest("Library"), error);
  if (!libraries) return false;
  if (libraries->size() == 1) {
    {
      std::lock_guard lock(mutex_);
      library_ = std::dynamic_pointer_cast<Library>(libraries->front());
    }
    bool located = checkFilesLocation(error);
    if (!located) {
      std::lock_guard lock(mutex_);
      library_ = nullptr;
    }
    return located;
  }
  auto library = std::dynamic_pointer_cast<Library>(view.insertNewObject("Library", error));
  if (!library) return false;
  {
    std::lock_guard lock(mutex_);
    library_ = library;
  }
  if (!modelDelegate_) return true;
  for (const char* key : {"rootFolder", "trashFolder", "sharedFolder"}) {
    ManagedObjectPtr folder = library->objectForKey(key);
    if (!folder || modelDelegate_->folderExists(folder)) continue;
    if (!modelDelegate_->createFolder(folder, error)) return false;
  }
  return true;
}

bool LibraryManager::checkFilesLocation(Error* error) {
  auto library = this->library();
  ManagedObjectPtr root = library ? library->objectForKey("rootFolder") : nullptr;
  Value data = root ? root->valueForKey("customFolderURLData") : Value();
  if (!data.data()) return true;
  std::string path(data.data()->begin(), data.data()->end());
  if (!path.empty() && fileExists(path) && !isPathInTrash(path)) {
    log("Using custom files location: %@", path);
    if (int64_t free = availableCapacity(path); free >= 0)
      log("Free Space for Custom Location: %@", formatByteCount(free));
    return true;
  }
  setError(error, Error(kLibraryManagerErrorDomain, kLibraryManagerCustomFilesLocationErrorCode,
                        localizedString("Custom files location cannot be found.")));
  return false;
}

bool LibraryManager::saveLibrary(Error* error) {
  std::shared_ptr<Timer> timer;
  {
    std::lock_guard lock(mutex_);
    timer = std::move(saveTimer_);
  }
  if (timer) timer->invalidate();
  auto container = this->container();
  if (!container || !container->isLoaded()) return true;
  ManagedObjectContext& view = container->viewContext();
  try {
    if (!view.hasChanges()) return true;
    return view.save(error);
  } catch (const std::exception& exception) {
    log("Caught exception when saving library: %@", exception.what());
    setError(error, Error(kLibraryManagerErrorDomain, kLibraryManagerExceptionErrorCode, exception.what()));
    return false;
  }
}

std::shared_ptr<ManagedObjectContext> LibraryManager::newBackgroundContext() {
  auto container = this->container();
  if (!library() || !container) return nullptr;
  auto context = container->newBackgroundContext();
  context->setMergePolicy(MergePolicy::ObjectTrumpsByProperty);
  context->setName(kBackgroundContextName);
  return context;
}

Date LibraryManager::lastDateForPersistentHistory() {
  auto container = this->container();
  if (!container || !container->isLoaded()) return Date::distantPast();
  PropertyListDictionary metadata = container->metadata();
  const PropertyList* dates = metadata.count(kLibraryDatesForPersistentStoreHistoryKey)
                                  ? &metadata.at(kLibraryDatesForPersistentStoreHistoryKey)
                                  : nullptr;
  const PropertyList* date = dates ? dates->find(mainBundleIdentifier()) : nullptr;
  return date && date->date() ? *date->date() : Date::distantPast();
}

void LibraryManager::setLastDateForPersistentHistory(Date date) {
  auto container = this->container();
  if (!container || !container->isLoaded()) return;
  PropertyListDictionary metadata = container->metadata();
  PropertyList& dates = metadata[kLibraryDatesForPersistentStoreHistoryKey];
  if (!dates.dictionary()) dates = PropertyListDictionary{};
  (*dates.dictionary())[mainBundleIdentifier()] = date;
  Error error;
  if (!container->setMetadata(metadata, &error)) log("Cannot store the history date: %@", error.description());
}

void LibraryManager::updatePersistentStoreHistory() {
  if (!library()) return;
  auto container = this->container();
  ManagedObjectContext& view = container->viewContext();
  view.performAndWait([&] {
    auto history = container->fetchHistoryAfterDate(lastDateForPersistentHistory());
    if (!history) return;
    processingPersistentHistory_ = true;
    std::vector<ManagedObjectPtr> folders;
    std::set<ObjectID> seen;
    const EntityDescription* folderEntity = container->managedObjectModel()->entity("Folder");
    std::string me = mainBundleIdentifier();
    int processed = 0;
    for (const HistoryTransaction& transaction : *history) {
      if (transaction.author == me && transaction.contextName != kBackgroundContextName) continue;
      ++processed;
      if (transaction.author != me) view.setStalenessInterval(0);
      view.mergeChanges(transaction.objectIDNotification());
      for (const HistoryChange& change : transaction.changes) {
        if (change.type == HistoryChangeType::Delete) continue;
        ManagedObjectPtr object = view.existingObjectWithID(change.objectID);
        if (object && folderEntity && object->entity().isKindOfEntity(*folderEntity) &&
            seen.insert(change.objectID).second)
          folders.push_back(object);
      }
    }
    setLastDateForPersistentHistory(Date::now());
    if (modelDelegate_) {
      for (const ManagedObjectPtr& folder : folders) modelDelegate_->updateOrderedChildren(folder);
      modelDelegate_->consolidateDuplicateTagNames(view);
    }
    processingPersistentHistory_ = false;
    Error saveError;
    if (view.hasChanges() && !view.save(&saveError)) log("Cannot save merged history: %@", saveError);
    if (processed > 0) NotificationCenter::defaultCenter().post(kLibraryManagerDidUpdatePersistentHistoryNotification, this);
  });
}

void LibraryManager::stampChangedObjects(const Notification& notification) {
  auto* context = const_cast<ManagedObjectContext*>(static_cast<const ManagedObjectContext*>(notification.object));
  std::vector<ManagedObjectPtr> objects;
  if (auto changes = notification.userInfoValue<ContextChanges>(kContextChangesKey)) {
    objects.insert(objects.end(), changes->insertedObjects.begin(), changes->insertedObjects.end());
    objects.insert(objects.end(), changes->updatedObjects.begin(), changes->updatedObjects.end());
  }
  for (auto& object : context->insertedObjects()) objects.push_back(object);
  for (auto& object : context->updatedObjects()) objects.push_back(object);
  Date now = Date::now();
  for (const ManagedObjectPtr& object : objects)
    if (auto libraryObject = std::dynamic_pointer_cast<LibraryObject>(object)) libraryObject->setDateRecordChanged(now);
}

void LibraryManager::closeLibrary() {}

FileProviderLibraryManager::FileProviderLibraryManager(FileProviderDomain domain,
                                                       std::shared_ptr<LibraryModelDelegate> model)
    : LibraryManager(std::move(model)) {
  setFileProviderDomain(std::move(domain));
}

std::string FileProviderLibraryManager::libraryFolderPath() {
  // Kept once computed: a process serves one domain. (Keyed by container
  // so that a process that switches containers, such as a test, does not
  // reuse another container's folder.)
  static auto& mutex = *new std::mutex;
  static auto& paths = *new std::map<std::string, std::string>;
  std::string container = groupContainerPath();
  std::lock_guard lock(mutex);
  std::string& path = paths[container];
  if (path.empty()) {
    auto domain = fileProviderDomain();
    bool isDefault = domain && domain->identifier == "Default";
    path = appendingPathComponent(container, isDefault ? "Quillet" : "Quillet 2.4 Development");
  }
  return path;
}

}  // namespace qlt
