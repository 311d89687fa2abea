#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "extension/library_content_fixture.h"
#include "extension/file_provider_enumerator.h"
#include "model/folder.h"
#include "model/item.h"
#include "platform/files/file_system.h"
#include "store/library.h"
#include "store/library_manager.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

struct ChangeRecorder : FileProviderChangeObserver {
  explicit ChangeRecorder(int64_t batchSize) : batchSize(batchSize) {}
  int64_t suggestedBatchSize() const override { return batchSize; }
  void didUpdateItems(const std::vector<FileProviderItemPtr>& received) override {
    for (const auto& item : received) names.push_back(item->filename());
  }
  void didDeleteItemsWithIdentifiers(const std::vector<std::string>& identifiers) override {
    deleted.insert(deleted.end(), identifiers.begin(), identifiers.end());
  }
  void finishEnumeratingChangesUpToSyncAnchor(const Bytes& newAnchor, bool more) override {
    anchor = newAnchor;
    moreComing = more;
  }
  void finishEnumeratingWithError(const Error& failure) override { error = failure; }

  int64_t batchSize;
  std::vector<std::string> names;
  std::vector<std::string> deleted;
  std::optional<Bytes> anchor;
  bool moreComing = false;
  std::optional<Error> error;
};

std::string text(const std::optional<Bytes>& bytes) {
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<none>");
}

using EnumerationTest = LibraryContentTest;

TEST_F(EnumerationTest, FoldersComeFirstAndPagesCarryTheExactToken) {
  Folder::Ptr box = folder(root_, "Box", 1);
  for (const char* name : {"Sub 10", "Sub 2", "Sub 1"}) folder(box, name, 2);
  for (const char* name : {"e.txt", "a 10.txt", "a 9.txt", "c.txt", "b.txt"}) item(box, name, 5, 5);

  auto lister = enumerator(identifierOf(box));
  PageRecorder first(4);
  lister->enumerateItemsForObserver(first, std::nullopt);
  ASSERT_FALSE(first.error);
  EXPECT_EQ(first.names, (std::vector<std::string>{"Sub 1", "Sub 2", "Sub 10", "a 9.txt"}));
  EXPECT_EQ(text(first.nextPage), R"({"foldersReturned":3,"itemsReturned":1})");

  PageRecorder second(4);
  lister->enumerateItemsForObserver(second, first.nextPage);
  EXPECT_EQ(second.names, (std::vector<std::string>{"a 10.txt", "b.txt", "c.txt", "e.txt"}));
  EXPECT_TRUE(second.finished);
  EXPECT_FALSE(second.nextPage);

  // A token handed to a new enumerator resumes there; garbage starts over.
  PageRecorder resumed(10);
  enumerator(identifierOf(box))->enumerateItemsForObserver(resumed, first.nextPage);
  EXPECT_EQ(resumed.names.size(), 4u);
  for (const char* garbage : {"{\"foldersReturned\":", "[1,2]", "\xff\xfe"}) {
    PageRecorder fresh(10);
    std::string bad = garbage;
    enumerator(identifierOf(box))->enumerateItemsForObserver(fresh, Bytes(bad.begin(), bad.end()));
    EXPECT_EQ(fresh.names.size(), 8u) << garbage;
    EXPECT_FALSE(fresh.error);
  }
}

TEST_F(EnumerationTest, TheByDateMarkerOrdersItemsOldestFirstAndFoldersStillByName) {
  Folder::Ptr box = folder(root_, "Box", 1);
  folder(box, "Z", 1);
  folder(box, "A", 1);
  item(box, "new.txt", 300, 1);
  item(box, "old.txt", 100, 1);
  item(box, "mid.txt", 200, 1);

  PageRecorder page(10);
  enumerator(identifierOf(box))->enumerateItemsForObserver(page, fileProviderInitialPageSortedByDate());
  EXPECT_EQ(page.names, (std::vector<std::string>{"A", "Z", "old.txt", "mid.txt", "new.txt"}));
  EXPECT_FALSE(page.nextPage);
}

TEST_F(EnumerationTest, ChangesFromNoAnchorReportEverythingThenConsumeDeletions) {
  Folder::Ptr box = folder(root_, "Box", 10);
  item(box, "one.txt", 1, 20);
  item(box, "two.txt", 1, 30);
  auto changes = extension_->changesManagerContext();
  changes->performAndWait([&] {
    for (const char* gone : {"Item|GONE-1", "Item|GONE-2"}) {
      auto row = changes->insertNewObject("DeletedFileProviderItem");
      row->setValueForKey("fileProviderItemIdentifier", std::string(gone));
      row->setValueForKey("dateDeleted", Date(25));
    }
    EXPECT_TRUE(changes->save());
  });

  auto workingSet = enumerator(kWorkingSetContainerItemIdentifier);
  ChangeRecorder batch1(2);
  workingSet->enumerateChangesForObserver(batch1, std::nullopt);
  EXPECT_EQ(batch1.names, (std::vector<std::string>{"Box", "one.txt"}));
  EXPECT_TRUE(batch1.moreComing);
  EXPECT_TRUE(batch1.deleted.empty());
  EXPECT_EQ(dateFromSyncAnchor(*batch1.anchor)->timeIntervalSinceReferenceDate(), 20);

  ChangeRecorder batch2(2);
  workingSet->enumerateChangesForObserver(batch2, std::nullopt);
  EXPECT_EQ(batch2.names, (std::vector<std::string>{"two.txt"}));
  EXPECT_FALSE(batch2.moreComing);
  EXPECT_EQ(batch2.deleted, (std::vector<std::string>{"Item|GONE-1", "Item|GONE-2"}));
  EXPECT_EQ(dateFromSyncAnchor(*batch2.anchor)->timeIntervalSinceReferenceDate(), 30);

  // Reported once: the rows are gone.
  ChangeRecorder again(100);
  enumerator(kWorkingSetContainerItemIdentifier)->enumerateChangesForObserver(again, std::nullopt);
  EXPECT_TRUE(again.deleted.empty());
}

TEST_F(EnumerationTest, ChangesFromAnAnchorReportOnlyLaterObjectsAndKeepOlderDeletions) {
  Folder::Ptr box = folder(root_, "Box", 10);
  auto early = item(box, "early.txt", 1, 20);
  auto late = item(box, "late.txt", 1, 40);
  auto missing = item(box, "missing.txt", 1, 50, /*withFile=*/false);
  auto changes = extension_->changesManagerContext();
  changes->performAndWait([&] {
    for (auto [gone, when] : {std::pair{"Item|OLD", 30.0}, std::pair{"Item|NEW", 45.0}}) {
      auto row = changes->insertNewObject("DeletedFileProviderItem");
      row->setValueForKey("fileProviderItemIdentifier", std::string(gone));
      row->setValueForKey("dateDeleted", Date(when));
    }
    EXPECT_TRUE(changes->save());
  });

  ChangeRecorder fromAnchor(100);
  enumerator(kWorkingSetContainerItemIdentifier)->enumerateChangesForObserver(fromAnchor, syncAnchorForDate(Date(35)));
  // The item without a file is passed over in a library kept on this Mac.
  EXPECT_EQ(fromAnchor.names, (std::vector<std::string>{"late.txt"}));
  EXPECT_EQ(fromAnchor.deleted, (std::vector<std::string>{"Item|NEW"}));
  EXPECT_FALSE(fromAnchor.moreComing);
  EXPECT_EQ(dateFromSyncAnchor(*fromAnchor.anchor)->timeIntervalSinceReferenceDate(), 40);

  // Nothing after the new anchor: the same anchor comes back.
  ChangeRecorder nothing(100);
  enumerator(kWorkingSetContainerItemIdentifier)->enumerateChangesForObserver(nothing, fromAnchor.anchor);
  EXPECT_TRUE(nothing.names.empty());
  EXPECT_EQ(nothing.anchor, syncAnchorForDate(Date(40)));

  // Undecodable anchor data counts as no anchor; the older row is still
  // there to be reported.
  ChangeRecorder garbage(100);
  enumerator(kWorkingSetContainerItemIdentifier)->enumerateChangesForObserver(garbage, Bytes{1, 2, 3});
  EXPECT_EQ(garbage.names, (std::vector<std::string>{"Box", "early.txt", "late.txt"}));
  EXPECT_EQ(garbage.deleted, (std::vector<std::string>{"Item|OLD"}));
}

// One save of the view context stamps every object it saves with one date.
// Batches continue from the starting anchor on the same enumerator until
// no more is coming; only then is the last anchor adopted.
TEST_F(EnumerationTest, AViewContextSaveLargerThanABatchIsReportedOnceFromTheStartingAnchor) {
  Folder::Ptr box = folder(root_, "Box", 1);
  std::vector<ObjectID> ids;
  for (int index = 0; index < 8; ++index) ids.push_back(item(box, "file " + std::to_string(index), 1, 5)->objectID());
  ManagedObjectContext& view = LibraryManager::sharedManager()->container()->viewContext();
  std::optional<Date> stamped;
  view.performAndWait([&] {
    for (const ObjectID& id : ids) view.existingObjectWithID(id)->setValueForKey("comments", std::string("edited"));
    ASSERT_TRUE(view.save());
    stamped = view.existingObjectWithID(ids.back())->as<LibraryObject>()->dateRecordChanged();
  });
  ASSERT_TRUE(stamped);

  const Bytes start = syncAnchorForDate(Date(5));
  auto workingSet = enumerator(kWorkingSetContainerItemIdentifier);
  std::multiset<std::string> reported;
  std::optional<Bytes> adopted;
  for (int batches = 0; batches < 10 && !adopted; ++batches) {
    ChangeRecorder batch(3);
    workingSet->enumerateChangesForObserver(batch, start);
    ASSERT_FALSE(batch.error);
    reported.insert(batch.names.begin(), batch.names.end());
    if (!batch.moreComing) adopted = batch.anchor;
  }
  ASSERT_TRUE(adopted);
  EXPECT_EQ(reported.size(), 8u);
  EXPECT_EQ(std::set<std::string>(reported.begin(), reported.end()).size(), 8u) << "each object once";
  EXPECT_EQ(dateFromSyncAnchor(*adopted)->timeIntervalSinceReferenceDate(), stamped->timeIntervalSinceReferenceDate());

  ChangeRecorder after(3);
  enumerator(kWorkingSetContainerItemIdentifier)->enumerateChangesForObserver(after, adopted);
  EXPECT_TRUE(after.names.empty());
  EXPECT_EQ(after.anchor, adopted);
}

TEST_F(EnumerationTest, TheLastBatchOfAContinuationKeepsTheLatestDateItsBatchesReported) {
  for (const char* name : {"A", "B", "C"}) folder(root_, name, 50);
  item(root_, "old.txt", 1, 1);
  item(root_, "older change.txt", 1, 20);

  auto workingSet = enumerator(kWorkingSetContainerItemIdentifier);
  const Bytes start = syncAnchorForDate(Date(10));
  ChangeRecorder folders(3);
  workingSet->enumerateChangesForObserver(folders, start);
  EXPECT_EQ(folders.names, (std::vector<std::string>{"A", "B", "C"}));
  ASSERT_TRUE(folders.moreComing);
  ChangeRecorder items(3);
  workingSet->enumerateChangesForObserver(items, start);
  EXPECT_EQ(items.names, (std::vector<std::string>{"older change.txt"}));
  EXPECT_FALSE(items.moreComing);
  EXPECT_EQ(dateFromSyncAnchor(*items.anchor)->timeIntervalSinceReferenceDate(), 50)
      << "an earlier anchor would report the folders again";

  // A new enumeration from another anchor on the same enumerator does not
  // inherit the dates of the earlier one.
  ChangeRecorder fresh(3);
  workingSet->enumerateChangesForObserver(fresh, syncAnchorForDate(Date(60)));
  EXPECT_EQ(fresh.anchor, syncAnchorForDate(Date(60)));
}

TEST_F(EnumerationTest, TheCurrentAnchorIsTheLatestChangeAndIgnoresDeletions) {
  Folder::Ptr box = folder(root_, "Box", 10);
  auto file = item(box, "one.txt", 1, 20);
  auto workingSet = enumerator(kWorkingSetContainerItemIdentifier);
  std::optional<Date> itemLater = dateFromSyncAnchor(workingSet->currentSyncAnchor().value());
  touch(box, 1e9);
  EXPECT_EQ(dateFromSyncAnchor(workingSet->currentSyncAnchor().value())->timeIntervalSinceReferenceDate(), 1e9);
  touch(file, 2e9);
  EXPECT_EQ(dateFromSyncAnchor(workingSet->currentSyncAnchor().value())->timeIntervalSinceReferenceDate(), 2e9);
  EXPECT_TRUE(itemLater);
}

TEST_F(EnumerationTest, TrashItemsWithoutACloudFileAreNotListed) {
  Folder::Ptr trashed = folder(folder(trash_, "Old", 1), "Older", 1);
  Folder::Ptr kept = folder(root_, "Kept", 1);
  for (const Folder::Ptr& parent : {trash_, trashed, kept}) {
    item(parent, "kept.txt", 1, 1);
    auto noFile = item(parent, "nofile.txt", 1, 1);
    context_->performAndWait([&] {
      noFile->setValueForKey("cloudFileDownloadStatus", 5);
      EXPECT_TRUE(context_->save());
    });
  }
  PageRecorder inTrash(10), below(10), page(10);
  enumerator(kTrashContainerItemIdentifier)->enumerateItemsForObserver(inTrash, std::nullopt);
  EXPECT_EQ(inTrash.names, (std::vector<std::string>{"Old", "kept.txt"}));
  enumerator(identifierOf(trashed))->enumerateItemsForObserver(below, std::nullopt);
  EXPECT_EQ(below.names, (std::vector<std::string>{"kept.txt"})) << "any folder below the trash";
  enumerator(identifierOf(kept))->enumerateItemsForObserver(page, std::nullopt);
  EXPECT_EQ(page.names, (std::vector<std::string>{"kept.txt", "nofile.txt"})) << "outside the trash all are listed";
}

TEST_F(EnumerationTest, ALibraryOfTheOlderLayoutKeepsShowingItsFiles) {
  context_->performAndWait([&] {
    context_->fetch(FetchRequest("Library")).value().front()->setValueForKey("useFileProvider", true);
    EXPECT_TRUE(root_->createFolder() && trash_->createFolder());
    EXPECT_TRUE(context_->save());
  });
  Folder::Ptr box = folder(root_, "Box", 10);
  item(box, "one.txt", 1, 20);
  std::string package = LibraryManager::sharedManager()->libraryFilePath();
  // An older version kept the same directories without ".noindex".
  ASSERT_TRUE(moveItem(package + "/Files.noindex", package + "/Files"));
  ASSERT_TRUE(moveItem(package + "/Deleted Files.noindex", package + "/Deleted Files"));

  ChangeRecorder changes(10);
  enumerator(kWorkingSetContainerItemIdentifier)->enumerateChangesForObserver(changes, std::nullopt);
  EXPECT_EQ(changes.names, (std::vector<std::string>{"Box", "one.txt"}));
  EXPECT_TRUE(fileExists(package + "/Files.noindex/Box/one.txt"));
  EXPECT_FALSE(fileExists(package + "/Files"));
}

TEST_F(EnumerationTest, IdentifiersNameOneIncarnationOfAnItem) {
  Folder::Ptr box = folder(root_, "Box", 1);
  auto file = item(box, "a.txt", 1, 1);
  context_->performAndWait([&] {
    std::string two = file->fileProviderItemIdentifier();
    EXPECT_EQ(two, "Item|" + file->identifier());
    EXPECT_EQ(LibraryObject::libraryObjectFromFileProviderIdentifier(two, *context_), file);
    file->setValueForKey("fileProviderIdentifierVersion", 1);
    EXPECT_FALSE(LibraryObject::libraryObjectFromFileProviderIdentifier(two, *context_));
    EXPECT_EQ(file->fileProviderItemIdentifier(), two + "|1");
    EXPECT_EQ(LibraryObject::libraryObjectFromFileProviderIdentifier(two + "|1", *context_), file);

    for (const char* bad : {"Item", "", "|", "NoSuchEntity|X", "Item|" "\xff", "Folder|A|B|C|D"})
      EXPECT_FALSE(LibraryObject::libraryObjectFromFileProviderIdentifier(bad, *context_)) << bad;
    EXPECT_EQ(LibraryObject::libraryObjectFromFileProviderIdentifier(kRootContainerItemIdentifier, *context_), root_);
    EXPECT_EQ(LibraryObject::libraryObjectFromFileProviderIdentifier(kTrashContainerItemIdentifier, *context_), trash_);
  });
  EXPECT_EQ(LibraryObject::versionFromFileProviderIdentifier("Item|X|12"), 12);
  EXPECT_EQ(LibraryObject::versionFromFileProviderIdentifier("Item|X|junk"), 0);
  EXPECT_FALSE(LibraryObject::libraryObjectIdentifierFromFileProviderIdentifier("NoSeparator"));
}

}  // namespace
}  // namespace qlt
