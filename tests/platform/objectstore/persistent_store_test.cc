#include "platform/objectstore/persistent_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "support/scratch_directory.h"
#include "platform/foundation/uuid.h"
#include "platform/sqlite/statement.h"

namespace qlt {
namespace {

std::shared_ptr<const ManagedObjectModel> model(bool later) {
  ModelBuilder builder("Library");
  if (later) builder.entity("Note").attribute("text", AttributeType::String);
  builder.entity("Group").abstract().attribute("name", AttributeType::String);
  builder.entity("Folder").parent("Group");
  auto& item = builder.entity("Item");
  item.attribute("title", AttributeType::String);
  if (later) item.attribute("summary", AttributeType::String);
  return builder.build();
}

std::set<std::string> tablesOf(Database& database) {
  std::set<std::string> tables;
  auto select = database.prepare("SELECT name FROM sqlite_master WHERE type IN ('table', 'view')");
  while (select->step()) tables.insert(std::string(select->columnText(0)));
  return tables;
}

std::string contentsOf(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

TEST(PersistentStoreTest, CreatesReopensAndMigrates) {
  ScratchDirectory scratch;
  std::string path = scratch.path("store.sqlite");
  Error error;
  auto first = PersistentStore::open(path, model(false), {}, &error);
  ASSERT_TRUE(first) << error.description();
  EXPECT_TRUE(isUUIDString(first->identifier()));
  auto tables = tablesOf(first->database());
  for (const char* table : {"_qlt_metadata", "_qlt_entities", "_qlt_keys", "Group", "Item"})
    EXPECT_TRUE(tables.count(table)) << table;
  EXPECT_FALSE(tables.count("_qlt_history_changes"));
  int64_t itemCode = *first->entityCode("Item");
  EXPECT_EQ(first->entityName(itemCode), "Item");
  EXPECT_FALSE(first->entityCode("Note"));
  ASSERT_TRUE(first->database().execute("INSERT INTO \"Item\" (_pk, _entity, title) VALUES (7, 3, 'kept')"));
  std::string identifier = first->identifier();
  first.reset();

  PersistentStoreOptions options;
  options.readOnly = true;
  EXPECT_FALSE(PersistentStore::open(path, model(true), options, &error));
  EXPECT_EQ(error.code(), kPersistentStoreIncompatibleSchemaError);
  options.readOnly = false;
  options.historyTracking = true;
  options.vacuumOnOpen = true;
  auto later = PersistentStore::open(path, model(true), options, &error);
  ASSERT_TRUE(later) << error.description();
  EXPECT_EQ(later->identifier(), identifier);
  EXPECT_EQ(later->entityCode("Item"), itemCode);
  EXPECT_EQ(later->entityCode("Group"), 1);
  EXPECT_EQ(later->entityCode("Note"), 4);
  EXPECT_TRUE(tablesOf(later->database()).count("_qlt_history_changes"));
  auto row = later->database().prepare("SELECT title, summary FROM \"Item\" WHERE _pk = 7");
  ASSERT_TRUE(row->step());
  EXPECT_EQ(row->columnText(0), "kept");
  EXPECT_TRUE(row->isNull(1));
  ObjectID id = later->objectID(*later->model().entity("Note"), 3);
  EXPECT_EQ(id.storeIdentifier, identifier);
  EXPECT_EQ(id.entityName, "Note");

  options.readOnly = true;
  auto readOnly = PersistentStore::open(path, model(true), options, &error);
  ASSERT_TRUE(readOnly) << error.description();
  EXPECT_EQ(readOnly->identifier(), identifier);
  EXPECT_FALSE(readOnly->allocatePrimaryKeys(*readOnly->model().entity("Item"), 1));
}

TEST(PersistentStoreTest, MetadataIsSharedAndSurvivesReopen) {
  ScratchDirectory scratch;
  std::string path = scratch.path("store.sqlite");
  auto one = PersistentStore::open(path, model(false));
  auto two = PersistentStore::open(path, model(false));
  ASSERT_TRUE(one && two);
  EXPECT_TRUE(one->metadata().empty());
  ASSERT_TRUE(one->setMetadata({{"version", PropertyList(int64_t{3})}, {"name", PropertyList(std::string("a"))}}));
  EXPECT_EQ(*two->metadata().at("version").integer(), 3);
  ASSERT_TRUE(two->setMetadata({{"name", PropertyList(std::string("b"))}}));
  one.reset();
  two.reset();
  auto reopened = PersistentStore::open(path, model(false));
  PropertyListDictionary metadata = reopened->metadata();
  EXPECT_EQ(metadata.size(), 1u);
  EXPECT_EQ(*metadata.at("name").string(), "b");
}

TEST(PersistentStoreTest, KeysNeverOverlapAcrossStores) {
  ScratchDirectory scratch;
  std::string path = scratch.path("store.sqlite");
  {
    auto seed = PersistentStore::open(path, model(false));
    ASSERT_TRUE(seed->database().execute("INSERT INTO \"Group\" (_pk, _entity) VALUES (500, 2)"));
  }
  auto one = PersistentStore::open(path, model(false));
  auto two = PersistentStore::open(path, model(false));
  ASSERT_TRUE(one && two);
  std::vector<int64_t> keys[2];
  auto allocate = [&](PersistentStore& store, std::vector<int64_t>& out) {
    const EntityDescription& folder = *store.model().entity("Folder");
    for (int i = 0; i < 1000; ++i) {
      int64_t count = i % 100 == 0 ? 150 : 1;
      std::optional<int64_t> first = store.allocatePrimaryKeys(folder, count);
      ASSERT_TRUE(first);
      for (int64_t k = 0; k < count; ++k) out.push_back(*first + k);
    }
  };
  std::thread a(allocate, std::ref(*one), std::ref(keys[0]));
  std::thread b(allocate, std::ref(*two), std::ref(keys[1]));
  a.join();
  b.join();
  std::set<int64_t> all(keys[0].begin(), keys[0].end());
  all.insert(keys[1].begin(), keys[1].end());
  EXPECT_EQ(all.size(), keys[0].size() + keys[1].size());
  EXPECT_GT(*all.begin(), 500);
  EXPECT_EQ(*one->allocatePrimaryKeys(*one->model().entity("Item"), 1), 1) << "each root table counts on its own";
  EXPECT_FALSE(one->allocatePrimaryKeys(*one->model().entity("Item"), 0));
}

TEST(PersistentStoreTest, RefusedFilesAreLeftAsTheyWere) {
  ScratchDirectory scratch;
  std::string garbage = scratch.path("garbage.sqlite");
  std::ofstream(garbage, std::ios::binary) << std::string(4096, 'x') << "not a database";
  std::string before = contentsOf(garbage);
  Error error;
  EXPECT_FALSE(PersistentStore::open(garbage, model(false), {}, &error));
  EXPECT_EQ(error.code(), kPersistentStoreInvalidTypeError);
  EXPECT_EQ(contentsOf(garbage), before);
  EXPECT_FALSE(std::filesystem::exists(garbage + "-wal"));

  std::string viewed = scratch.path("viewed.sqlite");
  {
    auto database = Database::open(viewed);
    ASSERT_TRUE(database->execute("CREATE TABLE t (x); CREATE VIEW \"Item\" AS SELECT x FROM t"));
  }
  PersistentStoreOptions options;
  options.historyTracking = true;
  EXPECT_FALSE(PersistentStore::open(viewed, model(false), options, &error));
  EXPECT_EQ(error.code(), kPersistentStoreIncompatibleSchemaError);
  EXPECT_NE(error.underlyingError(), nullptr);
  auto database = Database::open(viewed);
  EXPECT_EQ(tablesOf(*database), (std::set<std::string>{"t", "Item"}));
}

}  // namespace
}  // namespace qlt

namespace qlt {
namespace {

TEST(PersistentStoreCollationTest, IndexesOfAnotherCollationVersionAreRebuilt) {
  ScratchDirectory scratch;
  std::string path = scratch.path("store.sqlite");
  ModelBuilder builder("Sorted");
  builder.entity("Item").attribute("name", AttributeType::String).indexed();
  auto model = builder.build();
  {
    auto store = PersistentStore::open(path, model);
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->database().execute(
        "INSERT INTO \"Item\" (_pk, _entity, name) VALUES (1, 1, 'File 10'), (2, 1, 'file 9');"
        "UPDATE \"_qlt_metadata\" SET value = '0.0' WHERE key = '_collationVersion'"));
  }
  auto store = PersistentStore::open(path, model);
  ASSERT_TRUE(store);
  auto version = store->database().prepare("SELECT value FROM \"_qlt_metadata\" WHERE key = '_collationVersion'");
  ASSERT_TRUE(version->step());
  EXPECT_NE(version->columnText(0), "0.0");
  auto ordered = store->database().prepare(
      "SELECT name FROM \"Item\" INDEXED BY \"_index_Item_name_localized\" ORDER BY name COLLATE "
      "QLT_LOCALIZED_STANDARD, _pk");
  ASSERT_TRUE(ordered);
  ASSERT_TRUE(ordered->step());
  EXPECT_EQ(ordered->columnText(0), "file 9");
}

}  // namespace
}  // namespace qlt
