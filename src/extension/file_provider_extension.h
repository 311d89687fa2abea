#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "extension/file_providing.h"
#include "platform/foundation/error.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/fileprovider/file_provider_item.h"
#include "platform/dispatch/progress.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/timer.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class FileProviderEnumerator;
class FileProviderServiceSource;
class FileProviderLibraryManager;
class Library;
class LibraryDirectoryWatcher;
class LibraryChangesPersistentContainer;
class ManagedObjectContext;

inline constexpr const char* kFileProviderImportDidEndNotification = "QLTFileProviderImportDidEndNotification";
inline constexpr const char* kFileProviderMaterializedItemsDidChangeNotification =
    "QLTFileProviderMaterializedItemsDidChangeNotification";
// The materialized-items notices of this long a burst become one
// notification.
inline constexpr double kMaterializedItemsNotificationDelay = 2.0;
inline constexpr int kMaterializationMaxConcurrentOperationCount = 5;

// The extension for one file-provider domain: every request of the service
// enters here. It installs the domain's library manager as the process's
// shared manager, logs to a file of its own, loads the library (and opens
// the changes database) on another thread, and answers requests from any
// thread.
//
// Hand it out as a std::shared_ptr: service connections refer to it weakly.
class FileProviderExtension : public FileProviding, public std::enable_shared_from_this<FileProviderExtension> {
 public:
  using Completion = std::function<void()>;
  using LoadCompletion = std::function<void(const Error* error)>;

  // Returns at once; the library loads on another thread. Standard error is
  // redirected to a new log file in the group container.
  // `materializedItemsNotificationDelay` is the coalescing window of the
  // materialized-items notice, in seconds.
  explicit FileProviderExtension(FileProviderDomain domain,
                                 double materializedItemsNotificationDelay = kMaterializedItemsNotificationDelay);
  // Waits for the loading thread and stops a pending materialized-items
  // notice; queued operations finish first.
  ~FileProviderExtension() override;
  FileProviderExtension(const FileProviderExtension&) = delete;
  FileProviderExtension& operator=(const FileProviderExtension&) = delete;

  const FileProviderDomain& domain() const { return domain_; }
  // Null until the library loaded; use it only inside its context (the
  // library manager's view context, on the main queue).
  std::shared_ptr<Library> library() const;
  std::shared_ptr<LibraryChangesPersistentContainer> libraryChangesContainer() const;
  // The view context of the changes database; null until it is open.
  std::shared_ptr<ManagedObjectContext> changesManagerContext() const;
  OperationQueue& operationQueue() { return operationQueue_; }
  OperationQueue& materalizationOperationQueue() { return materalizationOperationQueue_; }
  // Standard error as reopened on the log file; null when none is open.
  std::FILE* logFile() const;

  // Loads the library with the shared manager and then opens the changes
  // database; `completion` (optional) gets the error, if any. Runs on the
  // calling thread. REQUIRES: not on the main thread.
  void loadLibrary(LoadCompletion completion = nullptr);
  // Waits until the loading started by the constructor is over. True when a
  // library is there; otherwise `error` tells why (the load error, or a
  // time-out).
  [[nodiscard]] bool waitUntilLoaded(std::chrono::milliseconds timeout, Error* error = nullptr) const;

  // An enumerator for a container: the working set, or a folder resolved
  // with folderForContainerItemIdentifier(). Null with the lookup's error
  // when the folder cannot be found.
  std::shared_ptr<FileProviderEnumerator> enumeratorForContainerItemIdentifier(const std::string& identifier,
                                                                                Error* error = nullptr);
  // The folder for a container identifier as an object of `context` (root,
  // trash, or a folder's file-provider identifier); null with the fetch error
  // or the no-such-item error.
  ManagedObjectPtr folderForContainerItemIdentifier(const std::string& identifier, ManagedObjectContext& context,
                                                    Error* error = nullptr);

  // Requests answered by an operation on operationQueue(); the returned
  // progress can cancel it, and `completion` runs once, on another thread.
  using ItemCompletion = std::function<void(FileProviderItemPtr item, const Error* error)>;
  using ContentsCompletion =
      std::function<void(const std::optional<std::string>& contents, FileProviderItemPtr item, const Error* error)>;
  std::shared_ptr<Progress> itemForIdentifier(const std::string& identifier, ItemCompletion completion);
  std::shared_ptr<Progress> fetchContentsForItemWithIdentifier(const std::string& identifier,
                                                               ContentsCompletion completion);
  // Creates a folder or an item from `itemTemplate` (the fields named in
  // `fields` carry values; `contents` is where a new file's contents were
  // staged). `completion` gets the new (or, with
  // kFileProviderCreateItemMayAlreadyExist, the existing) item, the fields
  // still pending (none) and whether the service should fetch the contents
  // (never); or the error.
  using CreateCompletion = std::function<void(FileProviderItemPtr item, uint64_t pendingFields,
                                              bool shouldFetchContent, const Error* error)>;
  std::shared_ptr<Progress> createItemBasedOnTemplate(FileProviderItemPtr itemTemplate, uint64_t fields,
                                                      const std::optional<std::string>& contents, uint64_t options,
                                                      CreateCompletion completion);
  // Changes an item or a folder: `item` holds the new values of the fields
  // named in `changedFields`, `contents` where new contents were staged; the
  // base version is not consulted. `completion` gets the item as it now is,
  // or the error with every requested field still pending.
  using ModifyCompletion = CreateCompletion;
  std::shared_ptr<Progress> modifyItem(FileProviderItemPtr item, const std::optional<FileProviderItemVersion>& baseVersion,
                                       uint64_t changedFields, const std::optional<std::string>& contents,
                                       uint64_t options, ModifyCompletion completion);
  // Deletes an item, or a folder (one with contents only with
  // kFileProviderDeleteItemRecursive in `options`); the base version is not
  // consulted. `completion` gets null on success.
  using DeleteCompletion = std::function<void(const Error* error)>;
  std::shared_ptr<Progress> deleteItemWithIdentifier(const std::string& identifier,
                                                     const std::optional<FileProviderItemVersion>& baseVersion,
                                                     uint64_t options, DeleteCompletion completion);

  // The service sources of an item of the library: one that connects the
  // host application to this extension. Not called when the returned
  // progress is cancelled first.
  using ServiceSourcesCompletion =
      std::function<void(const std::vector<std::shared_ptr<FileProviderServiceSource>>& sources, const Error* error)>;
  std::shared_ptr<Progress> supportedServiceSourcesForItemIdentifier(const std::string& identifier,
                                                                     ServiceSourcesCompletion completion);
  // The host application's requests, served on its connections.
  void materializeURL(const std::string& url, Reply reply) override;
  void reimportItemsBelowItemWithIdentifier(const std::string& identifier, Reply reply) override;

  // The service finished importing the domain: marks the library and tells
  // the host application; `completion` runs afterwards, on another thread.
  void importDidFinish(Completion completion);
  // Items with local contents changed: the host application hears of it
  // once per burst, the notification delay after its first
  // notice. `completion` runs at once on the operation queue.
  void materializedItemsDidChange(Completion completion);

  // Keeps items in step with files that other programs change in the
  // library's directories, until invalidate(). Long-running services call
  // it once the library loaded; false with the error when the directories
  // cannot be watched.
  [[nodiscard]] bool startWatchingLibraryDirectories(Error* error = nullptr);

  // The service is done with the extension: stops watching the library's
  // directories and a pending materialized-items notice, and closes the log
  // file.
  void invalidate();

 private:
  void postMaterializedItemsDidChangeNotification();
  void stopMaterializeItemsTimer();

  std::shared_ptr<FileProviderLibraryManager> libraryManager_;
  const FileProviderDomain domain_;
  std::FILE* logFile_ = nullptr;
  OperationQueue operationQueue_;
  OperationQueue materalizationOperationQueue_;

  mutable std::mutex mutex_;
  mutable std::condition_variable loadedCondition_;
  std::shared_ptr<Library> library_;
  std::shared_ptr<LibraryChangesPersistentContainer> libraryChangesContainer_;
  std::shared_ptr<Timer> materializeItemsTimer_;
  const double materializedItemsNotificationDelay_;
  bool loadingFinished_ = false;
  std::optional<Error> loadError_;
  std::thread loader_;
  std::unique_ptr<LibraryDirectoryWatcher> directoryWatcher_;
};

}  // namespace qlt
