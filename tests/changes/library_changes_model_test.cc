#include "changes/library_changes_model.h"

#include <gtest/gtest.h>

#include "support/scratch_directory.h"
#include "platform/objectstore/persistent_container.h"

namespace qlt {
namespace {

TEST(LibraryChangesModelTest, BuildsAndKeepsChangeRecordsWithTheirSet) {
  auto model = libraryChangesModel();
  ASSERT_TRUE(model);
  EXPECT_EQ(model, libraryChangesModel());
  EXPECT_EQ(model->name(), kLibraryChangesModelName);
  EXPECT_EQ(model->entities().size(), 4u);

  ScratchDirectory scratch;
  PersistentContainer container(kLibraryChangesModelName, model, scratch.path());
  Error error;
  container.loadPersistentStores([&](const PersistentStoreDescription&, const Error* loadError) {
    if (loadError) error = *loadError;
  });
  ASSERT_TRUE(container.isLoaded()) << error.description();
  auto context = container.newBackgroundContext();
  auto changeSet = context->insertNewObject(kChangeSetEntityName);
  EXPECT_EQ(changeSet->valueForKey("status"), Value(0)) << "a new set is pending";
  auto record = context->insertNewObject(kChangeRecordEntityName);
  record->setValueForKey("recordName", "Item|A");
  record->setObjectForKey("changeSet", changeSet);
  auto deleted = context->insertNewObject(kDeletedFileProviderItemEntityName);
  deleted->setValueForKey("fileProviderItemIdentifier", "Item|B");
  ASSERT_TRUE(context->insertNewObject(kDeletedRecordEntityName));
  ASSERT_TRUE(context->save(&error)) << error.description();

  auto other = container.newBackgroundContext();
  auto storedSet = other->objectWithID(changeSet->objectID());
  ASSERT_EQ(storedSet->objectsForKey("changeRecords").size(), 1u);
  other->deleteObject(storedSet);
  ASSERT_TRUE(other->save(&error)) << error.description();
  auto remaining = container.newBackgroundContext()->fetch(FetchRequest(kChangeRecordEntityName), &error);
  ASSERT_TRUE(remaining) << error.description();
  EXPECT_TRUE(remaining->empty()) << "records go with their set";
}

}  // namespace
}  // namespace qlt
