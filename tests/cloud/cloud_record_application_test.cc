#include <gtest/gtest.h>

#include "cloud_upload_fixture.h"
#include "store/cloud_record_fields.h"

namespace qlt {
namespace {

using CloudRecordApplicationTest = CloudUploadTest;

CloudValue referenceTo(const RecordID& recordID) { return CloudValue(CloudReference{recordID}); }

TEST_F(CloudRecordApplicationTest, RecordsMakeNewObjectsAndUpdateSystemObjects) {
  RecordID folderID("Folder|F-1", LibraryManager::libraryZoneID());
  CloudRecord record("Folder", folderID);
  record.setObjectForKey("identifier", CloudValue("F-1"));
  record.setObjectForKey("name", CloudValue("From Cloud"));
  record.setObjectForKey("groupType", CloudValue(100));
  record.setObjectForKey("parent", referenceTo(root->cloudRecordID()));
  record.setObjectForKey("dateRecordChanged", CloudValue(Date(5)));
  record.setObjectForKey("cloudRecordData", CloudValue(Bytes{1, 2}));
  auto folder = std::dynamic_pointer_cast<Folder>(LibraryObject::libraryObjectFromCloudRecord(record, *context));
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->identifier(), "F-1");
  EXPECT_EQ(folder->name(), "From Cloud");
  EXPECT_EQ(folder->parentFolder(), root);
  EXPECT_FALSE(folder->dateRecordChanged());
  auto stored = RecordSystemFields::fromArchivedData(*folder->valueForKey("cloudRecordData").data());
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->recordID, folderID);
  EXPECT_TRUE(folder->folderExists());

  CloudRecord libraryRecord("Library", RecordID("Library|Library", LibraryManager::libraryZoneID()));
  libraryRecord.setObjectForKey("cloudGenerationIdentifier", CloudValue("generation"));
  auto updated = LibraryObject::libraryObjectFromCloudRecord(libraryRecord, *context);
  ASSERT_TRUE(updated);
  EXPECT_EQ(updated->valueForKey("cloudGenerationIdentifier"), Value("generation"));
  EXPECT_EQ(*context->count(FetchRequest("Library")), 1);
}

TEST_F(CloudRecordApplicationTest, RelationshipsFollowTheRecord) {
  auto item = newItem(root, "Linking");
  auto first = newItem(root, "First");
  auto second = newItem(root, "Second");
  auto label = context->insertNewObject("Label");
  item->setObjectForKey("label", label);
  ASSERT_TRUE(context->save());

  CloudRecord record = item->cloudRecord();
  record.setObjectForKey("outgoingLinkedItems",
                         CloudValue(CloudList{referenceTo(first->cloudRecordID()), referenceTo(second->cloudRecordID()),
                                              referenceTo(RecordID("Item|MISSING", LibraryManager::libraryZoneID()))}));
  record.setObjectForKey("label", referenceTo(RecordID("Label|UNKNOWN", LibraryManager::libraryZoneID())));
  item->updateFromCloudRecord(record);
  EXPECT_EQ(item->objectsForKey("outgoingLinkedItems").size(), 2u);
  EXPECT_EQ(item->objectForKey("label"), label) << "an unknown reference keeps the relationship";
  record.removeObjectForKey("label");
  item->updateFromCloudRecord(record);
  EXPECT_FALSE(item->objectForKey("label"));

  auto previous = context->insertNewObject("ItemTextInfo");
  previous->setObjectForKey("item", item);
  ASSERT_TRUE(context->save());
  CloudRecord textInfo("ItemTextInfo", RecordID("ItemTextInfo|T-2", LibraryManager::libraryZoneID()));
  textInfo.setObjectForKey("identifier", CloudValue("T-2"));
  textInfo.setObjectForKey("item", referenceTo(item->cloudRecordID()));
  auto replacement = LibraryObject::libraryObjectFromCloudRecord(textInfo, *context);
  ASSERT_TRUE(replacement);
  EXPECT_TRUE(previous->isDeleted()) << "the cascading one-to-one partner is replaced";
  EXPECT_EQ(item->objectForKey("textInfo"), replacement);
}

TEST_F(CloudRecordApplicationTest, FolderRecordsKeepRefusedMovesLocal) {
  Folder::Ptr moved = newFolder(root, "Moved");
  Folder::Ptr inside = newFolder(moved, "Inside");
  Folder::Ptr other = newFolder(root, "Other");
  ASSERT_TRUE(context->save());

  CloudRecord intoItself = moved->cloudRecord();
  intoItself.setObjectForKey("parent", referenceTo(inside->cloudRecordID()));
  intoItself.setObjectForKey("name", CloudValue("Renamed"));
  moved->updateFromCloudRecord(intoItself);
  EXPECT_EQ(moved->parentFolder(), root);
  EXPECT_EQ(moved->name(), "Moved");

  CloudRecord allowed = moved->cloudRecord();
  allowed.setObjectForKey("parent", referenceTo(other->cloudRecordID()));
  moved->updateFromCloudRecord(allowed);
  EXPECT_EQ(moved->parentFolder(), other);
  EXPECT_TRUE(moved->folderExists());
  EXPECT_EQ(*moved->cloudRecord().objectForKey(kFolderCloudRecordDepthKey), CloudValue(2));
}

TEST_F(CloudRecordApplicationTest, ChangedKeysIgnoreEqualValuesAndLocalProperties) {
  auto item = newItem(root, "Keys");
  item->setValueForKey("comments", "same");
  ASSERT_TRUE(context->save());
  item->setValueForKey("comments", "same");
  item->setValueForKey("name", "Other");
  item->setValueForKey("fileProviderMaterialized", true);
  item->setValueForKey("textRecognitionDataNeedsUpload", true);
  std::map<std::string, Value> changes{{"comments", Value("same")},
                                       {"name", Value("Other")},
                                       {"fileProviderMaterialized", Value(true)},
                                       {"textRecognitionDataNeedsUpload", Value(true)}};
  EXPECT_EQ(item->changedCloudRecordKeysForChangedValues(changes),
            (std::set<std::string>{"name", kItemCloudTextRecognitionDataNeedsUploadKey}));
  EXPECT_EQ(estimatedRecordSize(item->cloudRecord()) > 0, true);
}

}  // namespace
}  // namespace qlt
