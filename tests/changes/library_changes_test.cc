#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "changes/library_change_deleted_file_provider_item.h"
#include "changes/library_change_deleted_record.h"
#include "changes/library_change_record.h"
#include "changes/library_change_set.h"
#include "changes/library_changes_model.h"
#include "support/scratch_directory.h"
#include "platform/objectstore/managed_object_context.h"
#include "platform/objectstore/persistent_container.h"

namespace qlt {
namespace {

class LibraryChangesTest : public ::testing::Test {
 protected:
  LibraryChangesTest() : container_(kLibraryChangesModelName, libraryChangesModel(), scratch_.path()) {
    container_.loadPersistentStores([](const PersistentStoreDescription&, const Error*) {});
    context = container_.newBackgroundContext();
  }

  std::vector<ManagedObjectPtr> all(const char* entity) {
    return *container_.newBackgroundContext()->fetch(FetchRequest(entity));
  }

  ScratchDirectory scratch_;
  PersistentContainer container_;
  std::shared_ptr<ManagedObjectContext> context;
  RecordID item{"Item|A", RecordZoneID("Library", "_owner42")};
  RecordID tag{"Tag|T", RecordZoneID("Library", "_owner42")};
  RecordID folder{"Folder|F", RecordZoneID()};
};

TEST_F(LibraryChangesTest, ChangeSetHoldsRecordsOfEachKindWithTheirKeys) {
  ASSERT_TRUE(container_.isLoaded());
  auto set = LibraryChangeSet::changeRecordSet({tag}, {item}, {{item, {"name", "filename"}}, {tag, {"x"}}}, {},
                                               *context);
  ASSERT_TRUE(set);
  EXPECT_EQ(set->status(), LibraryChangeSetStatus::Pending);
  EXPECT_EQ(set->identifier().size(), 36u);
  for (char c : set->identifier()) EXPECT_FALSE(c >= 'a' && c <= 'z');
  ASSERT_TRUE(set->date());
  ASSERT_TRUE(context->save());

  auto stored = all(kChangeRecordEntityName);
  ASSERT_EQ(stored.size(), 2u);
  for (const ManagedObjectPtr& object : stored) {
    auto record = std::dynamic_pointer_cast<LibraryChangeRecord>(object);
    ASSERT_TRUE(record) << "the class is registered with the model";
    ASSERT_TRUE(record->recordID());
    if (record->changeType() == LibraryChangeType::Insert) {
      EXPECT_EQ(*record->recordID(), tag) << "zone and owner survive";
      EXPECT_FALSE(record->changedKeys()) << "inserted records carry no keys";
    } else {
      EXPECT_EQ(record->changeType(), LibraryChangeType::Update);
      EXPECT_EQ(*record->recordID(), item);
      EXPECT_EQ(record->recordName(), record->recordID()->recordName);
      std::string names = *record->valueForKey("changedKeyNames").string();
      EXPECT_TRUE(names == "filename,name" || names == "name,filename") << names;
      EXPECT_EQ(record->changedKeys(), (std::set<std::string>{"name", "filename"}));
    }
  }

  auto deletions = LibraryChangeSet::changeRecordSet({}, {}, {{item, {"name"}}}, {item, folder}, *context);
  ASSERT_EQ(deletions->changeRecords().size(), 2u);
  for (const auto& record : deletions->changeRecords()) {
    EXPECT_EQ(record->changeType(), LibraryChangeType::Delete);
    EXPECT_FALSE(record->changedKeys());
  }
  deletions->setStatus(LibraryChangeSetStatus::HandedToCloudUpload);
  ASSERT_TRUE(context->save());
  auto reread = std::dynamic_pointer_cast<LibraryChangeSet>(
      container_.newBackgroundContext()->existingObjectWithID(deletions->objectID()));
  EXPECT_EQ(reread->status(), LibraryChangeSetStatus::HandedToCloudUpload);
}

TEST_F(LibraryChangesTest, RecordIDAndKeysFollowTheirStoredForms) {
  auto record = LibraryChangeRecord::changeRecord(LibraryChangeType::Update, item, {}, *context);
  EXPECT_TRUE(record->valueForKey("changedKeyNames").isNull()) << "an empty set stores nothing";
  EXPECT_FALSE(record->changedKeys());
  record->setValueForKey("changedKeyNames", "");
  EXPECT_FALSE(record->changedKeys());

  EXPECT_EQ(RecordID::fromArchivedData(*record->valueForKey("recordIDData").data())->recordName,
            *record->valueForKey("recordName").string());
  record->setValueForKey("recordIDData", Bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0', 1, 2});
  EXPECT_FALSE(record->recordID()) << "a cached value for other data is not used";
  EXPECT_EQ(record->recordName(), "Item|A") << "row unchanged";

  record->setRecordID(std::nullopt);
  EXPECT_TRUE(record->valueForKey("recordIDData").isNull());
  EXPECT_TRUE(record->valueForKey("recordName").isNull());
  EXPECT_FALSE(record->recordID());

  auto deletedRow = LibraryChangeDeletedRecord::deletedRecord(folder, *context);
  EXPECT_EQ(deletedRow->recordName(), "Folder|F");
  EXPECT_TRUE(deletedRow->dateRecordDeleted());
}

TEST_F(LibraryChangesTest, DeletedItemsAreReportedOnceAndOnlyAfterTheAnchor) {
  auto early = LibraryChangeDeletedFileProviderItem::deletedFileProviderItem("Item|early", *context);
  early->setValueForKey("dateDeleted", Date(1000));
  auto atAnchor = LibraryChangeDeletedFileProviderItem::deletedFileProviderItem("Item|anchor", *context);
  atAnchor->setValueForKey("dateDeleted", Date(2000));
  auto late = LibraryChangeDeletedFileProviderItem::deletedFileProviderItem("Item|late", *context);
  late->setValueForKey("dateDeleted", Date(3000));
  ASSERT_TRUE(context->save());

  Error error;
  auto reported = LibraryChangeDeletedFileProviderItem::consumeDeletedItemIdentifiers(*context, Date(2000), &error);
  ASSERT_TRUE(reported) << error.description();
  EXPECT_EQ(*reported, std::vector<std::string>{"Item|late"});
  EXPECT_EQ(all(kDeletedFileProviderItemEntityName).size(), 2u) << "rows at or before the anchor stay";
  EXPECT_TRUE(LibraryChangeDeletedFileProviderItem::consumeDeletedItemIdentifiers(*context, Date(2000))->empty());

  reported = LibraryChangeDeletedFileProviderItem::consumeDeletedItemIdentifiers(*context, std::nullopt);
  ASSERT_TRUE(reported);
  EXPECT_EQ(std::set<std::string>(reported->begin(), reported->end()),
            (std::set<std::string>{"Item|early", "Item|anchor"}));
  EXPECT_TRUE(all(kDeletedFileProviderItemEntityName).empty());
}

}  // namespace
}  // namespace qlt
