#include "model/shared_item.h"

#include <gtest/gtest.h>

#include "folder_fixture.h"
#include "model/tag.h"
#include "platform/cloud/cloud_test_support.h"
#include "store/library_manager.h"

namespace qlt {
namespace {

class SharedItemTest : public FolderFixture {
 protected:
  std::shared_ptr<SharedItem> sharedItemFor(const std::shared_ptr<Item>& owner) {
    auto shared = std::dynamic_pointer_cast<SharedItem>(context->insertNewObject("SharedItem"));
    shared->setItem(owner);
    return shared;
  }
  ManagedObjectPtr named(const char* entity, const std::string& identifier) {
    ManagedObjectPtr object = context->insertNewObject(entity);
    object->setValueForKey("identifier", identifier);
    return object;
  }
};

TEST_F(SharedItemTest, KeepsTheItemsPersonalValuesByIdentifierInStep) {
  Folder::Ptr first = make(root, "First");
  Folder::Ptr second = make(root, "Second");
  auto owner = item(first, "note.txt");
  ManagedObjectPtr tagB = named("Tag", "B"), tagA = named("Tag", "A");
  owner->addObjectForKey("tags", tagB);
  owner->addObjectForKey("tags", tagA);
  owner->setFavorite(true);
  auto shared = sharedItemFor(owner);
  EXPECT_EQ(*shared->valueForKey("tagIdentifiers").string(), "A,B");
  EXPECT_EQ(*shared->valueForKey("groupIdentifiers").string(), "");
  EXPECT_TRUE(shared->groups().empty());
  EXPECT_EQ(shared->folder(), first);
  EXPECT_TRUE(shared->favorite());

  second->addItemsObject(owner);
  EXPECT_EQ(*shared->valueForKey("folderIdentifier").string(), second->identifier());
  owner->addGroupsObject(libraryGroup);
  ManagedObjectPtr bundle = named("Bundle", "0-BUNDLE");
  owner->addGroupsObject(bundle);
  EXPECT_EQ(*shared->valueForKey("groupIdentifiers").string(), "0-BUNDLE,LibraryGroup");
  ManagedObjectPtr label = named("Label", "RED");
  owner->setLabel(label);
  EXPECT_EQ(shared->label(), label);
  owner->removeObjectForKey("tags", tagB);
  Tag::updateTagNamesOfItem(*owner);
  EXPECT_EQ(*shared->valueForKey("tagIdentifiers").string(), "A");
  owner->setFavorite(false);
  EXPECT_FALSE(shared->favorite());

  auto loose = item(first, "loose.txt");
  first->removeItemsObject(loose);
  second->addItemsObject(loose);
  EXPECT_FALSE(loose->objectForKey("sharedItem")) << "no shared item is made on the way";
}

TEST_F(SharedItemTest, RecordsLieInTheLibraryZoneNamedByTheItem) {
  auto owner = item(root, "note.txt");
  auto shared = sharedItemFor(owner);
  EXPECT_EQ(shared->cloudRecordID(), RecordID("SharedItem|" + owner->identifier(), LibraryManager::libraryZoneID()));
  owner->setValueForKey("sharedItemIdentifier", "OTHER");
  EXPECT_EQ(shared->cloudRecordID().recordName, "SharedItem|OTHER");
  EXPECT_EQ(SharedItem::itemForSharedItemWithIdentifier("OTHER", *context), owner);
  EXPECT_EQ(SharedItem::itemForSharedItemWithIdentifier(owner->identifier(), *context), owner);
  EXPECT_FALSE(SharedItem::itemForSharedItemWithIdentifier("nobody", *context));

  Folder::Ptr folder = make(root, "Team");
  auto attributes = std::dynamic_pointer_cast<SharedFolderAttributes>(context->insertNewObject("SharedFolderAttributes"));
  attributes->setObjectForKey("folder", folder);
  EXPECT_EQ(attributes->cloudRecordID().recordName, "SharedFolderAttributes|" + folder->identifier());
  EXPECT_EQ(SharedFolderAttributes::folderForSharedAttributesIdentifier(folder->identifier(), *context), folder);
}

TEST_F(SharedItemTest, RoundTripsThroughTheCloudStoreKeepingIdentifiersNotYetHere) {
  Error error;
  auto cloud = EmbeddedCloudContainer::open("iCloud.test", scratch.path() + "/Cloud", &error);
  ASSERT_TRUE(cloud) << error.description();
  ASSERT_TRUE(cloud->ensureZone(CloudDatabaseScope::Private, LibraryManager::libraryZoneID()));

  Folder::Ptr folder = make(root, "Filed");
  auto owner = item(folder, "note.txt");
  owner->addObjectForKey("tags", named("Tag", "T2"));
  owner->addObjectForKey("tags", named("Tag", "T1"));
  owner->setLabel(named("Label", "L1"));
  owner->setFavorite(true);
  auto shared = sharedItemFor(owner);
  CloudRecord record("SharedItem", shared->cloudRecordID());
  shared->updateRecordWithCurrentValues(record);
  EXPECT_EQ(record.allKeys(), (std::vector<std::string>{"favorite", "folder", "groups", "label", "tags"}));
  ModifyOutcome saved = modify(*cloud->privateCloudDatabase(), {record});
  ASSERT_FALSE(saved.error) << saved.error->description();
  FetchOutcome fetched = fetch(*cloud->privateCloudDatabase(), {record.recordID()});
  ASSERT_FALSE(fetched.error) << fetched.error->description();
  const CloudRecord& stored = fetched.records.at(record.recordID());

  auto copy = std::dynamic_pointer_cast<SharedItem>(context->insertNewObject("SharedItem"));
  copy->updateFromCloudRecord(stored);
  EXPECT_EQ(copy->folder(), folder);
  EXPECT_EQ(copy->label(), owner->objectForKey("label"));
  EXPECT_EQ(*copy->valueForKey("tagIdentifiers").string(), "T1,T2");
  EXPECT_EQ(copy->tags().size(), 2u);

  CloudRecord elsewhere = stored;
  elsewhere.setObjectForKey("folder", CloudValue(CloudReference{RecordID("Folder|NOT-YET", LibraryManager::libraryZoneID())}));
  elsewhere.removeObjectForKey("label");
  copy->updateFromCloudRecord(elsewhere);
  EXPECT_EQ(*copy->valueForKey("folderIdentifier").string(), "NOT-YET");
  EXPECT_FALSE(copy->folder()) << "the folder is not here yet";
  EXPECT_TRUE(copy->valueForKey("labelIdentifier").isNull());
  Folder::Ptr arriving = make(root, "Arriving");
  arriving->setValueForKey("identifier", "NOT-YET");
  EXPECT_EQ(copy->folder(), arriving);
}

}  // namespace
}  // namespace qlt
