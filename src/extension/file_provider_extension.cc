#include "extension/file_provider_extension.h"

#include "model/file_move_journal.h"

#include "changes/library_changes_model.h"
#include "cloud/cloud_defaults.h"
#include "extension/file_provider_enumerator.h"
#include "extension/log_file.h"
#include "model/library_directory_watcher.h"
#include "model/model_classes.h"
#include "platform/foundation/bundle.h"
#include "platform/cloud/cloud_container.h"
#include "platform/ipc/distributed_notification_center.h"
#include "platform/files/group_container.h"
#include "platform/foundation/log.h"
#include "platform/dispatch/main_queue.h"
#include "platform/dispatch/run_loop.h"
#include "platform/defaults/user_defaults.h"
#include "store/library.h"
#include "store/library_changes_container.h"
#include "store/library_manager.h"
#include "store/library_object.h"
#include "store/library_model_constants.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

void postDistributedNotification(const char* name) {
  Error error;
  if (!DistributedNotificationCenter::shared()->postNotification(name, mainBundleIdentifier(), {}, true, &error))
    log("Cannot post %@: %@", name, error.description());
}

}  // namespace

FileProviderExtension::FileProviderExtension(FileProviderDomain domain, double materializedItemsNotificationDelay)
    : libraryManager_(std::make_shared<FileProviderLibraryManager>(domain, libraryModelDelegate())),
      domain_(std::move(domain)),
      materializedItemsNotificationDelay_(materializedItemsNotificationDelay) {
  LibraryManager::setSharedManager(libraryManager_);
  if (auto container = groupContainerPath(kSharedDefaultsSuite))
    logFile_ = redirectStandardErrorToNewLogFile(*container);
  materalizationOperationQueue_.setMaxConcurrentOperationCount(kMaterializationMaxConcurrentOperationCount);
  UserDefaults::standard().addSuiteNamed(kSharedDefaultsSuite);
  setCloudStoreDefaultsSuite(kSharedDefaultsSuite);
  registerLibraryModelClasses();  // before any store of the library opens
  registerCloudClasses();
  loader_ = std::thread([this] {
    std::optional<Error> failure;
    loadLibrary([&](const Error* error) {
      if (error) failure = *error;
    });
    std::lock_guard lock(mutex_);
    loadingFinished_ = true;
    loadError_ = failure;
    loadedCondition_.notify_all();
  });
}

FileProviderExtension::~FileProviderExtension() {
  if (loader_.joinable()) loader_.join();
  directoryWatcher_.reset();
  stopMaterializeItemsTimer();
  operationQueue_.waitUntilAllOperationsAreFinished();
  materalizationOperationQueue_.waitUntilAllOperationsAreFinished();
  closeLogFile(logFile_);
}

std::shared_ptr<Library> FileProviderExtension::library() const {
  std::lock_guard lock(mutex_);
  return library_;
}

std::shared_ptr<LibraryChangesPersistentContainer> FileProviderExtension::libraryChangesContainer() const {
  std::lock_guard lock(mutex_);
  return libraryChangesContainer_;
}

std::shared_ptr<ManagedObjectContext> FileProviderExtension::changesManagerContext() const {
  auto container = libraryChangesContainer();
  if (!container || !container->isLoaded()) return nullptr;
  // Shares ownership of the container, which owns the context.
  return std::shared_ptr<ManagedObjectContext>(container, &container->viewContext());
}

std::FILE* FileProviderExtension::logFile() const {
  std::lock_guard lock(mutex_);
  return logFile_;
}

void FileProviderExtension::loadLibrary(LoadCompletion completion) {
  std::shared_ptr<LibraryManager> manager = LibraryManager::sharedManager();
  auto domain = manager->fileProviderDomain();
  log("Loading library for domain “%@”", domain ? domain->identifier : std::string());
  manager->loadLibrary([&](std::shared_ptr<Library> library, const Error* error) {
    if (!library) {
      Error failure = error ? *error : Error(kLibraryManagerErrorDomain, kLibraryManagerExceptionErrorCode);
      log("Cannot load library: %@", failure.description());
      if (completion) completion(&failure);
      return;
    }
    log("Loaded library");
    // Moves of files that a process killed before its save left behind.
    if (ManagedObjectContext* view = library->managedObjectContext())
      view->performAndWait([&] { (void)FileMoveJournal::recover(*view); });
    auto changesContainer =
        std::make_shared<LibraryChangesPersistentContainer>(kLibraryChangesModelName, libraryChangesModel());
    {
      std::lock_guard lock(mutex_);
      library_ = library;
      libraryChangesContainer_ = changesContainer;
    }
    std::optional<Error> storeError;
    changesContainer->loadPersistentStores([&](const PersistentStoreDescription&, const Error* loadError) {
      if (loadError) storeError = *loadError;
    });
    if (storeError) log("Couldn't load library changes database: %@", storeError->description());
    if (completion) completion(storeError ? &*storeError : nullptr);
  });
}

bool FileProviderExtension::waitUntilLoaded(std::chrono::milliseconds timeout, Error* error) const {
  std::unique_lock lock(mutex_);
  if (!loadedCondition_.wait_for(lock, timeout, [this] { return loadingFinished_; })) {
    setError(error,
             Error(kLibraryManagerErrorDomain, kLibraryManagerExceptionErrorCode, "The library did not load in time."));
    return false;
  }
  if (library_) return true;
  setError(error, loadError_.value_or(Error(kLibraryManagerErrorDomain, kLibraryManagerExceptionErrorCode)));
  return false;
}

std::shared_ptr<FileProviderEnumerator> FileProviderExtension::enumeratorForContainerItemIdentifier(
    const std::string& identifier, Error* error) {
  LibraryManager::sharedManager()->updatePersistentStoreHistory();
  log("Returning enumerator for %@", identifier);
  if (identifier == kWorkingSetContainerItemIdentifier)
    return std::make_shared<WorkingSetFileProviderEnumerator>(library(), changesManagerContext());

  std::shared_ptr<Library> library = this->library();
  std::shared_ptr<PersistentContainer> container = LibraryManager::sharedManager()->container();
  Error lookupError = fileProviderErrorForNonExistentItem(identifier);
  ManagedObjectPtr folder;
  if (library && container && container->isLoaded())
    folder = folderForContainerItemIdentifier(identifier, container->viewContext(), &lookupError);
  if (!folder) {
    log("Cannot find container folder with identifier %@", identifier);
    setError(error, lookupError);
    return nullptr;
  }
  auto enumerator = std::make_shared<FolderFileProviderEnumerator>(library, changesManagerContext());
  enumerator->setFolder(std::move(folder));
  return enumerator;
}

ManagedObjectPtr FileProviderExtension::folderForContainerItemIdentifier(const std::string& identifier,
                                                                         ManagedObjectContext& context, Error* error) {
  const char* systemFolderKey = identifier == kRootContainerItemIdentifier    ? "rootFolder"
                                : identifier == kTrashContainerItemIdentifier ? "trashFolder"
                                                                              : nullptr;
  std::optional<ObjectID> systemFolderID;
  if (systemFolderKey) {
    std::shared_ptr<Library> library = this->library();
    ManagedObjectContext* libraryContext = library ? library->managedObjectContext() : nullptr;
    if (libraryContext) {
      libraryContext->performAndWait([&] {
        if (ManagedObjectPtr folder = library->objectForKey(systemFolderKey)) systemFolderID = folder->objectID();
      });
    }
  }

  ManagedObjectPtr folder;
  std::optional<Error> fetchError;
  context.performAndWait([&] {
    if (systemFolderKey) {
      if (systemFolderID) folder = context.existingObjectWithID(*systemFolderID);
      return;
    }
    std::optional<std::string> libraryIdentifier =
        LibraryObject::libraryObjectIdentifierFromFileProviderIdentifier(identifier);
    if (!libraryIdentifier) return;
    FetchRequest request(kFolderEntityName);
    request.includesSubentities = true;
    request.predicate = Predicate::withFormat("identifier == %@", {Value(*libraryIdentifier)});
    Error failure;
    auto found = context.fetch(request, &failure);
    if (!found)
      fetchError = failure;
    else if (!found->empty())
      folder = found->front();
  });
  if (folder) return folder;
  setError(error, fetchError.value_or(fileProviderErrorForNonExistentItem(identifier)));
  return nullptr;
}

void FileProviderExtension::importDidFinish(Completion completion) {
  log("importDidFinish");
  std::shared_ptr<Library> library = this->library();
  std::shared_ptr<ManagedObjectContext> context = LibraryManager::sharedManager()->newBackgroundContext();
  if (!library || !context) {
    operationQueue_.addOperationWithBlock([completion = std::move(completion)] {
      if (completion) completion();
    });
    return;
  }
  ObjectID libraryID = library->objectID();
  ManagedObjectContext* target = context.get();
  target->perform([context = std::move(context), libraryID, completion = std::move(completion)] {
    if (ManagedObjectPtr library = context->existingObjectWithID(libraryID)) {
      library->setValueForKey("fileProviderImportComplete", true);
      Error saveError;
      if (!context->save(&saveError)) log("Cannot save import state: %@", saveError);
    }
    postDistributedNotification(kFileProviderImportDidEndNotification);
    if (completion) completion();
  });
}

void FileProviderExtension::materializedItemsDidChange(Completion completion) {
  log("materializedItemsDidChange");
  std::shared_ptr<Timer> scheduled;
  {
    std::lock_guard lock(mutex_);
    if (!materializeItemsTimer_) {
      materializeItemsTimer_ = Timer::make(materializedItemsNotificationDelay_, false,
                                           [this](Timer&) { postMaterializedItemsDidChangeNotification(); });
      scheduled = materializeItemsTimer_;
    }
  }
  if (scheduled) RunLoop::main().addTimer(scheduled, RunLoopMode::Common);
  operationQueue_.addOperationWithBlock([completion = std::move(completion)] {
    if (completion) completion();
  });
}

void FileProviderExtension::postMaterializedItemsDidChangeNotification() {
  std::shared_ptr<Timer> timer;
  {
    std::lock_guard lock(mutex_);
    timer = std::move(materializeItemsTimer_);
  }
  if (timer) timer->invalidate();
  postDistributedNotification(kFileProviderMaterializedItemsDidChangeNotification);
}

void FileProviderExtension::stopMaterializeItemsTimer() {
  // On the main queue, where the timer fires, so that no firing is under way
  // once this returns.
  dispatchMainSync([this] {
    std::shared_ptr<Timer> timer;
    {
      std::lock_guard lock(mutex_);
      timer = std::move(materializeItemsTimer_);
    }
    if (timer) timer->invalidate();
  });
}

bool FileProviderExtension::startWatchingLibraryDirectories(Error* error) {
  std::unique_ptr<LibraryDirectoryWatcher> watcher = LibraryDirectoryWatcher::start(libraryManager_, error);
  if (!watcher) return false;
  std::lock_guard lock(mutex_);
  directoryWatcher_ = std::move(watcher);
  return true;
}

void FileProviderExtension::invalidate() {
  std::unique_ptr<LibraryDirectoryWatcher> watcher;
  {
    std::lock_guard lock(mutex_);
    watcher = std::move(directoryWatcher_);
  }
  watcher.reset();
  stopMaterializeItemsTimer();
  std::lock_guard lock(mutex_);
  if (logFile_) {
    closeLogFile(logFile_);
    logFile_ = nullptr;
  }
}

}  // namespace qlt
