#include "store/library_model.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "support/scratch_directory.h"
#include "platform/objectstore/persistent_container.h"
#include "platform/objectstore/persistent_store.h"
#include "platform/objectstore/predicate.h"

namespace qlt {
namespace {

const EntityDescription& entityNamed(const std::string& name) {
  const EntityDescription* entity = libraryModel()->entity(name);
  if (!entity) throw std::runtime_error("no entity " + name);
  return *entity;
}

std::optional<int> cloudRank(const EntityDescription& entity) {
  auto value = entity.userInfoValue(kCloudRecordOrderingKey);
  if (!value || value->empty() || value->find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return std::stoi(*value);
}

int rankOf(const std::string& name) { return cloudRank(entityNamed(name)).value_or(-1); }

bool annotated(const PropertyDescription& property, const char* key) {
  return property.userInfoValue(key) == std::optional<std::string>(kAnnotationYes);
}

TEST(LibraryModelTest, BuildsOnceWithEveryEntityAndThePairedRelationships) {
  auto model = libraryModel();
  ASSERT_TRUE(model);
  EXPECT_EQ(model, libraryModel());
  EXPECT_EQ(model->name(), kLibraryContainerName);
  EXPECT_EQ(model->entities().size(), 25u);
  EXPECT_EQ(entityNamed(kBundleEntityName).superentity(), &entityNamed(kItemGroupEntityName));
  EXPECT_EQ(entityNamed(kRootFolderEntityName).rootEntity().name(), kGroupEntityName);

  for (const EntityDescription* entity : model->entities()) {
    for (const auto& property : entity->declaredProperties()) {
      SCOPED_TRACE(entity->name() + "." + property->name());
      for (const auto& [key, value] : property->userInfo()) EXPECT_TRUE(value == "YES" || value == "NO") << key;
      if (property->isAttribute()) continue;
      auto relationship = static_cast<const RelationshipDescription*>(property.get());
      const RelationshipDescription* inverse = relationship->inverseRelationship();
      ASSERT_TRUE(inverse);
      EXPECT_EQ(inverse->inverseRelationship(), relationship);
      EXPECT_TRUE(entity->isKindOfEntity(inverse->destinationEntity()));
      if (relationship->deleteRule() == DeleteRule::Cascade) {
        EXPECT_NE(inverse->deleteRule(), DeleteRule::Cascade) << "ownership runs one way";
        EXPECT_LE(cloudRank(*entity), cloudRank(relationship->destinationEntity())) << "owner uploads first";
      }
    }
  }
  // Ownership of the folder tree and of an item's parts.
  EXPECT_EQ(entityNamed(kFolderEntityName).relationship("children")->deleteRule(), DeleteRule::Cascade);
  EXPECT_TRUE(entityNamed(kFolderEntityName).relationship("children")->isOrdered());
  EXPECT_EQ(entityNamed(kFolderEntityName).relationship("items")->deleteRule(), DeleteRule::Cascade);
  EXPECT_EQ(entityNamed(kItemEntityName).relationship("attachments")->deleteRule(), DeleteRule::Cascade);
}

TEST(LibraryModelTest, EveryEntityHasACloudRankThatPutsContainersFirst) {
  for (const EntityDescription* entity : libraryModel()->entities())
    EXPECT_TRUE(cloudRank(*entity)) << entity->name();
  EXPECT_LT(rankOf(kLibraryEntityName), rankOf(kRootFolderEntityName));
  EXPECT_LT(rankOf(kRootFolderEntityName), rankOf(kFolderEntityName));
  EXPECT_LT(rankOf(kFolderEntityName), rankOf(kItemEntityName));
  EXPECT_LT(rankOf(kLabelEntityName), rankOf(kItemEntityName));
  EXPECT_LT(rankOf(kTagEntityName), rankOf(kItemEntityName));
  EXPECT_LT(rankOf(kStationeryEntityName), rankOf(kItemEntityName));
  EXPECT_LT(rankOf(kItemEntityName), rankOf(kItemAttachmentEntityName));
  EXPECT_LT(rankOf(kItemEntityName), rankOf(kSharedItemEntityName));
}

TEST(LibraryModelTest, SystemObjectsAreExactlyTheSingletons) {
  std::set<std::string> systemObjects;
  for (const EntityDescription* entity : libraryModel()->entities()) {
    auto value = entity->userInfoValue(kEntityIsSystemObjectKey);
    if (value == std::optional<std::string>("YES")) systemObjects.insert(entity->name());
  }
  EXPECT_EQ(systemObjects,
            (std::set<std::string>{"Library", "RootFolder", "TrashFolder", "SharedFolder", "LibraryGroup",
                                   "RecentsGroup", "FavoriteItemsGroup", "NoLabelGroup", "UnfiledGroup",
                                   "CloudDefaults"}));
}

TEST(LibraryModelTest, RecordBookkeepingAndDeviceStateStayLocal) {
  for (const EntityDescription* root : libraryModel()->rootEntities()) {
    SCOPED_TRACE(root->name());
    for (const char* name : {"identifier", "cloudRecordData", "dateRecordChanged"})
      ASSERT_TRUE(root->attribute(name)) << name;
    EXPECT_TRUE(root->attribute("identifier")->isIndexed());
    EXPECT_FALSE(annotated(*root->attribute("identifier"), kExcludeFromCloudDatabaseKey));
    for (const char* name : {"cloudRecordData", "dateRecordChanged"}) {
      EXPECT_TRUE(annotated(*root->attribute(name), kExcludeFromCloudDatabaseKey)) << name;
      EXPECT_TRUE(annotated(*root->attribute(name), kExcludeFromPropertyListKey)) << name;
    }
  }
  const EntityDescription& item = entityNamed(kItemEntityName);
  for (const char* name : {"metadataState", "cloudFileDownloadStatus", "fileProviderMaterialized", "cloudShareData"})
    EXPECT_TRUE(annotated(*item.attribute(name), kExcludeFromCloudDatabaseKey)) << name;
  // Recognized text travels as an asset but belongs to the item's content.
  EXPECT_TRUE(annotated(*item.attribute("textRecognitionData"), kExcludeFromCloudDatabaseKey));
  EXPECT_FALSE(annotated(*item.attribute("textRecognitionData"), kExcludeFromPropertyListKey));
  // A library's first cloud store is a fact that every device learns from the record.
  EXPECT_FALSE(annotated(*entityNamed(kLibraryEntityName).attribute("firstCloudStoreCompleted"),
                         kExcludeFromCloudDatabaseKey));
  EXPECT_TRUE(annotated(*entityNamed(kLibraryEntityName).attribute("clientChangeTokenData"),
                        kExcludeFromCloudDatabaseKey));

  for (const char* name : {"folder", "label", "tags"})
    EXPECT_FALSE(annotated(*item.relationship(name), kExcludeFromMetadataKey)) << name;
  for (const char* name : {"groups", "attachments", "stationery"})
    EXPECT_TRUE(annotated(*item.relationship(name), kExcludeFromMetadataKey)) << name;
}

TEST(LibraryModelTest, SchemaOpensAndStoresNewObjectsWithTheirDefaults) {
  ScratchDirectory scratch;
  Error error;
  auto store = PersistentStore::open(scratch.path("Library.sqlite"), libraryModel(), {}, &error);
  ASSERT_TRUE(store) << error.description();
  store.reset();

  PersistentContainer container(kLibraryContainerName, libraryModel(), scratch.path());
  container.loadPersistentStores([&](const PersistentStoreDescription&, const Error* loadError) {
    if (loadError) error = *loadError;
  });
  ASSERT_TRUE(container.isLoaded()) << error.description();
  auto context = container.newBackgroundContext();
  auto library = context->insertNewObject(kLibraryEntityName);
  auto rootFolder = context->insertNewObject(kRootFolderEntityName);
  auto trashFolder = context->insertNewObject(kTrashFolderEntityName);
  auto label = context->insertNewObject(kLabelEntityName);
  auto item = context->insertNewObject(kItemEntityName);
  ASSERT_TRUE(library && rootFolder && trashFolder && label && item);
  library->setObjectForKey("rootFolder", rootFolder);
  library->setObjectForKey("trashFolder", trashFolder);
  library->addObjectForKey("labels", label);
  item->setObjectForKey("folder", rootFolder);
  ASSERT_TRUE(context->save(&error)) << error.description();

  auto other = container.newBackgroundContext();
  auto stored = other->objectWithID(item->objectID());
  EXPECT_EQ(stored->valueForKey("cloudFileDownloadStatus"), Value(0)) << "trash listings compare it with 5";
  EXPECT_EQ(stored->valueForKey("fileProviderMaterialized"), Value(false));
  EXPECT_TRUE(stored->valueForKey("size").isNull());
  EXPECT_EQ(stored->objectForKey("folder")->objectID(), rootFolder->objectID());
  // The system folders and the labels keep their library in the same column
  // of the group table; each relationship still sees only its own objects.
  auto storedLibrary = other->objectWithID(library->objectID());
  auto labels = storedLibrary->objectsForKey("labels");
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels.front()->objectID(), label->objectID());
  EXPECT_EQ(storedLibrary->objectForKey("trashFolder")->objectID(), trashFolder->objectID());
  FetchRequest withOneLabel(kLibraryEntityName);
  withOneLabel.predicate = Predicate::withFormat("labels.@count == 1");
  auto found = other->fetch(withOneLabel, &error);
  ASSERT_TRUE(found) << error.description();
  EXPECT_EQ(found->size(), 1u);
}

}  // namespace
}  // namespace qlt
