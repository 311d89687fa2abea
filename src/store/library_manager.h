#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/cloud/cloud_record.h"
#include "platform/foundation/error.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/dispatch/notification_center.h"
#include "platform/foundation/observer_list.h"
#include "platform/dispatch/timer.h"
#include "platform/objectstore/persistent_container.h"
#include "store/library_model_delegate.h"

namespace qlt {

class Library;

inline constexpr const char* kLibraryManagerErrorDomain = "QLTLibraryManagerErrorDomain";
inline constexpr long kLibraryManagerExceptionErrorCode = 10001;
inline constexpr long kLibraryManagerCustomFilesLocationErrorCode = 30001;
inline constexpr const char* kLibraryManagerDidLoadLibraryNotification = "QLTLibraryManagerDidLoadLibraryNotification";
inline constexpr const char* kLibraryManagerDidUpdatePersistentHistoryNotification =
    "QLTLibraryManagerDidUpdatePersistentHistoryNotification";
inline constexpr const char* kLibraryFolderName = "Quillet";
inline constexpr const char* kLibraryFilename = "Quillet Library.qltlib";
inline constexpr const char* kBackgroundContextName = "QLTBackgroundContext";
inline constexpr const char* kLibraryDatesForPersistentStoreHistoryKey = "QLTLibraryDatesForPersistentStoreHistoryKey";
// The application-group suite shared with the host application; also names
// the group container.
inline constexpr const char* kSharedDefaultsSuite = "group.com.quillet";

// Owns the library database: where it lives, loading and checking it,
// saving the view context, background contexts, and merging what other
// processes wrote, from persistent history. One per process
// (sharedManager()).
class LibraryManager : public std::enable_shared_from_this<LibraryManager> {
 public:
  using LoadCompletion = std::function<void(std::shared_ptr<Library> library, const Error* error)>;

  // The process-wide manager; a plain LibraryManager is made on first use
  // when none was set.
  static std::shared_ptr<LibraryManager> sharedManager();
  static void setSharedManager(std::shared_ptr<LibraryManager> manager);
  // The zone of every library record: "Quillet" of the current user.
  static RecordZoneID libraryZoneID();
  // Registers the standard defaults of the library (values already set win).
  static void registerDefaults();

  // `model` is the folder and tag model's side of loading and merging; null
  // leaves folder directories and tag names alone.
  explicit LibraryManager(std::shared_ptr<LibraryModelDelegate> model = nullptr);
  virtual ~LibraryManager();
  LibraryManager(const LibraryManager&) = delete;
  LibraryManager& operator=(const LibraryManager&) = delete;

  bool isProcessingPersistentHistory() const { return processingPersistentHistory_.load(); }
  // The library in the view context; null until loading succeeded.
  std::shared_ptr<Library> library() const;
  // Null until loadLibrary() created it.
  std::shared_ptr<PersistentContainer> container() const;
  std::shared_ptr<const ManagedObjectModel> libraryModel();
  [[nodiscard]] std::optional<FileProviderDomain> fileProviderDomain() const;
  void setFileProviderDomain(FileProviderDomain domain);

  // Opens (or first creates) the library; `completion` runs on the calling
  // thread before the will-save and remote-change observers are registered
  // and the did-load notification posted. REQUIRES: not called on the main
  // thread (the view context's work is dispatched to it and waited for).
  void loadLibrary(LoadCompletion completion);
  // REQUIRES: inside the view context's queue, as are saveLibrary() and
  // checkFilesLocation().
  [[nodiscard]] bool checkLibrary(Error* error = nullptr);
  [[nodiscard]] bool checkFilesLocation(Error* error = nullptr);
  [[nodiscard]] bool saveLibrary(Error* error = nullptr);
  // A private-queue context named "QLTBackgroundContext" whose merge policy
  // is object-trumps; null without a library.
  std::shared_ptr<ManagedObjectContext> newBackgroundContext();
  PersistentStore* libraryPersistentStore();

  Date lastDateForPersistentHistory();
  void setLastDateForPersistentHistory(Date date);
  // Merges what others wrote since this process's date into the view
  // context; returns once done. Safe from any thread but the view context's
  // own blocks.
  void updatePersistentStoreHistory();
  void closeLibrary();

  // Where things live.
  virtual std::string libraryFolderPath();
  std::string libraryFilePath();
  std::string libraryPersistentStorePath();
  std::string libraryImportsFolderPath();
  std::string currentImportFolderPath();
  std::string libraryStationeryFolderPath();
  std::string libraryEncryptedItemsFolderPath();
  std::string libraryChangesFolderPath();
  std::string libraryChangesStorePath();
  // The group container; QLT_GROUP_CONTAINER overrides it.
  std::string groupContainerPath() const;

 protected:
  virtual void didLoadLibrary() {}

 private:
  void stampChangedObjects(const Notification& notification);

  mutable std::mutex mutex_;
  std::atomic<bool> processingPersistentHistory_{false};
  std::shared_ptr<Library> library_;
  std::shared_ptr<PersistentContainer> container_;
  std::shared_ptr<const ManagedObjectModel> model_;
  std::shared_ptr<LibraryModelDelegate> modelDelegate_;
  std::optional<FileProviderDomain> domain_;
  std::string importIdentifier_;
  std::shared_ptr<Timer> saveTimer_;
  ObserverToken willSaveToken_{};
  ObserverToken remoteChangeToken_{};
};

// The manager of the extension: its library folder depends on the domain.
class FileProviderLibraryManager : public LibraryManager {
 public:
  FileProviderLibraryManager(FileProviderDomain domain, std::shared_ptr<LibraryModelDelegate> model);
  // The group container + "Quillet" for the domain "Default", else
  // + "Quillet 2.4 Development"; computed once per process.
  std::string libraryFolderPath() override;
};

}  // namespace qlt
