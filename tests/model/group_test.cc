#include "model/group.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "model/cloud_share.h"
#include "model/folder.h"
#include "model/group_classes.h"
#include "model/item.h"
#include "model/item_group.h"
#include "model/search_group.h"
#include "model/special_groups.h"
#include "folder_fixture.h"
#include "platform/files/file_path.h"
#include "platform/dispatch/main_queue.h"
#include "platform/dispatch/notification_center.h"
#include "store/library_manager.h"

namespace qlt {
namespace {

namespace fs = std::filesystem;

RecordSystemFields share(const std::string& name, bool own) {
  RecordZoneID zone = own ? LibraryManager::libraryZoneID() : RecordZoneID("Quillet", "_otherUser");
  return {"cloudkit.share", RecordID(name, zone), "tag", std::nullopt, std::nullopt};
}

class GroupTest : public FolderFixture {
 protected:
  // An item of `folder` whose file exists.
  std::shared_ptr<Item> fileItem(const Folder::Ptr& folder, const std::string& filename) {
    auto created = std::dynamic_pointer_cast<Item>(context->insertNewObject("Item"));
    created->setValueForKey("filename", filename);
    folder->addItemsObject(created);
    if (auto path = folder->folderPath()) std::ofstream(*path + "/" + filename) << "x";
    return created;
  }
  template <typename T>
  std::shared_ptr<T> insert(const char* entity) {
    return std::dynamic_pointer_cast<T>(context->insertNewObject(entity));
  }
  // A top-level folder that another user shares with this one.
  Folder::Ptr sharedWithMe(const std::string& name) {
    auto folder = insert<Folder>("Folder");
    folder->setValueForKey("name", name);
    folder->setCloudShare(share("S-" + name, false));
    root->addChildrenObject(folder);
    folder->setParent(root);
    EXPECT_TRUE(folder->createFolder());
    return folder;
  }

};

TEST_F(GroupTest, FoldersSharedWithThisUserLiveUnderTheSharedDirectory) {
  Folder::Ptr top = sharedWithMe("Team");
  Folder::Ptr sub = make(top, "Docs");
  std::string wrapper = *shared->folderPath() + "/" + top->identifier() + ".qltfolder";
  EXPECT_EQ(top->folderPath(), wrapper + "/Team");
  EXPECT_EQ(sub->folderPath(), wrapper + "/Team/Docs");
  EXPECT_TRUE(fs::is_directory(wrapper + "/Team/Docs"));
  EXPECT_TRUE(top->isShared() && sub->isShared());
  EXPECT_FALSE(top->isLocalRecord() || sub->isLocalRecord() || top->isSharedByCurrentUser());
  EXPECT_FALSE(top->canEditName() || top->canMove());
  EXPECT_TRUE(sub->canEditName() && sub->canMove());
  Folder::Ptr gone = sharedWithMe("Gone");
  std::string goneWrapper = deletingLastPathComponent(*gone->folderPath());
  ASSERT_TRUE(gone->remove());
  EXPECT_FALSE(fs::exists(goneWrapper)) << "deleting it removes its wrapper";
  EXPECT_TRUE(fs::is_directory(wrapper + "/Team/Docs"));

  // A hostile identifier gives no directory rather than one elsewhere.
  auto hostile = insert<Folder>("Folder");
  hostile->setValueForKey("identifier", "../../escape");
  hostile->setValueForKey("name", "x");
  hostile->setCloudShare(share("S-hostile", false));
  hostile->setParent(root);
  EXPECT_FALSE(hostile->folderPath());
  EXPECT_FALSE(hostile->createFolder());

  auto mine = make(root, "Mine");
  mine->setCloudShare(share("S-mine", true));
  EXPECT_TRUE(mine->isSharedByCurrentUser());
  EXPECT_EQ(deletingLastPathComponent(*mine->folderPath()), *root->folderPath());
  libraryObject->setValueForKey("storeInCloudDatabase", true);
  EXPECT_FALSE(mine->canShareWithCloud());
  libraryObject->setValueForKey("firstCloudStoreCompleted", true);
  EXPECT_TRUE(mine->canShareWithCloud());
}

TEST_F(GroupTest, SharingDecidesWhereFoldersMayGo) {
  Folder::Ptr top = sharedWithMe("Team");
  Folder::Ptr inner = make(top, "Inner");
  Folder::Ptr deep = make(inner, "Deep");
  Folder::Ptr plain = make(root, "Plain");
  Folder::Ptr mine = make(root, "Mine");
  mine->setCloudShare(share("S-mine", true));
  Folder::Ptr mineSub = make(mine, "Sub");

  Error error;
  EXPECT_FALSE(top->canMoveToFolder(*plain, &error));
  EXPECT_TRUE(error.is(kGroupErrorDomain, kGroupCannotBeMovedErrorCode));
  EXPECT_TRUE(deep->canMoveToFolder(*top)) << "inside its own share";
  EXPECT_FALSE(deep->canMoveToFolder(*plain, &error));
  EXPECT_TRUE(error.is(kFolderErrorDomain, kFolderCannotMoveSharedFolderErrorCode));
  EXPECT_FALSE(deep->canMoveToFolder(*trash, &error)) << "only the top of a share goes to the trash";
  EXPECT_FALSE(mineSub->canMoveToFolder(*inner, &error));
  EXPECT_TRUE(error.is(kFolderErrorDomain, kFolderCannotMoveIntoSharedFolderErrorCode));
  EXPECT_TRUE(mineSub->canMoveToFolder(*plain));
  EXPECT_FALSE(plain->canMoveToFolder(*inner, &error));
  EXPECT_TRUE(error.is(kFolderErrorDomain, kFolderCannotMoveIntoSharedFolderErrorCode));

  auto bundle = insert<Bundle>("Bundle");
  ASSERT_TRUE(bundle->moveToFolder(make(plain, "Holder")));
  EXPECT_FALSE(plain->canMoveToFolder(*mine, &error));
  EXPECT_EQ(error.localizedDescription(), "You cannot move a folder with bundles into a shared folder.");
  EXPECT_FALSE(bundle->canMoveToFolder(*mine, &error));
  EXPECT_TRUE(error.is(kBundleErrorDomain, kBundleCannotMoveToSharedFolderErrorCode));
  Folder::Ptr other = make(root, "Other");
  fileItem(other, "a.txt")->setValueForKey("cloudShareData", share("S-item", true).archivedData());
  EXPECT_FALSE(other->canMoveToFolder(*mine, &error));
  EXPECT_EQ(error.localizedDescription(), "You cannot move a folder with individually shared items into a shared folder.");
}

TEST_F(GroupTest, TrashingAShareFromSomeoneElseDeletesItAndItsWrapper) {
  Folder::Ptr top = sharedWithMe("Notes");
  Folder::Ptr sub = make(top, "Sub");
  auto first = fileItem(top, "a.txt"), second = fileItem(sub, "b.txt");
  make(trash, "Notes");
  auto trashedItem = fileItem(trash, "Notes 1");
  std::string wrapper = deletingLastPathComponent(*top->folderPath());

  Error error;
  ASSERT_TRUE(top->moveToFolder(trash, &error)) << error.description();
  for (const ManagedObjectPtr& object : std::vector<ManagedObjectPtr>{top, sub, first, second})
    EXPECT_TRUE(object->isDeleted());
  EXPECT_FALSE(trashedItem->isDeleted());
  EXPECT_TRUE(fs::exists(*trash->folderPath() + "/Notes 1")) << "a trashed item's file is never replaced";
  EXPECT_FALSE(fs::exists(wrapper));
  EXPECT_FALSE(fs::exists(*trash->folderPath() + "/Notes 2"));
  ASSERT_TRUE(context->save());

  // An unshared folder keeps its own items but drops those others shared.
  Folder::Ptr plain = make(root, "Plain");
  auto own = fileItem(plain, "own.txt");
  auto foreign = fileItem(plain, "foreign.txt");
  foreign->setValueForKey("cloudShareData", share("S-foreign", false).archivedData());
  EXPECT_EQ(foreign->uniqueFilename("own.txt", *plain), "own.txt") << "shared items keep their names";
  ASSERT_TRUE(plain->moveToFolder(trash, &error)) << error.description();
  EXPECT_FALSE(own->isDeleted());
  EXPECT_TRUE(foreign->isDeleted());
  EXPECT_FALSE(own->valueForKey("dateDeleted").isNull());
}

TEST_F(GroupTest, FileURLsResolveToItemsFoldersAndPackages) {
  Folder::Ptr a = make(root, "A");
  Folder::Ptr b = make(a, "B");
  auto note = fileItem(b, "note.txt");
  auto top = fileItem(root, "top.txt");
  std::string base = *root->folderPath();
  EXPECT_EQ(root->itemWithFileURL(fileURLFromPath(base + "/A/B/note.txt")), note);
  EXPECT_EQ(root->itemWithFileURL(fileURLFromPath(base + "/top.txt")), top);
  EXPECT_EQ(a->itemWithFilePath(base + "/A/../top.txt"), nullptr) << "outside A once standardized";
  EXPECT_EQ(root->itemWithFilePath(base + "/A/B"), nullptr) << "names a folder";
  EXPECT_EQ(root->itemWithFilePath(base), nullptr);
  EXPECT_EQ(root->itemWithFilePath(base + "/../Deleted Files/top.txt"), nullptr);

  EXPECT_EQ(root->nearestDescendentForURL(fileURLFromPath(base + "/A/B/C/x")), b);
  EXPECT_EQ(root->nearestDescendentForPath(base + "/A/unknown/x"), a);
  EXPECT_EQ(root->nearestDescendentForPath(base), root);
  EXPECT_EQ(a->nearestDescendentForPath(base + "/top.txt"), nullptr);

  fs::create_directories(base + "/A/Doc.rtfd/Contents");
  fs::create_directories(base + "/A/Plain/Inner");
  EXPECT_EQ(a->subitemPathFromPath(base + "/A/Doc.rtfd/Contents/x"), base + "/A/Doc.rtfd");
  EXPECT_EQ(a->subitemPathFromPath(base + "/A/Plain/Inner"), std::nullopt) << "not a package";
  EXPECT_EQ(a->subitemPathFromPath(base + "/A/x.txt"), base + "/A/x.txt");
  EXPECT_EQ(a->subitemPathFromPath(base + "/A/.hidden"), std::nullopt);
  EXPECT_EQ(a->subitemPathFromPath(base + "/A"), std::nullopt);

  // Below the shared directory: per-share wrappers and per-item directories.
  Folder::Ptr team = sharedWithMe("Team");
  auto teamItem = fileItem(team, "t.txt");
  EXPECT_EQ(root->itemWithFilePath(*team->folderPath() + "/t.txt"), teamItem);
  auto alone = insert<Item>("Item");
  alone->setValueForKey("filename", "solo.txt");
  EXPECT_EQ(root->itemWithFilePath(*shared->folderPath() + "/" + alone->identifier() + "/solo.txt"), alone);
  EXPECT_EQ(root->itemWithFilePath(*shared->folderPath() + "/RootFolder.qltfolder/A/B/note.txt"), nullptr)
      << "only plain folders resolve wrappers";
}

TEST_F(GroupTest, BundlesAndSearchGroupsInTheTree) {
  Folder::Ptr a = make(root, "A");
  Folder::Ptr b = make(a, "B");
  Folder::Ptr elsewhere = make(root, "Elsewhere");
  auto bundle = insert<Bundle>("Bundle");
  EXPECT_EQ(bundle->name(), "Untitled Bundle");
  ASSERT_TRUE(bundle->moveToFolder(b));
  auto inBundle = fileItem(elsewhere, "x.txt");
  bundle->addObjectForKey("items", inBundle);
  auto search = insert<SearchGroup>("SearchGroup");
  ASSERT_TRUE(search->Group::moveToFolder(a));
  EXPECT_EQ(a->allBundles(), std::vector<ManagedObjectPtr>{bundle});
  EXPECT_EQ(a->allSearchGroups(), std::vector<ManagedObjectPtr>{search});
  EXPECT_EQ(a->childSearchGroups(), std::vector<ManagedObjectPtr>{search});
  EXPECT_EQ(a->allItems(), std::vector<ManagedObjectPtr>{inBundle}) << "bundle items count wherever they live";
  EXPECT_EQ(a->allChildren().size(), 3u);

  Error error;
  EXPECT_FALSE(search->canMoveToFolder(*elsewhere, &error));
  EXPECT_TRUE(error.is(kGroupErrorDomain, kGroupCannotBeMovedErrorCode));
  EXPECT_TRUE(search->canMoveToFolder(*trash));

  libraryObject->setValueForKey("storeInCloudDatabase", true);
  Folder::Ptr deepest = root;
  std::vector<Folder::Ptr> chain;
  for (int level = 1; level <= 100; ++level) chain.push_back(deepest = make(deepest, "d"));
  EXPECT_TRUE(bundle->canMoveToFolder(*chain[98]));
  EXPECT_FALSE(bundle->canMoveToFolder(*chain[99], &error));
  EXPECT_TRUE(error.is(kGroupErrorDomain, kGroupMaxDepthExceededErrorCode));

  ASSERT_TRUE(bundle->moveToFolder(trash));
  EXPECT_TRUE(bundle->isDeleted());
  EXPECT_FALSE(inBundle->isDeleted());
  EXPECT_EQ(inBundle->objectForKey("folder"), elsewhere);
  ASSERT_TRUE(context->save());
}

TEST_F(GroupTest, ChildrenOrderAndLookups) {
  Folder::Ptr box = make(root, "Box");
  Folder::Ptr c = make(box, "c10"), a = make(box, "C2"), b = make(box, "b");
  Folder::Ptr inner = make(a, "z"), inner2 = make(a, "c10");
  box->reorderChildrenByName();
  EXPECT_EQ(box->objectsForKey("children"), (std::vector<ManagedObjectPtr>{b, a, c}));
  EXPECT_EQ(a->objectsForKey("children"), (std::vector<ManagedObjectPtr>{inner2, inner}));
  EXPECT_EQ(c->valueForKey("parentOrder"), Value(int64_t{2}));

  c->moveToIndexInParentFolder(0);
  EXPECT_EQ(box->objectsForKey("children"), (std::vector<ManagedObjectPtr>{c, b, a}));
  EXPECT_EQ(a->valueForKey("parentOrder"), Value(int64_t{2}));
  b->moveToIndexInParentFolder(99);
  EXPECT_EQ(box->objectsForKey("children").back(), b);

  box->addChildren({a, c});
  EXPECT_EQ(box->objectsForKey("children").size(), 3u) << "present children are not added twice";
  EXPECT_EQ(box->childrenWithName("C10"), (std::vector<ManagedObjectPtr>{c, inner2}));

  EXPECT_FALSE(box->canReorder());
  root->setValueForKey("allowManualOrdering", true);
  EXPECT_TRUE(a->canReorder());
  EXPECT_EQ(box->orderedChildren(), box->objectsForKey("children"));
  libraryObject->setObjectForKey("defaultImportGroup", a);
  EXPECT_FALSE(a->canReorder());

}

TEST_F(GroupTest, SharingLimitsWhereItemsMayGo) {
  Folder::Ptr team = sharedWithMe("Team"), docs = make(team, "Docs"), mine = make(root, "Mine");
  Folder::Ptr own = make(root, "Own");
  own->setCloudShare(share("S-own", true));
  auto theirs = fileItem(docs, "a.txt");
  Error error;
  EXPECT_TRUE(theirs->canMoveToFolder(*team));
  EXPECT_FALSE(theirs->canMoveToFolder(*mine, &error));
  EXPECT_TRUE(error.is(kItemErrorDomain, kItemCannotMoveSharedItemErrorCode)) << error.description();
  EXPECT_EQ(error.localizedDescription(), "Shared items that you do not own cannot be moved outside the shared folder.");

  auto single = fileItem(mine, "b.txt");
  storeCloudShare(*single, share("S-b", true));
  EXPECT_FALSE(single->canMoveToFolder(*own, &error));
  EXPECT_TRUE(error.is(kItemErrorDomain, kItemCannotMoveSharedItemErrorCode)) << error.description();
  EXPECT_EQ(error.localizedDescription(), "Individually shared items cannot be moved to a shared folder.");
  EXPECT_TRUE(single->canMoveToFolder(*root));
}

TEST_F(GroupTest, SharedItemsFollowTheirItemsFolder) {
  Folder::Ptr box = make(root, "Box"), other = make(root, "Other");
  auto one = insert<Item>("Item"), two = insert<Item>("Item");
  auto sharedItem = insert<LibraryObject>("SharedItem");
  one->setObjectForKey("sharedItem", sharedItem);
  auto folderIdentifier = [&] { return sharedItem->valueForKey("folderIdentifier"); };

  box->addItems({one, two});
  EXPECT_EQ(folderIdentifier(), Value(box->identifier()));
  other->addItemsObject(one);
  EXPECT_EQ(folderIdentifier(), Value(other->identifier()));
  other->removeItems({one});
  EXPECT_TRUE(folderIdentifier().isNull());
  box->removeItemsObject(two);
  EXPECT_TRUE(box->objectsForKey("items").empty());
  EXPECT_FALSE(two->objectForKey("sharedItem")) << "an item without a shared item gets none";
}

TEST_F(GroupTest, SystemGroupsAndFavoriteNotices) {
  auto libraryGroup = std::dynamic_pointer_cast<LibraryGroup>(libraryObject->objectForKey("libraryGroup"));
  auto recents = std::dynamic_pointer_cast<RecentsGroup>(libraryObject->objectForKey("recentsGroup"));
  auto noLabel = std::dynamic_pointer_cast<NoLabelGroup>(libraryObject->objectForKey("noLabelGroup"));
  ASSERT_TRUE(libraryGroup && recents && noLabel);
  EXPECT_EQ(libraryGroup->name(), "All Items");
  EXPECT_TRUE(libraryGroup->favorite());
  EXPECT_FALSE(libraryGroup->canRemove());
  EXPECT_FALSE(recents->canAcceptExistingItems());
  EXPECT_TRUE(noLabel->canAcceptExistingItems());
  EXPECT_TRUE(std::dynamic_pointer_cast<UnfiledGroup>(root->objectForKey("unfiledGroup")));
  EXPECT_FALSE(root->canFavorite() || trash->canFavorite() || trash->canShowFavoritesAtTop());

  libraryGroup->setValueForKey("listViewMode", int64_t{0});
  ASSERT_TRUE(context->save());
  EXPECT_EQ(reread<LibraryGroup>(libraryGroup)->valueForKey("listViewMode"), Value(int64_t{1}));

  auto bundle = insert<Bundle>("Bundle");
  ASSERT_TRUE(bundle->moveToFolder(root));
  Folder::Ptr folder = make(root, "F");
  auto attributes = context->insertNewObject("SharedFolderAttributes");
  folder->setObjectForKey("sharedFolderAttributes", attributes);
  ASSERT_TRUE(context->save());

  std::vector<const void*> favorites, visibility;
  auto& center = NotificationCenter::defaultCenter();
  ObserverToken favoriteToken = center.addObserver(kGroupFavoriteStateDidChangeNotification, nullptr,
                                                   [&](const Notification& note) { favorites.push_back(note.object); });
  ObserverToken visibleToken = center.addObserver(kNoLabelGroupVisibilityDidChangeNotification, nullptr,
                                                  [&](const Notification& note) { visibility.push_back(note.object); });
  bundle->setFavorite(true);
  bundle->setFavorite(true);
  folder->setFavorite(true);
  noLabel->setVisible(false);
  noLabel->setVisible(false);
  dispatchMainSync([] {});
  center.removeObserver(favoriteToken);
  center.removeObserver(visibleToken);
  EXPECT_EQ(favorites.size(), 1u) << "once for the bundle, never for a folder";
  EXPECT_EQ(visibility.size(), 2u) << "posted even when unchanged";
  EXPECT_TRUE(attributes->valueForKey("favorite").boolValue());
}

TEST_F(GroupTest, NamesAreCleanedOnEveryWayIn) {
  // Whitespace and newlines as Unicode has them: no-break and ideographic
  // spaces, next line, line and paragraph separators.
  EXPECT_EQ(cleanedGroupName("\u00A0\u3000Plans\u2028\u2029"), "Plans");
  EXPECT_EQ(cleanedGroupName("a\u0085b\u2028 c\u00A0"), "a b c");
  EXPECT_EQ(cleanedGroupName("a\u00A0 b"), "a\u00A0 b") << "inner spaces stay when no line is broken";

  auto bundle = insert<Bundle>("Bundle");
  bundle->setName("\u00A0Reading\u2028List ");
  EXPECT_EQ(bundle->name(), "Reading List");
  EXPECT_TRUE(bundle->changeName("\u2029\u00A0"));
  EXPECT_EQ(bundle->name(), "Reading List") << "a blank name changes nothing";

  PropertyListDictionary list = bundle->propertyListRepresentation();
  list["identifier"] = PropertyList("PL-1");
  list["name"] = PropertyList("\u3000Imported\u0085Bundle\n");
  auto recreated = std::dynamic_pointer_cast<Group>(LibraryObject::fromPropertyListRepresentation(*context, list));
  ASSERT_TRUE(recreated);
  EXPECT_EQ(recreated->name(), "Imported Bundle");

  bundle->setValueForKey("name", " Raw\nName ");
  auto copied = std::dynamic_pointer_cast<Group>(bundle->copy());
  ASSERT_TRUE(copied);
  EXPECT_EQ(copied->name(), "Raw Name");

  CloudRecord record("Folder", RecordID("Folder|F-9", LibraryManager::libraryZoneID()));
  record.setObjectForKey("identifier", CloudValue("F-9"));
  record.setObjectForKey("name", CloudValue("\u2029Cloud\u2028Folder\u00A0"));
  record.setObjectForKey("groupType", CloudValue(100));
  record.setObjectForKey("parent", CloudValue(CloudReference{root->cloudRecordID()}));
  auto folder = std::dynamic_pointer_cast<Folder>(LibraryObject::libraryObjectFromCloudRecord(record, *context));
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->name(), "Cloud Folder");
  EXPECT_EQ(folder->folderPath(), *root->folderPath() + "/Cloud Folder");
  EXPECT_TRUE(fs::is_directory(*root->folderPath() + "/Cloud Folder"));
  ASSERT_TRUE(context->save());

  CloudRecord renamed = folder->cloudRecord();
  renamed.setObjectForKey("name", CloudValue(" Renamed\u2028Again\u00A0"));
  folder->updateFromCloudRecord(renamed);
  EXPECT_EQ(folder->name(), "Renamed Again");
  EXPECT_TRUE(fs::is_directory(*root->folderPath() + "/Renamed Again")) << "the directory follows the stored name";
  EXPECT_FALSE(fs::exists(*root->folderPath() + "/Cloud Folder"));
}

}  // namespace
}  // namespace qlt

namespace qlt {
namespace {

TEST_F(GroupTest, BundleRecordsCannotPutABundleIntoASharedFolder) {
  Folder::Ptr plain = make(root, "Plain");
  Folder::Ptr team = sharedWithMe("Team");
  auto bundle = insert<Bundle>("Bundle");
  bundle->setObjectForKey("parent", root);
  ASSERT_TRUE(context->save());

  CloudRecord record(kBundleEntityName, bundle->cloudRecordID());
  bundle->updateRecordWithCurrentValues(record);
  record.setObjectForKey("parent", CloudValue(CloudReference{team->cloudRecordID(), CloudReferenceAction::None}));
  bundle->updateFromCloudRecord(record);
  EXPECT_EQ(bundle->parentFolder(), root) << "the local parent stays";

  record.setObjectForKey("parent", CloudValue(CloudReference{plain->cloudRecordID(), CloudReferenceAction::None}));
  bundle->updateFromCloudRecord(record);
  EXPECT_EQ(bundle->parentFolder(), plain);
}

}  // namespace
}  // namespace qlt
