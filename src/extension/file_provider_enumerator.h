#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "extension/enumeration_tokens.h"
#include "platform/fileprovider/file_provider_enumeration.h"
#include "platform/foundation/property_list.h"
#include "platform/objectstore/fetch_request.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class Library;
class ManagedObjectContext;

inline constexpr const char* kFileProviderEnumeratorErrorDomain = "QLTFileProviderEnumeratorErrorDomain";
inline constexpr long kFileProviderEnumeratorErrorCode = 10001;


// Lists one container of the file-provider service and reports its changes.
// An enumerator reads the library only in a background context of its own;
// the changes context is the extension's. Subclasses say what the container
// holds through the two fetch requests.
class FileProviderEnumerator {
 public:
  // `library` is the library of the extension's main context (null before
  // the library loaded: the enumerator then has no private context).
  FileProviderEnumerator(std::shared_ptr<Library> library,
                         std::shared_ptr<ManagedObjectContext> changesManagerContext);
  virtual ~FileProviderEnumerator();
  FileProviderEnumerator(const FileProviderEnumerator&) = delete;
  FileProviderEnumerator& operator=(const FileProviderEnumerator&) = delete;

  std::shared_ptr<Library> library() const;
  std::shared_ptr<ManagedObjectContext> privateContext() const;
  // The library as seen from privateContext(); use it only inside that
  // context.
  std::shared_ptr<Library> privateLibrary() const;
  const std::shared_ptr<ManagedObjectContext>& changesManagerContext() const { return changesManagerContext_; }

  // A new request on every call.
  virtual FetchRequest foldersFetchRequest() const = 0;
  virtual FetchRequest itemsFetchRequest() const = 0;
  virtual std::string fileProviderItemIdentifier() const = 0;

  // Totals of the two queries in privateContext(), counted on first use
  // (a failed count is 0).
  uint64_t numberOfFoldersToReturn();
  uint64_t numberOfItemsToReturn();

  // One page of the listing: folders by name first, then items by filename
  // (or by modification date after the sorted-by-date marker). The offsets
  // the page reached stay in this object for the next call.
  void enumerateItemsForObserver(FileProviderEnumerationObserver& observer, const std::optional<Bytes>& page);
  // One batch of folders and items changed after the anchor's date, oldest
  // first; once everything is reported, the deletions recorded since then.
  void enumerateChangesForObserver(FileProviderChangeObserver& observer, const std::optional<Bytes>& syncAnchor);
  // The anchor of the library's present state: the latest change date of
  // any item or folder; nullopt for an empty library.
  void currentSyncAnchorWithCompletionHandler(const std::function<void(std::optional<Bytes>)>& completion);
  [[nodiscard]] std::optional<Bytes> currentSyncAnchor();
  // Identifiers of items deleted after `date` (all without one), taken out
  // of the changes database so that each is reported once.
  [[nodiscard]] std::optional<std::vector<std::string>> deletedItemIdentifiersSinceSyncAnchorDate(const std::optional<Date>& date,
                                                                                    Error* error = nullptr);

  // Drops the library, the private library and the private context.
  virtual void invalidate();

 protected:
  mutable std::mutex mutex_;
  bool countedFolders_ = false;
  bool countedItems_ = false;
  std::optional<Bytes> initialPage_;
  uint64_t foldersReturned_ = 0;
  uint64_t itemsReturned_ = 0;
  uint64_t numberOfFoldersToReturn_ = 0;
  uint64_t numberOfItemsToReturn_ = 0;
  // The starting anchor of the change enumeration under way (the outer
  // optional is unset before the first call) and the latest date its
  // batches reported.
  std::optional<std::optional<Bytes>> changesStartAnchor_;
  std::optional<Date> latestChangeDateReported_;

 private:
  uint64_t countInPrivateContext(const FetchRequest& request);

  std::shared_ptr<Library> library_;
  // Declared before the private library, which belongs to it.
  std::shared_ptr<ManagedObjectContext> privateContext_;
  std::shared_ptr<Library> privateLibrary_;
  std::shared_ptr<ManagedObjectContext> changesManagerContext_;
};

// One folder: its sub-folders and its items.
class FolderFileProviderEnumerator : public FileProviderEnumerator {
 public:
  using FileProviderEnumerator::FileProviderEnumerator;

  // The folder as found in the extension's main context.
  ManagedObjectPtr folder() const;
  void setFolder(ManagedObjectPtr folder);

  FetchRequest foldersFetchRequest() const override;
  FetchRequest itemsFetchRequest() const override;
  std::string fileProviderItemIdentifier() const override;
  void invalidate() override;

 private:
  ManagedObjectPtr folder_;
  std::string folderIdentifier_;
  // The trash folder or any folder below it.
  bool folderInTrash_ = false;
};

// Everything the service tracks: every folder but the root, every filed
// item.
class WorkingSetFileProviderEnumerator : public FileProviderEnumerator {
 public:
  using FileProviderEnumerator::FileProviderEnumerator;

  FetchRequest foldersFetchRequest() const override;
  FetchRequest itemsFetchRequest() const override;
  std::string fileProviderItemIdentifier() const override;
};

}  // namespace qlt
