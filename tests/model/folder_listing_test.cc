#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <set>

#include "model/folder.h"
#include "model/folder_answers.h"
#include "model/group_classes.h"
#include "model/item.h"
#include "model/finder_tags.h"
#include "model/tag.h"
#include "model/tag_data.h"
#include "model/sort_descriptor_archive.h"
#include "folder_fixture.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_path.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/files/file_system.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/dispatch/main_queue.h"
#include "platform/dispatch/notification_center.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/defaults/user_defaults.h"

namespace qlt {
namespace {

class FolderListingTest : public FolderFixture {
 protected:
  void TearDown() override {
    EXPECT_TRUE(UserDefaults::standard().removeObjectForKey(kFolderShowAllItemsKey));
    EXPECT_TRUE(UserDefaults::standard().removeObjectForKey(kItemImportFinderTagsKey));
    EXPECT_TRUE(UserDefaults::standard().removeObjectForKey(kItemUpdateFinderTagsKey));
  }

  std::set<std::string> listed(const Group& group) {
    std::set<std::string> names;
    auto request = group.itemsFetchRequest();
    EXPECT_TRUE(request);
    if (!request) return names;
    Error error;
    auto items = context->fetch(*request, &error);
    EXPECT_TRUE(items) << error.description();
    for (const ManagedObjectPtr& found : items.value_or(std::vector<ManagedObjectPtr>{}))
      names.insert(*found->valueForKey("filename").string());
    return names;
  }

};

using Names = std::set<std::string>;

TEST_F(FolderListingTest, ShowAllItemsFollowsTheDefaultExpansionAndBundles) {
  Folder::Ptr top = make(root, "Top"), inner = make(top, "Inner"), other = make(root, "Other");
  item(top, "own");
  auto deep = item(inner, "deep"), elsewhere = item(other, "elsewhere");
  auto bundle = std::dynamic_pointer_cast<Group>(context->insertNewObject("Bundle"));
  inner->addChildrenObject(bundle);
  bundle->addObjectForKey("items", elsewhere);
  Names all{"own", "deep", "elsewhere"}, ownOnly{"own"};

  for (bool saved : {false, true}) {
    if (saved) {
      ASSERT_TRUE(context->save());
    }
    EXPECT_TRUE(UserDefaults::standard().removeObjectForKey(kFolderShowAllItemsKey));
    top->setExpanded(false);
    EXPECT_EQ(listed(*top), ownOnly) << "no value shows only the folder's own items";
    EXPECT_TRUE(UserDefaults::standard().setInteger(1, kFolderShowAllItemsKey));
    EXPECT_EQ(listed(*top), all) << "1 while collapsed; the bundle's item lives in another folder";
    EXPECT_TRUE(top->showContainerGroupForItems());
    EXPECT_TRUE(top->containsItem(*elsewhere));
    top->setExpanded(true);
    EXPECT_EQ(listed(*top), ownOnly);
    EXPECT_FALSE(top->containsItem(*deep));
    EXPECT_TRUE(UserDefaults::standard().setInteger(2, kFolderShowAllItemsKey));
    EXPECT_EQ(listed(*top), all);
    top->setExpanded(false);
    EXPECT_EQ(listed(*top), all);
    EXPECT_TRUE(UserDefaults::standard().setInteger(0, kFolderShowAllItemsKey));
    EXPECT_EQ(listed(*top), ownOnly);
    EXPECT_EQ(listed(*other), Names{"elsewhere"}) << "folders without bundles list as before";
  }

  auto search = std::dynamic_pointer_cast<Group>(context->insertNewObject("SearchGroup"));
  EXPECT_TRUE(UserDefaults::standard().setInteger(2, kFolderShowAllItemsKey));
  search->setValueForKey("saved", true);
  FetchRequest request("Item");
  request.predicate = top->predicateForSearchGroup(*search);
  EXPECT_EQ(context->fetch(request)->size(), 1u) << "a saved search group without children of the target";
  search->setValueForKey("saved", false);
  request.predicate = top->predicateForSearchGroup(*search);
  EXPECT_EQ(context->fetch(request)->size(), 3u) << "an unsaved one follows the folder";
  EXPECT_FALSE(search->itemsFetchRequest());
  EXPECT_FALSE(search->predicateForSearchGroup(*search));
}

TEST_F(FolderListingTest, SortDescriptorsAreInheritedUntilTheyDiffer) {
  Folder::Ptr top = make(root, "Top"), inner = make(top, "Inner");
  std::vector<SortDescriptor> modified{{"dateModified", false}}, size{{"size"}},
      named{SortDescriptor::localizedStandard("name")};
  libraryGroup->setItemSortDescriptors(modified);
  EXPECT_TRUE(sameSortDescriptors(inner->itemSortDescriptors(), modified)) << "through the top folder";
  EXPECT_EQ(top->itemAdditionalInfoType(), 2);

  top->setItemSortDescriptors(modified);
  EXPECT_TRUE(top->valueForKey("itemSortDescriptorsData").isNull()) << "equal to the inherited ones";
  libraryGroup->setItemSortDescriptors(size);
  EXPECT_TRUE(sameSortDescriptors(top->itemSortDescriptors(), size));
  EXPECT_EQ(inner->itemAdditionalInfoType(), 6);

  top->setItemSortDescriptors(named);
  ASSERT_TRUE(top->valueForKey("itemSortDescriptorsData").data());
  libraryGroup->setItemSortDescriptors(modified);
  EXPECT_TRUE(sameSortDescriptors(inner->itemSortDescriptors(), named));
  inner->setItemSortDescriptors({{"size"}, {"name"}});
  EXPECT_EQ(inner->itemAdditionalInfoType(), 0) << "two descriptors";
  ASSERT_TRUE(context->save());
  auto again = reread<Folder>(inner);
  EXPECT_TRUE(sameSortDescriptors(again->itemSortDescriptors(), {{"size"}, {"name"}}));

  top->setValueForKey("itemSortDescriptorsData", Bytes{'b', 'a', 'd'});
  EXPECT_TRUE(sameSortDescriptors(top->itemSortDescriptors(), modified)) << "unreadable data counts as none";
}

TEST_F(FolderListingTest, SortDescriptorArchivesRefuseAnythingElse) {
  std::vector<SortDescriptor> descriptors{SortDescriptor::localizedStandard("name", false),
                                          {"size", true, SortDescriptor::Comparison::CaseInsensitive}};
  auto data = archivedSortDescriptors(descriptors);
  ASSERT_TRUE(data);
  auto back = unarchivedSortDescriptors(*data);
  ASSERT_TRUE(back);
  EXPECT_TRUE(sameSortDescriptors(*back, descriptors));

  Error error;
  EXPECT_FALSE(unarchivedSortDescriptors(Bytes{'b', 'p', 'l', 'i', 's', 't'}, &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaCoderReadCorruptError));
  auto strings = KeyedArchiver::archivedData(ArchiveObject::array({"name"}));
  error = Error();
  EXPECT_FALSE(unarchivedSortDescriptors(*strings, &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaCoderReadCorruptError));
}

TEST_F(FolderListingTest, TheTrashSortsNewestFirstForEveryFolderInIt) {
  Folder::Ptr outer = make(trash, "Outer"), nested = make(outer, "Nested");
  Date now = Date::now();
  auto stamp = [&](const std::shared_ptr<Item>& it, double ago) {
    it->setValueForKey("dateDeleted", now.addingTimeInterval(-ago));
  };
  auto b = item(trash, "b"), a = item(nested, "a"), old = item(outer, "old");
  stamp(b, 10), stamp(a, 10), stamp(old, 100);
  item(make(root, "Live"), "live");

  auto request = trash->itemsFetchRequest();
  auto found = context->fetch(*request);
  ASSERT_TRUE(found);
  std::vector<std::string> order;
  for (const ManagedObjectPtr& it : *found) order.push_back(*it->valueForKey("filename").string());
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "old"})) << "newest deleted first, ties by name, any depth";
  EXPECT_EQ(trash->itemSortOptions().size(), 2u);
  EXPECT_TRUE(sameSortDescriptors(nested->itemSortDescriptors(), trash->itemSortDescriptors()));

  auto oldest = trash->itemSortOptions()[1].sortDescriptors();
  nested->setItemSortDescriptors(oldest);
  EXPECT_TRUE(sameSortDescriptors(trash->itemSortDescriptors(), oldest)) << "set on the trash folder";
  EXPECT_TRUE(nested->valueForKey("itemSortDescriptorsData").isNull());
  nested->setItemSortDescriptors({{"size"}});
  EXPECT_EQ(nested->itemAdditionalInfoType(), 4);
  EXPECT_EQ(trash->itemAdditionalInfoType(), 4);
  trash->setItemSortDescriptors(trash->itemSortOptions()[0].sortDescriptors());
  EXPECT_TRUE(trash->valueForKey("itemSortDescriptorsData").isNull()) << "newest is the trash's default";
}

TEST_F(FolderListingTest, ListViewModeFollowsTheParentUnlessSet) {
  Folder::Ptr top = make(root, "Top"), inner = make(top, "Inner");
  EXPECT_EQ(root->effectiveListViewMode(), 1) << "the library group's";
  top->setListViewMode(2);
  inner->setListViewMode(2);
  EXPECT_EQ(inner->listViewMode(), 0);
  EXPECT_EQ(inner->effectiveListViewMode(), 2);
  top->setListViewMode(3);
  EXPECT_EQ(inner->effectiveListViewMode(), 3);

  auto search = std::dynamic_pointer_cast<Group>(context->insertNewObject("SearchGroup"));
  search->setObjectForKey("library", LibraryObject::libraryObject(*context, "Library", "Library"));
  search->setListViewMode(1);
  EXPECT_EQ(search->listViewMode(), 0) << "no parent: the library group's mode is inherited";
  search->setListViewMode(4);
  EXPECT_EQ(search->effectiveListViewMode(), 4);
  libraryGroup->setListViewMode(5);
  EXPECT_EQ(libraryGroup->effectiveListViewMode(), 5);
}

TEST_F(FolderListingTest, OutlineAnswers) {
  Folder::Ptr b = make(root, "B"), a = make(root, "A"), c = make(a, "C");
  auto id = [](const Folder::Ptr& f) { return f->identifier(); };
  EXPECT_EQ(root->snapshotIdentifiers(), (std::vector<std::string>{"> A-" + id(a), "B-" + id(b)}));
  a->setValueForKey("expanded", true);
  EXPECT_EQ(root->snapshotIdentifiers(), (std::vector<std::string>{"> A-" + id(a), "C-" + id(c), "B-" + id(b)}));
  EXPECT_TRUE(a->canFocus());
  EXPECT_FALSE(c->canFocus());
  EXPECT_FALSE(root->canFocus());
  EXPECT_TRUE(a->canExport());
  EXPECT_FALSE(b->canExport());
  EXPECT_FALSE(b->confirmBeforeRemoval());
  item(b, "x");
  EXPECT_TRUE(b->confirmBeforeRemoval());
  Folder::Ptr trashed = make(trash, "T");
  make(trashed, "U");
  EXPECT_FALSE(trashed->canExport());
  EXPECT_FALSE(trashed->canFocus());

  auto bundle = std::dynamic_pointer_cast<Group>(context->insertNewObject("Bundle"));
  auto search = std::dynamic_pointer_cast<Group>(context->insertNewObject("SearchGroup"));
  EXPECT_EQ(bundle->snapshotIdentifier(), bundle->name() + "-" + bundle->identifier());
  EXPECT_FALSE(bundle->confirmBeforeRemoval());
  EXPECT_FALSE(bundle->canExport());
  EXPECT_TRUE(search->confirmBeforeRemoval());

  EXPECT_EQ(Folder::propertiesToFetch(),
            (std::vector<std::string>{"identifier", "name", "favorite", "parent", "cloudShareData", "cloudRecordData",
                                      "fileProviderTagData"}));
  EXPECT_TRUE(b->canAcceptItems({}));
}

TEST_F(FolderListingTest, GroupsAcceptItemsThatCanMoveToTheirItemsFolder) {
  Folder::Ptr b = make(root, "B"), elsewhere = make(root, "Elsewhere");
  auto recents =
      std::dynamic_pointer_cast<Group>(LibraryObject::libraryObject(*context, "RecentsGroup", "RecentsGroup"));
  auto x = item(elsewhere, "y");
  auto clash = item(b, "Y");
  auto rootClash = item(root, "y");
  make(b, "sub");
  auto named = item(elsewhere, "sub");

  EXPECT_FALSE(b->canAcceptItems({x}));
  Error error;
  EXPECT_FALSE(x->canAddToGroup(*b, &error));
  EXPECT_TRUE(error.is(kItemErrorDomain, kItemFileExistsErrorCode)) << error.description();
  EXPECT_EQ(error.localizedDescription(), "An item already exists with the same name.");
  EXPECT_EQ(error.userInfoString(kItemExistingItemErrorUserInfoKey), clash->identifier());
  EXPECT_FALSE(x->canAddToGroup(*b)) << "the answer does not depend on an error being asked for";

  EXPECT_FALSE(named->canAddToGroup(*b, &error));
  EXPECT_TRUE(error.is(kItemErrorDomain, kItemFolderExistsErrorCode)) << error.description();
  EXPECT_EQ(error.localizedDescription(), "A folder already exists with the same name.");
  EXPECT_TRUE(clash->canAddToGroup(*b)) << "an item does not clash with itself";
  EXPECT_TRUE(trash->canAcceptItems({x, named, clash}));

  EXPECT_TRUE(recents->canAcceptItems({x})) << "a special group leaves the item in its own folder";
  EXPECT_FALSE(libraryGroup->canAcceptItems({x})) << "the library group's items go to the root folder";
  x->setObjectForKey("folder", trash);
  EXPECT_FALSE(recents->canAcceptItems({x})) << "from the trash an item goes back to the root folder";
  rootClash->setValueForKey("filename", "other");
  EXPECT_TRUE(recents->canAcceptItems({x}));

  x->setValueForKey("filename", Value());
  EXPECT_FALSE(x->canAddToGroup(*b, &error));
  EXPECT_TRUE(error.is(kItemErrorDomain, kItemInvalidFilenameErrorCode));
  EXPECT_EQ(error.localizedDescription(), "No filename provided.");
}

TEST_F(FolderListingTest, ExpansionIsAnnouncedOnlyWhenItChanges) {
  Folder::Ptr folder = make(root, "F");
  ASSERT_TRUE(context->save());
  std::vector<std::string> posted;
  auto& center = NotificationCenter::defaultCenter();
  ObserverToken expand = center.addObserver(kFolderDidExpandNotification, nullptr,
                                            [&](const Notification&) { posted.push_back("expand"); });
  ObserverToken collapse = center.addObserver(kFolderDidCollapseNotification, nullptr,
                                              [&](const Notification&) { posted.push_back("collapse"); });
  folder->setExpanded(true);
  folder->setExpanded(true);
  folder->setExpanded(false);
  dispatchMainSync([] {});
  center.removeObserver(expand);
  center.removeObserver(collapse);
  EXPECT_EQ(posted, (std::vector<std::string>{"expand", "collapse"}));
}

TEST_F(FolderListingTest, ChangedFilesRefreshTheirItems) {
  Folder::Ptr folder = make(root, "Watched");
  auto note = item(folder, "note.txt");
  auto hidden = item(folder, ".hidden");
  ASSERT_TRUE(context->save());
  std::string directory = *folder->folderPath();
  std::string path = directory + "/note.txt";
  std::ofstream(path) << "text";
  std::ofstream(directory + "/.hidden") << "text";
  EXPECT_TRUE(createDirectory(directory + "/plain", false));
  const struct timespec created {1600000000, 0}, modified {1700000000, 0};
  ASSERT_TRUE(setModificationTime(path, modified));
  auto tags = finderTagListData({{"Work", 4}});
  bool withAttributes = setCreationTime(path, created) && setExtensionHidden(path, true) &&
                        setFinderTagsAttribute(path, *tags);
  EXPECT_TRUE(UserDefaults::standard().setBool(true, kItemImportFinderTagsKey));
  EXPECT_TRUE(UserDefaults::standard().setBool(true, kItemUpdateFinderTagsKey));

  for (const char* name : {"note.txt", ".hidden", "plain", "missing"})
    folder->presentedSubitemDidChangeAtURL(fileURLFromPath(directory + "/" + name));
  Folder::checkFilesOperationQueue().waitUntilAllOperationsAreFinished();

  auto refreshed = reread<Item>(note);
  EXPECT_EQ(refreshed->valueForKey("size"), Value(int64_t{4})) << "the check saves its context";
  EXPECT_TRUE(refreshed->dateModified()->matchesToTheSecond(Date::fromTimespec(modified)));
  EXPECT_TRUE(reread<Item>(hidden)->valueForKey("size").isNull()) << "hidden files are not checked";
  if (!withAttributes) GTEST_SKIP() << "no user extended attributes here";
  EXPECT_TRUE(refreshed->dateCreated()->matchesToTheSecond(Date::fromTimespec(created)));
  EXPECT_EQ(refreshed->name(), "note");
  EXPECT_TRUE(refreshed->extensionHidden());
  Value tagData = refreshed->valueForKey("fileProviderTagData");
  ASSERT_TRUE(tagData.data());
  EXPECT_EQ(Tag::tagNamesFromFileProviderTagData(*tagData.data()), std::vector<std::string>{"Work"});
  std::vector<ManagedObjectPtr> itemTags = refreshed->objectsForKey("tags");
  ASSERT_EQ(itemTags.size(), 1u);
  EXPECT_EQ(std::dynamic_pointer_cast<Tag>(itemTags.front())->fileLabelColor(), 4);
}

TEST_F(FolderListingTest, SignalsTheFolderEnumeratorOnlyForALibraryShownThroughTheFileProvider) {
  Folder::Ptr folder = make(root, "F");
  FileProviderDomain domain{"listing.test", "Test"};
  manager->setFileProviderDomain(domain);
  auto domainManager = FileProviderDomainManager::managerForDomain(domain, manager->groupContainerPath());
  std::vector<std::string> signalled;
  domainManager->setSignalObserver([&](const std::string& container) { signalled.push_back(container); });
  folder->signalFileProviderFolderDidChange();
  EXPECT_TRUE(signalled.empty()) << "the library is not served by the file provider";

  libraryObject->setValueForKey("useFileProvider", true);
  folder->signalFileProviderFolderDidChange();
  root->signalFileProviderFolderDidChange();
  EXPECT_EQ(signalled, (std::vector<std::string>{folder->fileProviderItemIdentifier(), kRootContainerItemIdentifier}));

  FileProviderDomainManager::removeDomain(domain, manager->groupContainerPath());
  testing::internal::CaptureStderr();
  folder->signalFileProviderFolderDidChange();
  std::string logged = testing::internal::GetCapturedStderr();
  FileProviderDomainManager::addDomain(domain, manager->groupContainerPath());
  EXPECT_NE(logged.find("Couldn't signal working set changed after fetch changes: "), std::string::npos) << logged;
  EXPECT_EQ(signalled.size(), 2u);
  domainManager->setSignalObserver(nullptr);
}

TEST(ItemSortOptionTest, SingleKeyAndFixedOptions) {
  auto byName = ItemSortOption::withKey("Name", "name", SortDescriptor::Comparison::LocalizedStandard);
  EXPECT_TRUE(
      sameSortDescriptors(byName.descendingSortDescriptors(), {SortDescriptor::localizedStandard("name", false)}));
  EXPECT_EQ(byName.ascendingString(), "Ascending");
  auto modified = ItemSortOption::withKey("Modified", "dateModified");
  std::vector<SortDescriptor> stored{{"dateModified", false}};
  EXPECT_TRUE(modified.matchesSortDescriptors(stored));
  EXPECT_FALSE(ItemSortOption::sortDescriptorsAscending(stored));
  EXPECT_EQ(ItemSortOption::withKey("Created", "dateCreated").ascendingString(), "Oldest to Newest");
  std::vector<SortDescriptor> custom{{"label.name"}, {"name"}};
  auto fixed = ItemSortOption::withSortDescriptors("Label", custom);
  EXPECT_FALSE(fixed.canChangeOrder());
  EXPECT_TRUE(sameSortDescriptors(fixed.descendingSortDescriptors(), custom));
  EXPECT_TRUE(fixed.matchesSortDescriptors(custom));
  EXPECT_FALSE(fixed.matchesSortDescriptors({{"name"}, {"label.name"}}));
}

}  // namespace
}  // namespace qlt

namespace qlt {
namespace {

// A page of descriptors works a folder's place out once; once the page is
// done, a rename or move shows at once, even after nested pages.
TEST_F(FolderListingTest, RememberedPlacesLastOnlyAsLongAsTheOutermostPage) {
  Folder::Ptr parent = make(root, "Parent");
  Folder::Ptr child = make(parent, "Child");
  Folder::Ptr elsewhere = make(root, "Elsewhere");
  ASSERT_TRUE(context->save());
  std::string before = *child->folderPath();
  {
    FolderAnswers page;
    EXPECT_EQ(child->folderPath(), before);
    {
      FolderAnswers nested;
      EXPECT_EQ(child->folderPath(), before);
    }
    child->setValueForKey("name", "Renamed");
    EXPECT_EQ(child->folderPath(), before) << "remembered for the rest of the page";
    child->setValueForKey("name", "Child");
  }
  ASSERT_TRUE(child->moveToFolder(elsewhere));
  EXPECT_EQ(child->folderPath(), *elsewhere->folderPath() + "/Child");
  EXPECT_EQ(child->library(), elsewhere->library());
  EXPECT_FALSE(child->isShared());
}

}  // namespace
}  // namespace qlt
