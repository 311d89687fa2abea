#include "platform/objectstore/managed_object_context.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "library_test_model.h"
#include "platform/dispatch/notification_center.h"
#include "platform/objectstore/managed_object_classes.h"

namespace qlt {
namespace {

std::vector<std::string> namesOf(const std::vector<ManagedObjectPtr>& objects) {
  std::vector<std::string> names;
  for (const auto& object : objects) {
    Value name = object->valueForKey("name");
    names.push_back(name.string() ? *name.string() : "<nil>");
  }
  return names;
}

ManagedObjectPtr insert(ManagedObjectContext& context, const std::string& entity, const std::string& name) {
  auto object = context.insertNewObject(entity);
  object->setValueForKey("name", name);
  return object;
}

class ContextTest : public ::testing::Test {
 protected:
  ScratchDirectory scratch;
  TestLibrary library{scratch.path()};
  std::shared_ptr<ManagedObjectContext> context = library.context("first");
  std::shared_ptr<ManagedObjectContext> other = library.context("second");

  FetchRequest itemsByName() {
    FetchRequest request("Item");
    request.sortDescriptors = {SortDescriptor::localizedStandard("name")};
    return request;
  }
};

TEST_F(ContextTest, SavedObjectsReadBackInAnotherContextWithTheirRelationships) {
  ASSERT_TRUE(library.container.isLoaded()) << library.loadError.description();
  auto root = insert(*context, "Folder", "Root");
  auto inbox = insert(*context, "Folder", "Inbox");
  auto archive = insert(*context, "Folder", "Archive");
  inbox->setObjectForKey("parent", root);
  root->insertObjectForKey("children", archive, 0);  // before Inbox
  auto item = insert(*context, "Item", "Report 10");
  item->setValueForKey("size", 1234);
  item->setValueForKey("rating", 4.5);
  item->setValueForKey("flagged", true);
  item->setValueForKey("dateModified", Date(1000.5));
  item->setValueForKey("payload", Bytes{1, 2, 3});
  item->setObjectForKey("folder", inbox);
  auto tag = insert(*context, "Tag", "red");
  item->addObjectForKey("tags", tag);
  EXPECT_EQ(inbox->valueForKey("items"), Value(ValueList{item->objectID()}));
  EXPECT_EQ(tag->valueForKey("items"), Value(ValueList{item->objectID()}));
  EXPECT_EQ(item->valueForKeyPath("folder.parent.name"), Value("Root"));
  Error error;
  ASSERT_TRUE(context->save(&error)) << error.description();
  EXPECT_FALSE(context->hasChanges());

  auto id = ObjectID::fromURIRepresentation(item->objectID().uriRepresentation());
  ASSERT_TRUE(id);
  auto copy = other->existingObjectWithID(*id, &error);
  ASSERT_TRUE(copy) << error.description();
  EXPECT_EQ(copy, other->objectWithID(*id)) << "one object per row per context";
  EXPECT_EQ(copy->valueForKey("size"), Value(1234));
  EXPECT_EQ(copy->valueForKey("rating"), Value(4.5));
  EXPECT_EQ(copy->valueForKey("flagged"), Value(true));
  EXPECT_EQ(copy->valueForKey("dateModified"), Value(Date(1000.5)));
  EXPECT_EQ(copy->valueForKey("payload"), Value(Bytes{1, 2, 3}));
  EXPECT_EQ(copy->valueForKeyPath("folder.parent.name"), Value("Root"));
  EXPECT_EQ(namesOf(copy->objectsForKey("tags")), std::vector<std::string>{"red"});
  auto rootCopy = other->objectWithID(root->objectID());
  EXPECT_EQ(namesOf(rootCopy->objectsForKey("children")), (std::vector<std::string>{"Archive", "Inbox"}));
  EXPECT_EQ(copy->objectForKey("tags"), nullptr);

  // Reordering an ordered relationship is saved.
  rootCopy->insertObjectForKey("children", other->objectWithID(inbox->objectID()), 0);
  ASSERT_TRUE(other->save(&error)) << error.description();
  auto third = library.context();
  EXPECT_EQ(namesOf(third->objectWithID(root->objectID())->objectsForKey("children")),
            (std::vector<std::string>{"Inbox", "Archive"}));
}

// Keeping an inverse in step does not read a long to-many that nobody has
// read yet: the change waits and is applied when the list is read, or
// written as it is when the object is saved first; a rollback drops it.
TEST_F(ContextTest, InverseChangesToUnreadListsWaitForTheListOrTheSave) {
  auto inbox = insert(*context, "Folder", "Inbox");
  auto red = insert(*context, "Tag", "red");
  auto a = insert(*context, "Item", "A");
  auto b = insert(*context, "Item", "B");
  for (const auto& item : {a, b}) {
    item->setObjectForKey("folder", inbox);
    item->addObjectForKey("tags", red);
  }
  Error error;
  ASSERT_TRUE(context->save(&error)) << error.description();

  auto redThere = other->objectWithID(red->objectID());
  auto blue = insert(*other, "Tag", "blue");
  auto aThere = other->objectWithID(a->objectID());
  auto bThere = other->objectWithID(b->objectID());
  blue->addObjectForKey("items", aThere);
  blue->addObjectForKey("items", bThere);
  redThere->removeObjectForKey("items", bThere);
  auto c = insert(*other, "Item", "C");
  c->setObjectForKey("folder", other->objectWithID(inbox->objectID()));
  EXPECT_TRUE(bThere->hasChanges()) << "a waiting change is a change";
  auto aTags = namesOf(aThere->objectsForKey("tags"));
  std::sort(aTags.begin(), aTags.end());
  EXPECT_EQ(aTags, (std::vector<std::string>{"blue", "red"})) << "applied when read";
  ASSERT_TRUE(other->save(&error)) << error.description();

  auto third = library.context("third");
  EXPECT_EQ(namesOf(third->objectWithID(b->objectID())->objectsForKey("tags")), std::vector<std::string>{"blue"})
      << "written without being read";
  auto inboxItems = namesOf(third->objectWithID(inbox->objectID())->objectsForKey("items"));
  std::sort(inboxItems.begin(), inboxItems.end());
  EXPECT_EQ(inboxItems, (std::vector<std::string>{"A", "B", "C"}));

  auto fourth = library.context("fourth");
  auto bFourth = fourth->objectWithID(b->objectID());
  fourth->objectWithID(red->objectID())->addObjectForKey("items", bFourth);
  EXPECT_TRUE(fourth->hasChanges());
  fourth->rollback();
  EXPECT_FALSE(fourth->hasChanges());
  EXPECT_EQ(namesOf(bFourth->objectsForKey("tags")), std::vector<std::string>{"blue"});
}

// An item keeps the folder it resolved alive (so a page of items does not
// fetch its folder again for each), yet every way the relationship changes
// is seen at once.
TEST_F(ContextTest, ToOneOwnersStayResolvedAndFollowEveryChange) {
  ASSERT_TRUE(library.container.isLoaded()) << library.loadError.description();
  Error error;
  auto item = insert(*context, "Item", "Report");
  for (const char* name : {"A", "B", "C", "D"}) insert(*context, "Folder", name);
  auto folderNamed = [&](ManagedObjectContext& in, const std::string& name) {
    FetchRequest request("Folder");
    request.predicate = Predicate::withFormat("name == %@", {Value(name)});
    return in.fetch(request).value().front();
  };
  item->setObjectForKey("folder", folderNamed(*context, "A"));
  ASSERT_TRUE(context->save(&error)) << error.description();
  context->reset();

  item = context->objectWithID(item->objectID());
  std::weak_ptr<ManagedObject> first = item->objectForKey("folder");
  ASSERT_FALSE(first.expired()) << "held by the item alone";
  EXPECT_EQ(item->objectForKey("folder"), first.lock());
  EXPECT_EQ(item->valueForKeyPath("folder.name"), Value("A"));

  item->setObjectForKey("folder", folderNamed(*context, "B"));
  EXPECT_EQ(item->valueForKeyPath("folder.name"), Value("B"));
  context->rollback();
  EXPECT_EQ(item->valueForKeyPath("folder.name"), Value("A"));

  auto elsewhere = other->objectWithID(item->objectID());
  elsewhere->setObjectForKey("folder", folderNamed(*other, "C"));
  ASSERT_TRUE(other->save(&error)) << error.description();
  context->refreshObject(item, false);
  EXPECT_EQ(item->valueForKeyPath("folder.name"), Value("C"));

  item->setObjectForKey("folder", nullptr);
  EXPECT_EQ(item->objectForKey("folder"), nullptr);

  item->setObjectForKey("folder", folderNamed(*context, "D"));
  ASSERT_TRUE(context->save(&error)) << error.description();
  ManagedObjectPtr before = item->objectForKey("folder");
  context->reset();
  EXPECT_EQ(before->managedObjectContext(), nullptr);
  auto again = context->objectWithID(item->objectID())->objectForKey("folder");
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, before) << "a reset context hands out new objects";
  EXPECT_EQ(again->managedObjectContext(), context.get());
}

TEST_F(ContextTest, BadIDsAndBadValuesAreRefused) {
  Error error;
  EXPECT_FALSE(context->insertNewObject("Group", &error)) << "abstract";
  EXPECT_FALSE(context->insertNewObject("Nothing", &error));
  EXPECT_FALSE(ObjectID::fromURIRepresentation("x-coredata://nope"));
  ObjectID foreign{"00000000-0000-0000-0000-000000000000", "Item", 1};
  EXPECT_FALSE(context->objectWithID(foreign));
  EXPECT_FALSE(context->existingObjectWithID(ObjectID{library.container.persistentStore().identifier(), "Item", 999},
                                             &error));
  EXPECT_EQ(error.code(), kManagedObjectReferentialIntegrityError);
  auto item = insert(*context, "Item", "x");
  item->setValueForKey("size", "not a number");
  item->setValueForKey("folder", Value("not an object"));
  item->setValueForKey("nonexistent", 3);
  EXPECT_EQ(item->valueForKey("size"), Value(0));
  EXPECT_TRUE(item->valueForKey("folder").isNull());
}

TEST_F(ContextTest, DeleteRulesCascadeAndNullify) {
  auto root = insert(*context, "Folder", "Root");
  auto child = insert(*context, "Folder", "Child");
  child->setObjectForKey("parent", root);
  auto item = insert(*context, "Item", "In child");
  item->setObjectForKey("folder", child);
  auto tag = insert(*context, "Tag", "t");
  tag->addObjectForKey("items", item);
  ASSERT_TRUE(context->save());

  auto childAgain = other->objectWithID(child->objectID());
  other->deleteObject(childAgain);
  EXPECT_TRUE(other->objectWithID(item->objectID())->isDeleted()) << "cascade";
  EXPECT_EQ(other->objectWithID(root->objectID())->valueForKey("children"), Value(ValueList{}));
  EXPECT_EQ(other->objectWithID(tag->objectID())->valueForKey("items"), Value(ValueList{})) << "nullify";
  EXPECT_EQ(other->deletedObjects().size(), 2u);
  ASSERT_TRUE(other->save());

  auto fresh = library.context();
  EXPECT_EQ(*fresh->count(FetchRequest("Item")), 0);
  EXPECT_EQ(*fresh->count(FetchRequest("Folder")), 1);
  EXPECT_EQ(fresh->objectWithID(tag->objectID())->valueForKey("items"), Value(ValueList{}));
  EXPECT_FALSE(fresh->existingObjectWithID(child->objectID()));
}

TEST_F(ContextTest, FetchesAnswerAsIfTheContextWereSaved) {
  auto folder = insert(*context, "Folder", "F");
  for (const char* name : {"Item 2", "Item 10", "Item 1", "item 3"}) insert(*context, "Item", name)->setObjectForKey("folder", folder);
  ASSERT_TRUE(context->save());

  EXPECT_EQ(namesOf(*other->fetch(itemsByName())), (std::vector<std::string>{"Item 1", "Item 2", "item 3", "Item 10"}));
  auto all = *other->fetch(itemsByName());
  other->deleteObject(all[0]);                       // Item 1
  all[3]->setValueForKey("name", "Item 0");          // Item 10 -> Item 0
  insert(*other, "Item", "Item 2b");
  auto request = itemsByName();
  EXPECT_EQ(namesOf(*other->fetch(request)), (std::vector<std::string>{"Item 0", "Item 2", "Item 2b", "item 3"}));
  request.offset = 1;
  request.limit = 2;
  EXPECT_EQ(namesOf(*other->fetch(request)), (std::vector<std::string>{"Item 2", "Item 2b"}));
  EXPECT_EQ(*other->count(request), 2);
  request.predicate = Predicate::withFormat("name BEGINSWITH[c] %@", {Value("item 2")});
  request.offset = 0;
  request.limit = 0;
  EXPECT_EQ(namesOf(*other->fetch(request)), (std::vector<std::string>{"Item 2", "Item 2b"}));
  FetchRequest inFolder("Item");
  inFolder.predicate = Predicate::withFormat("folder == %@", {Value(folder->objectID())});
  EXPECT_EQ(*other->count(inFolder), 3) << "the new item has no folder, one was deleted";
  EXPECT_EQ(*context->count(inFolder), 4) << "the first context has no changes";

  FetchRequest byCase = itemsByName();
  byCase.sortDescriptors = {{"name", false, SortDescriptor::Comparison::CaseInsensitive}};
  EXPECT_EQ(namesOf(*context->fetch(byCase)), (std::vector<std::string>{"item 3", "Item 2", "Item 10", "Item 1"}));
}

TEST_F(ContextTest, FetchResultTypesAndSubentities) {
  insert(*context, "Folder", "F");
  insert(*context, "SmartGroup", "S")->setValueForKey("query", "x");
  for (int size : {5, 7, 0}) insert(*context, "Item", "i" + std::to_string(size))->setValueForKey("size", size);
  ASSERT_TRUE(context->save());
  EXPECT_EQ(*other->count(FetchRequest("Group")), 2);
  FetchRequest onlyGroups("Group");
  onlyGroups.includesSubentities = false;
  EXPECT_EQ(*other->count(onlyGroups), 0);
  EXPECT_EQ(other->fetchObjectIDs(FetchRequest("SmartGroup"))->size(), 1u);

  FetchRequest total("Item");
  total.resultType = FetchRequest::ResultType::Dictionaries;
  total.predicate = Predicate::withFormat("#size > 0");
  total.aggregates = {{"totalFileSize", "sum", "size"}, {"largest", "max", "size"}};
  auto result = other->execute(total);
  ASSERT_TRUE(result);
  ASSERT_EQ(result->dictionaries.size(), 1u);
  EXPECT_EQ(result->dictionaries[0]["totalFileSize"], Value(12));
  EXPECT_EQ(result->dictionaries[0]["largest"], Value(7));
  auto items = *other->fetch(FetchRequest("Item"));
  items[0]->setValueForKey("size", 100);  // was 5
  result = other->execute(total);
  EXPECT_EQ(result->dictionaries[0]["totalFileSize"], Value(107)) << "unsaved sizes count";
  other->rollback();

  FetchRequest names("Item");
  names.resultType = FetchRequest::ResultType::Dictionaries;
  names.propertiesToFetch = {"name"};
  names.sortDescriptors = {{"size", false}};
  result = other->execute(names);
  ASSERT_EQ(result->dictionaries.size(), 3u);
  EXPECT_EQ(result->dictionaries[0]["name"], Value("i7"));

  FetchRequest batched("Item");
  batched.sortDescriptors = {{"name"}};
  batched.batchSize = 1;
  auto fresh = library.context();
  auto objects = *fresh->fetch(batched);
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_FALSE(objects[0]->isFault());
  EXPECT_TRUE(objects[2]->isFault());
  EXPECT_EQ(objects[2]->valueForKey("name"), Value("i7"));

  // Object lists longer than SQLite's parameter limit.
  ValueList many;
  const std::string& store = library.container.persistentStore().identifier();
  for (int64_t key = 1; key <= 40000; ++key) many.emplace_back(ObjectID{store, "Item", key});
  FetchRequest listed("Item");
  listed.predicate = Predicate::withFormat("self IN %@", {Value(many)});
  EXPECT_EQ(*other->count(listed), 3);

  Error error;
  FetchRequest bad("Item");
  bad.predicate = Predicate::withFormat("nothing == 1");
  EXPECT_FALSE(other->execute(bad, &error));
  EXPECT_FALSE(other->execute(FetchRequest("Nothing"), &error));
  FetchRequest badSort("Item");
  badSort.sortDescriptors = {{"tags.name"}};
  EXPECT_FALSE(other->execute(badSort, &error));
}

}  // namespace
}  // namespace qlt
