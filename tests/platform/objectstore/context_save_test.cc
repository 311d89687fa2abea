#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "library_test_model.h"
#include "platform/dispatch/notification_center.h"
#include "platform/objectstore/managed_object_classes.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

// Stamps every save, the way library objects keep their change dates.
class StampedTag : public ManagedObject {
 public:
  int awakenings = 0;
  int saves = 0;

 protected:
  void awakeFromInsert() override { setValueForKey("name", "untitled"); }
  void awakeFromFetch() override { ++awakenings; }
  void willSave() override {
    if (!isDeleted() && valueForKey("name") != Value("stamped")) setValueForKey("name", "stamped");
  }
  void didSave() override { ++saves; }
};

class ContextSaveTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ManagedObjectClasses::add<StampedTag>("TestLibrary", "Tag"); }
  static void TearDownTestSuite() { ManagedObjectClasses::add("TestLibrary", "Tag", nullptr); }

  ScratchDirectory scratch;
  TestLibrary library{scratch.path()};

  ObjectID savedItem(const std::string& name, int size) {
    auto context = library.context();
    auto item = context->insertNewObject("Item");
    item->setValueForKey("name", name);
    item->setValueForKey("size", size);
    EXPECT_TRUE(context->save());
    return item->objectID();
  }
};

TEST_F(ContextSaveTest, ConflictsResolveByPropertyUnderEachPolicy) {
  struct Case {
    MergePolicy policy;
    bool saves;
    Value name;
    Value size;
  };
  for (const Case& expected : {Case{MergePolicy::Error, false, {}, {}},
                               Case{MergePolicy::StoreTrumpsByProperty, true, Value("theirs"), Value(2)},
                               Case{MergePolicy::ObjectTrumpsByProperty, true, Value("mine"), Value(2)}}) {
    ObjectID id = savedItem("original", 1);
    auto mine = library.context("mine");
    mine->setMergePolicy(expected.policy);
    auto item = mine->existingObjectWithID(id);
    auto theirs = library.context("theirs");
    auto their = theirs->existingObjectWithID(id);
    their->setValueForKey("name", "theirs");
    their->setValueForKey("size", 2);
    ASSERT_TRUE(theirs->save());

    item->setValueForKey("name", "mine");
    item->setValueForKey("rating", 9.0);
    Error error;
    EXPECT_EQ(mine->save(&error), expected.saves) << static_cast<int>(expected.policy);
    auto check = library.context()->existingObjectWithID(id);
    if (!expected.saves) {
      EXPECT_EQ(error.code(), kManagedObjectMergeError);
      EXPECT_TRUE(mine->hasChanges()) << "a failed save keeps the changes";
      EXPECT_EQ(check->valueForKey("name"), Value("theirs"));
      EXPECT_TRUE(check->valueForKey("rating").isNull());
      continue;
    }
    EXPECT_EQ(check->valueForKey("name"), expected.name);
    EXPECT_EQ(check->valueForKey("size"), expected.size) << "only they changed the size";
    EXPECT_EQ(check->valueForKey("rating"), Value(9.0)) << "only I changed the rating";
    EXPECT_EQ(item->valueForKey("name"), expected.name) << "the context holds what was saved";
    item->setValueForKey("size", 3);
    EXPECT_TRUE(mine->save(&error)) << "the version moved on with the merge";
  }
}

TEST_F(ContextSaveTest, AFailedSaveWritesNothingAndKeepsTheChanges) {
  auto context = library.context();
  auto good = context->insertNewObject("Item");
  good->setValueForKey("name", "good");
  auto bad = context->insertNewObject("Item");
  bad->setValueForKey("identifier", Value());
  Error error;
  EXPECT_FALSE(context->save(&error));
  EXPECT_EQ(error.code(), kValidationMissingMandatoryPropertyError);
  EXPECT_EQ(error.userInfoString("NSValidationKeyErrorKey"), "identifier");
  EXPECT_EQ(*library.context()->count(FetchRequest("Item")), 0);
  EXPECT_EQ(context->insertedObjects().size(), 2u);
  bad->setValueForKey("identifier", "fixed");
  EXPECT_TRUE(context->save(&error)) << error.description();
  EXPECT_EQ(*library.context()->count(FetchRequest("Item")), 2);

  // A store that cannot be written fails the save the same way.
  auto item = context->existingObjectWithID(good->objectID());
  item->setValueForKey("name", "changed");
  {
    std::lock_guard lock(library.container.coordinator()->mutex());
    ASSERT_TRUE(library.container.persistentStore().database().execute(
        "CREATE TRIGGER refuse BEFORE UPDATE ON \"Item\" BEGIN SELECT RAISE(ABORT, 'refused'); END"));
  }
  EXPECT_FALSE(context->save(&error));
  EXPECT_EQ(error.code(), kPersistentStoreSaveError);
  EXPECT_TRUE(item->isUpdated());
  EXPECT_EQ(library.context()->existingObjectWithID(good->objectID())->valueForKey("name"), Value("good"));
}

TEST_F(ContextSaveTest, RollbackResetAndRefresh) {
  ObjectID id = savedItem("saved", 1);
  auto context = library.context();
  auto item = context->existingObjectWithID(id);
  item->setValueForKey("name", "edited");
  auto added = context->insertNewObject("Item");
  auto folder = context->insertNewObject("Folder");
  item->setObjectForKey("folder", folder);
  context->rollback();
  EXPECT_FALSE(context->hasChanges());
  EXPECT_EQ(item->valueForKey("name"), Value("saved"));
  EXPECT_TRUE(item->valueForKey("folder").isNull());
  EXPECT_EQ(added->managedObjectContext(), nullptr);

  item->setValueForKey("size", 5);
  auto elsewhere = library.context();
  elsewhere->existingObjectWithID(id)->setValueForKey("name", "renamed elsewhere");
  ASSERT_TRUE(elsewhere->save());
  context->refreshObject(item, true);
  EXPECT_EQ(item->valueForKey("name"), Value("renamed elsewhere"));
  EXPECT_EQ(item->valueForKey("size"), Value(5)) << "kept over the store's value";
  context->refreshObject(item, false);
  EXPECT_TRUE(item->isFault());
  EXPECT_EQ(item->valueForKey("size"), Value(1));

  context->reset();
  EXPECT_EQ(item->managedObjectContext(), nullptr);
  EXPECT_FALSE(context->registeredObject(id));
}

TEST_F(ContextSaveTest, NotificationsHooksAndMergingBetweenContexts) {
  auto context = library.context("saver");
  auto reader = library.context("reader");
  std::vector<ContextChanges> willSave, didSave;
  auto willToken = NotificationCenter::defaultCenter().addObserver(
      kContextWillSaveNotification, context.get(),
      [&](const Notification& note) { willSave.push_back(*note.userInfoValue<ContextChanges>(kContextChangesKey)); });
  auto didToken = NotificationCenter::defaultCenter().addObserver(
      kContextDidSaveNotification, context.get(),
      [&](const Notification& note) { didSave.push_back(*note.userInfoValue<ContextChanges>(kContextChangesKey)); });

  auto tag = context->insertNewObject("Tag")->as<StampedTag>();
  ASSERT_TRUE(tag);
  EXPECT_EQ(tag->valueForKey("name"), Value("untitled"));
  ObjectID doomed = savedItem("doomed", 1);
  ObjectID kept = savedItem("kept", 1);
  auto readerKept = reader->existingObjectWithID(kept);
  auto readerDoomed = reader->existingObjectWithID(doomed);
  context->deleteObject(context->objectWithID(doomed));
  context->existingObjectWithID(kept)->setValueForKey("size", 42);
  readerKept->setValueForKey("rating", 1.5);  // an unsaved change of the reader
  ASSERT_TRUE(context->save());
  EXPECT_EQ(tag->valueForKey("name"), Value("stamped")) << "willSave changes are saved";
  EXPECT_EQ(tag->saves, 1);
  ASSERT_EQ(willSave.size(), 1u);
  ASSERT_EQ(didSave.size(), 1u);
  EXPECT_EQ(didSave[0].inserted, std::vector<ObjectID>{tag->objectID()});
  EXPECT_EQ(didSave[0].updated, std::vector<ObjectID>{kept});
  EXPECT_EQ(didSave[0].deleted, std::vector<ObjectID>{doomed});

  reader->mergeChanges(didSave[0]);
  EXPECT_EQ(readerKept->valueForKey("size"), Value(42));
  EXPECT_EQ(readerKept->valueForKey("rating"), Value(1.5));
  EXPECT_EQ(readerDoomed->managedObjectContext(), nullptr);
  EXPECT_EQ(reader->existingObjectWithID(tag->objectID())->as<StampedTag>()->awakenings, 1);
  EXPECT_TRUE(reader->save()) << "no conflict after the merge";
  NotificationCenter::defaultCenter().removeObserver(willToken);
  NotificationCenter::defaultCenter().removeObserver(didToken);
}

TEST_F(ContextSaveTest, HistoryRecordsEachSaveAndMergesIntoAnotherContext) {
  Date start = Date::now();
  auto writer = library.context("QLTBackgroundContext");
  writer->setTransactionAuthor("com.quillet.app");
  auto item = writer->insertNewObject("Item");
  item->setValueForKey("name", "a");
  ASSERT_TRUE(writer->save());
  item->setValueForKey("name", "b");
  item->setValueForKey("size", 3);
  ASSERT_TRUE(writer->save());

  auto reader = library.context();
  auto mirror = reader->existingObjectWithID(item->objectID());
  ASSERT_EQ(mirror->valueForKey("name"), Value("b"));
  writer->deleteObject(item);
  ASSERT_TRUE(writer->save());

  Error error;
  auto history = library.container.fetchHistoryAfterDate(Date(start.timeIntervalSinceReferenceDate() - 1), &error);
  ASSERT_TRUE(history) << error.description();
  ASSERT_EQ(history->size(), 3u);
  EXPECT_EQ((*history)[0].author, "com.quillet.app");
  EXPECT_EQ((*history)[0].contextName, "QLTBackgroundContext");
  ASSERT_EQ((*history)[1].changes.size(), 1u);
  EXPECT_EQ((*history)[1].changes[0].type, HistoryChangeType::Update);
  EXPECT_EQ((*history)[1].changes[0].updatedProperties, (std::vector<std::string>{"name", "size"}));
  EXPECT_EQ((*history)[2].changes[0].type, HistoryChangeType::Delete);
  EXPECT_EQ(library.container.fetchHistoryAfterDate((*history)[2].timestamp)->size(), 0u);

  reader->mergeChanges((*history)[2].objectIDNotification());
  EXPECT_EQ(mirror->managedObjectContext(), nullptr);

  ScratchDirectory other;
  PersistentContainer untracked("Plain", libraryTestModel(), other.path());
  untracked.loadPersistentStores(nullptr);
  EXPECT_FALSE(untracked.fetchHistoryAfterDate(Date::distantPast(), &error));
}

TEST_F(ContextSaveTest, PrivateQueuesSerializeTheirWork) {
  auto context = library.context();
  std::atomic<int> running{0}, overlap{0};
  std::vector<std::future<void>> done;
  for (int i = 0; i < 20; ++i) {
    auto promise = std::make_shared<std::promise<void>>();
    done.push_back(promise->get_future());
    context->perform([&, i, promise] {
      if (running.fetch_add(1)) ++overlap;
      context->insertNewObject("Item")->setValueForKey("name", "n" + std::to_string(i));
      EXPECT_TRUE(context->save());
      running.fetch_sub(1);
      promise->set_value();
    });
  }
  for (auto& future : done) future.wait();
  EXPECT_EQ(overlap.load(), 0);
  int64_t count = 0;
  context->performAndWait([&] { count = *context->count(FetchRequest("Item")); });
  EXPECT_EQ(count, 20);

  std::promise<int64_t> counted;
  library.container.performBackgroundTask(
      [&](ManagedObjectContext& background) { counted.set_value(*background.count(FetchRequest("Item"))); });
  EXPECT_EQ(counted.get_future().get(), 20);
}

}  // namespace
}  // namespace qlt
