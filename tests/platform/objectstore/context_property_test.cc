#include <gtest/gtest.h>

#include <random>
#include <set>

#include "support/scratch_directory.h"
#include "random_predicates.h"
#include "platform/objectstore/managed_object_accessor.h"
#include "platform/objectstore/persistent_container.h"

namespace qlt {
namespace {

std::shared_ptr<const ManagedObjectModel> predicateWorldModel() {
  ModelBuilder builder("PredicateWorld");
  builder.entity("Folder")
      .attribute("name", AttributeType::String).done()
      .relationship("parent", "Folder").inverse("children").done()
      .relationship("children", "Folder").toMany().inverse("parent").done()
      .relationship("items", "Item").toMany().inverse("folder").done();
  builder.entity("Tag")
      .attribute("name", AttributeType::String).done()
      .relationship("folder", "Folder").done()
      .relationship("items", "Item").toMany().inverse("tags").done();
  builder.entity("Item")
      .attribute("name", AttributeType::String).done()
      .attribute("size", AttributeType::Integer64).done()
      .attribute("rating", AttributeType::Double).done()
      .attribute("isFavorite", AttributeType::Boolean).done()
      .attribute("dateModified", AttributeType::Date).done()
      .attribute("thumbnail", AttributeType::Binary).done()
      .relationship("folder", "Folder").inverse("items").done()
      .relationship("tags", "Tag").toMany().inverse("items").done();
  return builder.build();
}

// Random predicates fetched through a context must select exactly the items
// that in-memory evaluation accepts, before and after unsaved changes.
class ContextPropertyTest : public ::testing::Test {
 protected:
  ContextPropertyTest() : container("World", predicateWorldModel(), scratch.path()) {
    container.loadPersistentStores(nullptr);
    context = container.newBackgroundContext();
  }

  ObjectID idOf(const std::string& entity, int64_t key) const {
    return ObjectID{container.coordinator()->store().identifier(), entity, key};
  }
  int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); }
  bool chance(int percent) { return pick(100) < percent; }
  Value maybe(int percent, Value value) { return chance(percent) ? std::move(value) : Value(); }

  void fillItem(const ManagedObjectPtr& item) {
    item->setValueForKey("name", maybe(85, generator.constant(RandomPredicates::String)));
    item->setValueForKey("size", maybe(80, Value(std::vector<int>{-1, 0, 3, 10, 1024, 4096}[pick(6)])));
    item->setValueForKey("rating", maybe(60, Value(pick(11) / 4.0)));
    item->setValueForKey("dateModified", maybe(80, generator.constant(RandomPredicates::Date)));
    item->setValueForKey("isFavorite", maybe(80, Value(chance(50))));
    item->setValueForKey("thumbnail", maybe(50, generator.constant(RandomPredicates::Data)));
    item->setValueForKey("folder", maybe(75, Value(idOf("Folder", 1 + pick(5)))));
    ValueList tags;
    for (int64_t tag = 1; tag <= 4; ++tag)
      if (chance(30)) tags.push_back(Value(idOf("Tag", tag)));
    item->setValueForKey("tags", Value(tags));
  }

  void checkRandomPredicates(int count, const std::string& phase) {
    std::vector<ManagedObjectPtr> items;
    for (const ObjectID& id : liveItems) items.push_back(context->objectWithID(id));
    for (int i = 0; i < count; ++i) {
      auto [format, arguments] = generator.next();
      Error error;
      PredicatePtr predicate = Predicate::withFormat(format, arguments, &error);
      ASSERT_NE(predicate, nullptr) << format << "\n" << error.description();
      std::set<int64_t> inMemory;
      for (const auto& item : items)
        if (evaluate(*predicate, ManagedObjectAccessor(item))) inMemory.insert(item->objectID().primaryKey);
      FetchRequest request("Item");
      request.predicate = predicate;
      auto fetched = context->fetchObjectIDs(request, &error);
      ASSERT_TRUE(fetched) << predicate->description() << "\n" << error.description();
      std::set<int64_t> selected;
      for (const ObjectID& id : *fetched) selected.insert(id.primaryKey);
      ASSERT_EQ(selected, inMemory) << phase << " #" << i << " " << predicate->description();
      EXPECT_EQ(*context->count(request), static_cast<int64_t>(inMemory.size()));
    }
  }

  ScratchDirectory scratch;
  PersistentContainer container;
  std::shared_ptr<ManagedObjectContext> context;
  std::mt19937 random{7};
  RandomPredicates generator{random, [this](const std::string& entity, int64_t key) { return idOf(entity, key); }};
  std::set<ObjectID> liveItems;
};

TEST_F(ContextPropertyTest, FetchesAgreeWithEvaluationWithAndWithoutUnsavedChanges) {
  for (int64_t key = 1; key <= 5; ++key) {
    auto folder = context->insertNewObject("Folder");
    ASSERT_EQ(folder->objectID(), idOf("Folder", key));
    folder->setValueForKey("name", maybe(85, generator.constant(RandomPredicates::String)));
    if (key > 1) folder->setValueForKey("parent", maybe(70, Value(idOf("Folder", 1 + pick(int(key) - 1)))));
  }
  for (int64_t key = 1; key <= 4; ++key) {
    auto tag = context->insertNewObject("Tag");
    tag->setValueForKey("name", maybe(85, generator.constant(RandomPredicates::String)));
    tag->setValueForKey("folder", maybe(50, Value(idOf("Folder", 1 + pick(5)))));
  }
  for (int64_t key = 1; key <= 40; ++key) {
    auto item = context->insertNewObject("Item");
    fillItem(item);
    liveItems.insert(item->objectID());
  }
  Error error;
  ASSERT_TRUE(context->save(&error)) << error.description();
  context->reset();
  checkRandomPredicates(300, "saved");

  // Unsaved: edited, moved, retagged, deleted and new items, and changed
  // folders and tags that key paths lead to.
  for (int i = 0; i < 12; ++i) fillItem(context->objectWithID(idOf("Item", 1 + pick(40))));
  for (int i = 0; i < 4; ++i) {
    ObjectID id = idOf("Item", 1 + pick(40));
    context->deleteObject(context->objectWithID(id));
    liveItems.erase(id);
  }
  for (int i = 0; i < 4; ++i) {
    auto item = context->insertNewObject("Item");
    fillItem(item);
    liveItems.insert(item->objectID());
  }
  context->objectWithID(idOf("Folder", 2))->setValueForKey("name", "Alpha");
  context->objectWithID(idOf("Folder", 3))->setValueForKey("parent", Value(idOf("Folder", 1)));
  context->objectWithID(idOf("Tag", 1))->setValueForKey("name", "café");
  ASSERT_TRUE(context->hasChanges());
  checkRandomPredicates(300, "unsaved");
  EXPECT_TRUE(context->hasChanges()) << "fetching leaves the changes unsaved";
  context->rollback();
  EXPECT_EQ(*context->count(FetchRequest("Item")), 40) << "and the store untouched";
}

}  // namespace
}  // namespace qlt
