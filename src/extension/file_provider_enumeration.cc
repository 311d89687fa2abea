// Listing and change enumeration of FileProviderEnumerator.

#include <algorithm>
#include <exception>
#include <unordered_map>

#include "changes/library_change_deleted_file_provider_item.h"
#include "extension/file_provider_enumerator.h"
#include "model/folder_answers.h"
#include "extension/library_object_file_provider_item.h"
#include "extension/enumeration_tokens.h"
#include "model/folder.h"
#include "model/item.h"
#include "platform/foundation/log.h"
#include "store/library.h"
#include "store/library_model_constants.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

PredicatePtr changedAfter(const Date& date, const PredicatePtr& own) {
  PredicatePtr changed = Predicate::withFormat("dateRecordChanged > %@", {Value(date)});
  if (!own) return changed;
  return Predicate::andPredicate({changed, own});
}

// The later of two dates; an absent date is earlier than any other.
std::optional<Date> later(const std::optional<Date>& a, const std::optional<Date>& b) {
  if (!a) return b;
  if (!b) return a;
  return a->timeIntervalSinceReferenceDate() >= b->timeIntervalSinceReferenceDate() ? a : b;
}

std::optional<Date> changeDate(const ManagedObjectPtr& object) {
  Value value = object->valueForKey("dateRecordChanged");
  if (const Date* date = value.date()) return *date;
  return std::nullopt;
}

// The objects of `ids` in that order, fetched in one request.
std::optional<std::vector<ManagedObjectPtr>> objectsInOrder(ManagedObjectContext& context, const std::string& entity,
                                                            const std::vector<ObjectID>& ids, Error* error) {
  if (ids.empty()) return std::vector<ManagedObjectPtr>();
  ValueList list(ids.begin(), ids.end());
  FetchRequest request(entity);
  request.predicate = Predicate::withFormat("self IN %@", {Value(std::move(list))});
  auto found = context.fetch(request, error);
  if (!found) return std::nullopt;
  std::unordered_map<ObjectID, size_t> position;
  for (size_t i = 0; i < ids.size(); ++i) position[ids[i]] = i;
  std::sort(found->begin(), found->end(), [&](const ManagedObjectPtr& a, const ManagedObjectPtr& b) {
    return position[a->objectID()] < position[b->objectID()];
  });
  return found;
}

}  // namespace

void FileProviderEnumerator::enumerateItemsForObserver(FileProviderEnumerationObserver& observer,
                                                       const std::optional<Bytes>& page) {
  if (page && (*page == fileProviderInitialPageSortedByDate() || *page == fileProviderInitialPageSortedByName())) {
    log("Enumerate items for observer from date or name page.");
    std::lock_guard lock(mutex_);
    initialPage_ = *page;
  } else if (page) {
    log("Enumerate items for observer from page %@", text(*page));
    if (std::optional<PageOffsets> offsets = offsetsFromPageToken(*page)) {
      std::lock_guard lock(mutex_);
      foldersReturned_ = offsets->foldersReturned;
      itemsReturned_ = offsets->itemsReturned;
    }
  } else {
    log("Enumerate items for observer from no page");
  }

  const int64_t pageSize = std::max<int64_t>(1, observer.suggestedPageSize());
  std::vector<FileProviderItemPtr> list;
  std::optional<Error> failure;
  std::shared_ptr<ManagedObjectContext> context = privateContext();
  uint64_t foldersToReturn = numberOfFoldersToReturn();
  uint64_t itemsToReturn = numberOfItemsToReturn();
  uint64_t foldersReturned, itemsReturned;
  bool byDate;
  {
    std::lock_guard lock(mutex_);
    foldersReturned = foldersReturned_;
    itemsReturned = itemsReturned_;
    byDate = initialPage_ && *initialPage_ == fileProviderInitialPageSortedByDate();
  }

  if (context) {
    context->performAndWait([&] {
      FolderAnswers answers;
      if (foldersReturned < foldersToReturn) {
        FetchRequest request = foldersFetchRequest();
        request.sortDescriptors = {SortDescriptor::localizedStandard("name")};
        request.offset = static_cast<int64_t>(foldersReturned);
        request.limit = pageSize;
        Error error;
        auto folders = context->fetch(request, &error);
        if (!folders) {
          failure = error;
          return;
        }
        if (static_cast<int64_t>(folders->size()) > pageSize) folders->resize(pageSize);
        foldersReturned += folders->size();
        for (const ManagedObjectPtr& folder : *folders)
          if (FileProviderItemPtr item = fileProviderItem(folder)) list.push_back(item);
      }
      int64_t room = pageSize - static_cast<int64_t>(list.size());
      if (room > 0 && itemsToReturn > itemsReturned) {
        FetchRequest request = itemsFetchRequest();
        request.resultType = FetchRequest::ResultType::ObjectIDs;
        request.sortDescriptors = {byDate ? SortDescriptor{"dateModified", true, SortDescriptor::Comparison::Plain}
                                          : SortDescriptor::localizedStandard("filename")};
        request.offset = static_cast<int64_t>(itemsReturned);
        request.limit = room;
        Error error;
        auto ids = context->fetchObjectIDs(request, &error);
        if (!ids) {
          failure = error;
          return;
        }
        if (static_cast<int64_t>(ids->size()) > room) ids->resize(room);
        auto items = objectsInOrder(*context, kItemEntityName, *ids, &error);
        if (!items) {
          failure = error;
          return;
        }
        itemsReturned += ids->size();
        for (const ManagedObjectPtr& item : *items)
          if (FileProviderItemPtr descriptor = fileProviderItem(item)) list.push_back(descriptor);
      }
    });
  }
  {
    std::lock_guard lock(mutex_);
    foldersReturned_ = foldersReturned;
    itemsReturned_ = itemsReturned;
  }

  try {
    if (failure) {
      observer.finishEnumeratingWithError(*failure);
      return;
    }
    if (foldersReturned >= foldersToReturn && itemsReturned >= itemsToReturn) {
      log("Did complete by enumerating %lu items for observer", list.size());
      observer.didEnumerateItems(list);
      observer.finishEnumeratingUpToPage(std::nullopt);
      return;
    }
    Bytes token = pageTokenForOffsets(foldersReturned, itemsReturned);
    log("Did enumerate %lu items for observer up to page %@", list.size(), text(token));
    observer.didEnumerateItems(list);
    observer.finishEnumeratingUpToPage(token);
  } catch (const std::exception& exception) {
    observer.finishEnumeratingWithError(
        Error(kFileProviderEnumeratorErrorDomain, kFileProviderEnumeratorErrorCode, exception.what()));
  }
}

void FileProviderEnumerator::enumerateChangesForObserver(FileProviderChangeObserver& observer,
                                                         const std::optional<Bytes>& syncAnchor) {
  std::optional<Date> anchorDate;
  if (!syncAnchor) {
    log("Enumerate items for observer from no sync anchor");
  } else if ((anchorDate = dateFromSyncAnchor(*syncAnchor))) {
    log("Enumerate items for observer from sync anchor %@", anchorDate->timeIntervalSinceReferenceDate());
  }

  const int64_t batchSize = std::max<int64_t>(1, observer.suggestedBatchSize());
  std::vector<FileProviderItemPtr> list;
  std::optional<Error> failure;
  // Calls from the same starting anchor continue one enumeration: its
  // answer is the latest date reported by any of its batches, so a batch
  // that finds nothing new, or only older items after newer folders, does
  // not hand back an earlier anchor.
  std::optional<Date> latestDate = anchorDate;
  {
    std::lock_guard lock(mutex_);
    if (changesStartAnchor_ && *changesStartAnchor_ == syncAnchor)
      latestDate = later(latestDate, latestChangeDateReported_);
    changesStartAnchor_ = syncAnchor;
  }
  std::shared_ptr<ManagedObjectContext> context = privateContext();
  std::shared_ptr<Library> library = privateLibrary();
  // Without an anchor the totals are those of a plain listing, counted once.
  uint64_t plainFolderTotal = 0, plainItemTotal = 0;
  if (context && !anchorDate) {
    plainFolderTotal = numberOfFoldersToReturn();
    plainItemTotal = numberOfItemsToReturn();
  }

  if (context) {
    context->performAndWait([&] {
      FolderAnswers answers;
      FetchRequest folders = foldersFetchRequest();
      uint64_t foldersToReturn;
      if (anchorDate) {
        folders.predicate = changedAfter(*anchorDate, folders.predicate);
        foldersToReturn = static_cast<uint64_t>(std::max<int64_t>(0, context->count(folders).value_or(0)));
        std::lock_guard lock(mutex_);
        numberOfFoldersToReturn_ = foldersToReturn;
        countedFolders_ = true;
      } else {
        foldersToReturn = plainFolderTotal;
      }
      uint64_t foldersReturned;
      {
        std::lock_guard lock(mutex_);
        foldersReturned = foldersReturned_;
      }
      if (foldersReturned < foldersToReturn) {
        folders.sortDescriptors = {SortDescriptor{"dateRecordChanged", true, SortDescriptor::Comparison::Plain}};
        folders.offset = static_cast<int64_t>(foldersReturned);
        folders.limit = batchSize;
        Error error;
        auto found = context->fetch(folders, &error);
        if (!found) {
          failure = error;
          return;
        }
        {
          std::lock_guard lock(mutex_);
          foldersReturned_ += found->size();
        }
        for (const ManagedObjectPtr& folder : *found)
          if (FileProviderItemPtr item = fileProviderItem(folder)) list.push_back(item);
        if (!found->empty()) latestDate = later(latestDate, changeDate(found->back()));
      }

      int64_t room = batchSize - static_cast<int64_t>(list.size());
      if (room <= 0) return;
      FetchRequest items = itemsFetchRequest();
      items.sortDescriptors = {SortDescriptor{"dateRecordChanged", true, SortDescriptor::Comparison::Plain}};
      uint64_t itemsToReturn;
      if (anchorDate) {
        items.predicate = changedAfter(*anchorDate, items.predicate);
        itemsToReturn = static_cast<uint64_t>(std::max<int64_t>(0, context->count(items).value_or(0)));
        std::lock_guard lock(mutex_);
        numberOfItemsToReturn_ = itemsToReturn;
        countedItems_ = true;
      } else {
        itemsToReturn = plainItemTotal;
      }
      uint64_t itemsReturned;
      {
        std::lock_guard lock(mutex_);
        itemsReturned = itemsReturned_;
      }
      if (itemsToReturn <= itemsReturned) return;
      items.offset = static_cast<int64_t>(itemsReturned);
      items.limit = room;
      Error error;
      auto found = context->fetch(items, &error);
      if (!found) {
        failure = error;
        return;
      }
      {
        std::lock_guard lock(mutex_);
        itemsReturned_ += found->size();
      }
      bool inCloud = library && library->valueForKey("storeInCloudDatabase").boolValue();
      ManagedObjectPtr lastReported;
      for (const ManagedObjectPtr& object : *found) {
        auto item = std::dynamic_pointer_cast<Item>(object);
        if (!item || (!inCloud && !item->fileExists())) continue;
        if (FileProviderItemPtr descriptor = fileProviderItem(item)) list.push_back(descriptor);
        lastReported = object;
      }
      if (lastReported) latestDate = later(latestDate, changeDate(lastReported));
    });
  }

  {
    std::lock_guard lock(mutex_);
    latestChangeDateReported_ = latestDate;
  }
  if (failure) {
    log("Failed to enumerate items for observer from sync anchor: %@", *failure);
    observer.finishEnumeratingWithError(*failure);
    return;
  }

  // Totals not counted in this call (the batch filled up first) are those
  // of the plain listing.
  uint64_t foldersTotal = numberOfFoldersToReturn();
  uint64_t itemsTotal = numberOfItemsToReturn();
  bool moreComing;
  {
    std::lock_guard lock(mutex_);
    moreComing = !(foldersReturned_ >= foldersTotal && itemsReturned_ >= itemsTotal);
  }
  if (!moreComing) {
    Error error;
    auto deleted = deletedItemIdentifiersSinceSyncAnchorDate(anchorDate, &error);
    if (!deleted) {
      log("Failed to get deleted identifiers to enumerate items for observer from sync anchor: %@", error);
      observer.finishEnumeratingWithError(error);
      return;
    }
    if (!deleted->empty()) observer.didDeleteItemsWithIdentifiers(*deleted);
  }
  log("Update %lu items for enumerator with sync anchor (More: %@)", list.size(), moreComing ? "YES" : "NO");
  observer.didUpdateItems(list);
  observer.finishEnumeratingChangesUpToSyncAnchor(syncAnchorForDate(latestDate), moreComing);
}

std::optional<Bytes> FileProviderEnumerator::currentSyncAnchor() {
  log("Current sync anchor requested.");
  std::optional<Date> itemDate, folderDate;
  std::shared_ptr<ManagedObjectContext> context = privateContext();
  std::shared_ptr<Library> library = privateLibrary();
  if (context) {
    context->performAndWait([&] {
      FetchRequest items(kItemEntityName);
      items.sortDescriptors = {SortDescriptor{"dateRecordChanged", false, SortDescriptor::Comparison::Plain}};
      items.batchSize = 1;
      items.limit = 1;
      if (auto found = context->fetch(items); found && !found->empty()) itemDate = changeDate(found->front());

      ManagedObjectPtr root = library ? library->objectForKey("rootFolder") : nullptr;
      auto rootFolder = root ? root->as<Folder>() : nullptr;
      if (!rootFolder) return;
      ValueList folderIDs{Value(rootFolder->objectID())};
      for (const Folder::Ptr& folder : rootFolder->allSubfolders()) folderIDs.push_back(Value(folder->objectID()));
      FetchRequest folders(kFolderEntityName);
      folders.predicate = Predicate::withFormat("self IN %@", {Value(std::move(folderIDs))});
      folders.sortDescriptors = {SortDescriptor{"dateRecordChanged", false, SortDescriptor::Comparison::Plain}};
      folders.batchSize = 1;
      folders.limit = 1;
      if (auto found = context->fetch(folders); found && !found->empty()) folderDate = changeDate(found->front());
    });
  }
  std::optional<Date> anchorDate = itemDate;
  if (folderDate && (!itemDate || folderDate->timeIntervalSinceReferenceDate() >=
                                      itemDate->timeIntervalSinceReferenceDate()))
    anchorDate = folderDate;
  if (!anchorDate) {
    log("No current sync anchor.");
    return std::nullopt;
  }
  log("Returning current sync anchor (%@).", anchorDate->timeIntervalSinceReferenceDate());
  return syncAnchorForDate(anchorDate);
}

void FileProviderEnumerator::currentSyncAnchorWithCompletionHandler(
    const std::function<void(std::optional<Bytes>)>& completion) {
  std::optional<Bytes> anchor = currentSyncAnchor();
  if (completion) completion(std::move(anchor));
}

std::optional<std::vector<std::string>> FileProviderEnumerator::deletedItemIdentifiersSinceSyncAnchorDate(
    const std::optional<Date>& date, Error* error) {
  std::shared_ptr<ManagedObjectContext> context = changesManagerContext();
  if (!context) return std::vector<std::string>();
  std::optional<std::vector<std::string>> identifiers;
  context->performAndWait(
      [&] { identifiers = LibraryChangeDeletedFileProviderItem::consumeDeletedItemIdentifiers(*context, date, error); });
  return identifiers;
}

}  // namespace qlt
