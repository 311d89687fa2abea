#include "store/library_object.h"

#include <gtest/gtest.h>

#include <regex>

#include "library_fixture.h"
#include "store/cloud_record_fields.h"
#include "platform/cloud/cloud_error.h"
#include "store/library_model_constants.h"

namespace qlt {
namespace {

class LibraryObjectTest : public ::testing::Test, public LibraryFixture {
 protected:
  std::shared_ptr<ManagedObjectContext> context = manager->newBackgroundContext();

  LibraryObject::Ptr insert(const std::string& entity, const std::string& name = {}) {
    auto object = std::dynamic_pointer_cast<LibraryObject>(context->insertNewObject(entity));
    if (object && !name.empty()) object->setValueForKey("name", name);
    return object;
  }
  LibraryObject::Ptr root() { return LibraryObject::libraryObject(*context, "RootFolder", "RootFolder"); }
};

TEST_F(LibraryObjectTest, NewLibraryHasItsSevenSystemObjects) {
  ASSERT_TRUE(library) << loadError.description();
  view().performAndWait([&] {
    EXPECT_EQ(library->identifier(), "Library");
    EXPECT_TRUE(library->boolForKey("downloadAllItems"));
    for (auto [relationship, entity] : {std::pair{"libraryGroup", "LibraryGroup"}, {"recentsGroup", "RecentsGroup"},
                                        {"favoriteItemsGroup", "FavoriteItemsGroup"}, {"rootFolder", "RootFolder"},
                                        {"trashFolder", "TrashFolder"}, {"sharedFolder", "SharedFolder"},
                                        {"noLabelGroup", "NoLabelGroup"}}) {
      auto object = std::dynamic_pointer_cast<LibraryObject>(library->objectForKey(relationship));
      ASSERT_TRUE(object) << relationship;
      EXPECT_EQ(object->identifier(), entity);
      EXPECT_EQ(object->objectForKey("library"), library);
      EXPECT_EQ(*view().count(FetchRequest(entity)), 1) << entity;
    }
    EXPECT_EQ(library->objectForKey("rootFolder")->valueForKey("groupType"), Value(kRootFolderGroupType));
    EXPECT_FALSE(library->dateRecordChanged()) << "the first save comes before the stamping observer";
    library->setValueForKey("fileProviderImportComplete", true);
    ASSERT_TRUE(manager->saveLibrary());
    EXPECT_TRUE(library->dateRecordChanged()) << "later view-context saves are stamped";
  });
}

TEST_F(LibraryObjectTest, ALibraryWithoutNoLabelGroupGetsOneWhenFetched) {
  auto stored = LibraryObject::libraryObject(*context, "Library", "Library");
  context->deleteObject(stored->objectForKey("noLabelGroup"));
  ASSERT_TRUE(context->save());
  auto fresh = manager->newBackgroundContext();
  auto fetched = LibraryObject::libraryObject(*fresh, "Library", "Library");
  ASSERT_TRUE(fetched->objectForKey("noLabelGroup"));
  EXPECT_TRUE(fresh->hasChanges());
  ASSERT_TRUE(fresh->save());
  auto again = manager->newBackgroundContext();
  LibraryObject::libraryObject(*again, "Library", "Library")->valueForKey("name");
  EXPECT_FALSE(again->hasChanges()) << "one that has it changes nothing";
  EXPECT_EQ(*again->count(FetchRequest("NoLabelGroup")), 1);
}

TEST_F(LibraryObjectTest, IdentityAndCloudNames) {
  auto item = insert("Item", "Note");
  EXPECT_TRUE(std::regex_match(item->identifier(), std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
  EXPECT_EQ(root()->identifier(), "RootFolder");
  std::string name = item->cloudRecordName();
  EXPECT_EQ(LibraryObject::entityNameFromCloudRecordName(name), "Item");
  EXPECT_EQ(LibraryObject::identifierFromCloudRecordName(name), item->identifier());
  EXPECT_EQ(item->cloudRecordID().zoneID, LibraryManager::libraryZoneID());
  ASSERT_TRUE(context->save());
  EXPECT_EQ(LibraryObject::libraryObjectForCloudRecordID(*context, item->cloudRecordID()), item);
  EXPECT_FALSE(LibraryObject::libraryObject(*context, "NoSuchEntity", item->identifier()));

  RecordSystemFields fields = item->cloudRecord().systemFields();
  EXPECT_EQ(fields.recordType, "Item");
  fields.recordID.zoneID = RecordZoneID("Shared Zone", "someone");
  fields.changeTag = "tag-1";
  item->setCloudRecord(fields);
  auto other = manager->newBackgroundContext();
  ASSERT_TRUE(context->save());
  auto reread = LibraryObject::libraryObject(*other, "Item", item->identifier());
  EXPECT_EQ(reread->recordZoneID(), RecordZoneID("Shared Zone", "someone")) << "stays in its zone";
  EXPECT_EQ(reread->cloudRecord().recordChangeTag(), "tag-1");
  reread->setValueForKey("cloudRecordData", Bytes{1, 2, 3});
  EXPECT_EQ(reread->recordZoneID(), LibraryManager::libraryZoneID()) << "undecodable data counts as none";
}

TEST_F(LibraryObjectTest, PropertyListsRoundTripWithSystemObjectsRemapped) {
  auto folder = insert("Folder", "Projects");
  folder->setObjectForKey("parent", root());
  auto item = insert("Item", "Plan");
  item->setValueForKey("dateModified", Date(1000));
  item->setValueForKey("fileProviderMaterialized", true);  // local state
  item->setObjectForKey("folder", root());
  auto tag = insert("Tag", "red");
  item->addObjectForKey("tags", tag);
  PropertyListDictionary list = item->propertyListRepresentation();
  EXPECT_EQ(list[kPropertyListEntityNameKey], PropertyList("Item"));
  EXPECT_EQ(list["folder"], PropertyList("RootFolder")) << "system objects by entity name";
  EXPECT_EQ(list["tags"], PropertyList(PropertyListArray{tag->identifier()}));
  EXPECT_EQ(list["dateModified"], PropertyList(Date(1000)));
  EXPECT_FALSE(list.count("fileProviderMaterialized"));
  EXPECT_FALSE(list.count("cloudRecordData"));
  EXPECT_FALSE(list.count("dateRecordChanged"));
  EXPECT_FALSE(list.count("summary")) << "nil values are absent";

  // Read into another library whose root folder has another identifier.
  LibraryFixture otherLibrary;
  auto otherContext = otherLibrary.manager->newBackgroundContext();
  auto otherRoot = LibraryObject::libraryObject(*otherContext, "RootFolder", "RootFolder");
  otherRoot->setValueForKey("identifier", "ROOT-2");
  auto otherTag = std::dynamic_pointer_cast<LibraryObject>(otherContext->insertNewObject("Tag"));
  otherTag->setValueForKey("identifier", tag->identifier());
  auto recreated = LibraryObject::fromPropertyListRepresentation(*otherContext, list);
  ASSERT_TRUE(recreated);
  EXPECT_EQ(recreated->identifier(), item->identifier());
  EXPECT_EQ(recreated->objectForKey("folder"), otherRoot);
  EXPECT_EQ(recreated->objectsForKey("tags"), std::vector<ManagedObjectPtr>{otherTag});
  EXPECT_EQ(recreated->valueForKey("name"), Value("Plan"));
}

TEST_F(LibraryObjectTest, AnOrderedListThatLostAnEntryDeletesTheDroppedObject) {
  auto parent = insert("Folder", "Parent");
  auto a = insert("Folder", "A"), b = insert("Folder", "B"), c = insert("Folder", "C");
  for (auto& child : {a, b, c}) parent->addObjectForKey("children", child);
  PropertyListDictionary list = parent->propertyListRepresentation();
  EXPECT_EQ(list["children"], PropertyList(PropertyListArray{a->identifier(), b->identifier(), c->identifier()}));
  list["children"] = PropertyListArray{c->identifier(), a->identifier()};
  parent->setValuesFromPropertyListRepresentation(list);
  EXPECT_EQ(parent->objectsForKey("children"), (std::vector<ManagedObjectPtr>{c, a}));
  EXPECT_TRUE(b->isDeleted() || !b->managedObjectContext());
  EXPECT_FALSE(a->isDeleted());
}

TEST_F(LibraryObjectTest, MetadataFormats) {
  auto item = insert("Item", "Plan");
  item->setValueForKey("dateModified", Date(0));
  item->setValueForKey("favorite", true);
  item->setValueForKey("summary", "text");
  PropertyListDictionary iso = item->metadataInFormat(0);
  EXPECT_EQ(iso["dateModified"], PropertyList("2001-01-01T00:00:00Z"));
  EXPECT_FALSE(iso.count(kPropertyListEntityNameKey));
  PropertyListDictionary plain = item->metadataInFormat(1);
  EXPECT_EQ(plain["dateModified"], PropertyList(Date(0)));
  EXPECT_EQ(plain["favorite"], PropertyList(true));
  PropertyListDictionary people = item->metadataInFormat(2);
  EXPECT_TRUE(people["dateModified"].string());
  EXPECT_EQ(people["favorite"], PropertyList("Yes"));
}

TEST_F(LibraryObjectTest, CopiesGetNewIdentifiersAndCopiesOfOwnedChildren) {
  auto folder = insert("Folder", "Original");
  folder->setObjectForKey("parent", root());
  auto child = insert("Folder", "Child");
  folder->addObjectForKey("children", child);
  auto item = insert("Item", "Owned");
  item->setObjectForKey("folder", folder);
  folder->setDateRecordChanged(Date(5));
  folder->setCloudRecord(folder->cloudRecord());
  auto copy = folder->copy();
  ASSERT_TRUE(copy);
  EXPECT_NE(copy->identifier(), folder->identifier());
  EXPECT_EQ(copy->valueForKey("name"), Value("Original"));
  EXPECT_TRUE(copy->valueForKey("cloudRecordData").isNull());
  EXPECT_FALSE(copy->dateRecordChanged());
  EXPECT_TRUE(copy->valueForKey("parent").isNull()) << "only owned relationships are copied";
  auto children = copy->objectsForKey("children");
  ASSERT_EQ(children.size(), 1u);
  EXPECT_NE(children[0], child);
  EXPECT_EQ(children[0]->valueForKey("name"), Value("Child"));
  ASSERT_EQ(copy->objectsForKey("items").size(), 1u);
  EXPECT_EQ(item->objectForKey("folder"), folder);
}

TEST_F(LibraryObjectTest, ConflictMergeLetsTheServerWinOnlyWhatItChangedLater) {
  auto label = insert("Label", "Local");
  label->setValueForKey("colorType", 3);
  CloudRecord client = label->cloudRecord();
  CloudRecord server = client;
  server.setSystemFields({"Label", client.recordID(), "7", Date(100), Date(100)});
  server.setObjectForKey("name", CloudValue("Server"));
  server.setObjectForKey("colorType", CloudValue(int64_t{5}));
  setChangedKeyNames(server, {"name"});
  Error conflict = cloudServerRecordChangedError(client, server);
  auto mergedName = [&] {
    auto merged = label->mergeChangesForServerRecordChange(conflict, {"name", "colorType"});
    EXPECT_TRUE(merged);
    EXPECT_EQ(*merged->objectForKey("colorType"), CloudValue(int64_t{3})) << "the server did not change it";
    return merged ? *merged->objectForKey("name")->string() : std::string();
  };

  EXPECT_FALSE(label->dateRecordChanged());
  EXPECT_EQ(mergedName(), "Local") << "without a local date nothing says the server is newer";
  label->setDateRecordChanged(Date(50));
  EXPECT_EQ(mergedName(), "Server");
  label->setDateRecordChanged(Date(100));
  EXPECT_EQ(mergedName(), "Server");
  label->setDateRecordChanged(Date(150));
  EXPECT_EQ(mergedName(), "Local");
}

}  // namespace
}  // namespace qlt
