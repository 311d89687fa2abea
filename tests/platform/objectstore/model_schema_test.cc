#include <gtest/gtest.h>

#include "platform/objectstore/managed_object_model.h"
#include "platform/objectstore/schema.h"
#include "platform/sqlite/database.h"
#include "platform/sqlite/statement.h"

namespace qlt {
namespace {

std::shared_ptr<const ManagedObjectModel> libraryLikeModel(bool withNewAttribute) {
  ModelBuilder builder("Library");
  builder.entity("Group").abstract().attribute("identifier", AttributeType::String).done()
      .attribute("name", AttributeType::String).done()
      .relationship("parent", "Folder").inverse("children");
  builder.entity("Folder").parent("Group")
      .relationship("children", "Group").ordered().inverse("parent").cascade().done()
      .relationship("items", "Item").toMany().inverse("folder").cascade();
  builder.entity("RootFolder").parent("Folder").attribute("allowManualOrdering", AttributeType::Boolean);
  builder.entity("Tag").parent("Group").relationship("items", "Item").toMany().inverse("tags");
  auto& item = builder.entity("Item");
  item.attribute("identifier", AttributeType::String).done()
      .attribute("size", AttributeType::Number).indexed().done()
      .relationship("folder", "Folder").inverse("items").done()
      .relationship("tags", "Tag").toMany().inverse("items");
  if (withNewAttribute) item.attribute("summary", AttributeType::String);
  Error error;
  auto model = builder.build(&error);
  EXPECT_TRUE(model) << error.description();
  return model;
}

std::map<std::string, std::vector<std::string>> columnsOf(Database& database) {
  std::map<std::string, std::vector<std::string>> columns;
  auto tables = database.prepare("SELECT name FROM sqlite_master WHERE type = 'table'");
  while (tables->step()) {
    std::string table(tables->columnText(0));
    auto info = database.prepare("PRAGMA table_info(" + StoreSchema::quote(table) + ")");
    while (info->step()) columns[table].push_back(std::string(info->columnText(1)));
  }
  return columns;
}

TEST(ModelTest, InheritedLookupsAndInverses) {
  auto model = libraryLikeModel(false);
  const EntityDescription* root = model->entity("RootFolder");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(&root->rootEntity(), model->entity("Group"));
  EXPECT_TRUE(root->isKindOfEntity(*model->entity("Folder")));
  EXPECT_FALSE(model->entity("Folder")->isKindOfEntity(*root));
  EXPECT_NE(root->attribute("name"), nullptr);
  EXPECT_NE(root->relationship("children"), nullptr);
  EXPECT_EQ(root->allProperties().front()->name(), "identifier");
  EXPECT_EQ(model->entity("Group")->selfAndDescendantNames().size(), 4u);
  const RelationshipDescription* tags = model->entity("Item")->relationship("tags");
  EXPECT_TRUE(tags->isManyToMany());
  EXPECT_EQ(tags->inverseRelationship(), model->entity("Tag")->relationship("items"));
  EXPECT_FALSE(model->entity("Folder")->relationship("children")->isManyToMany());
  EXPECT_EQ(model->manyToManyRelationships().size(), 1u);
}

TEST(ModelTest, BrokenModelsAreRefused) {
  auto expectRefused = [](auto declare) {
    ModelBuilder builder("Broken");
    declare(builder);
    Error error;
    EXPECT_EQ(builder.build(&error), nullptr);
    EXPECT_EQ(error.domain(), kModelErrorDomain);
  };
  expectRefused([](ModelBuilder& b) { b.entity("A").parent("Missing"); });
  expectRefused([](ModelBuilder& b) { b.entity("A").parent("B"); b.entity("B").parent("A"); });
  expectRefused([](ModelBuilder& b) { b.entity("A").relationship("b", "Nowhere"); });
  expectRefused([](ModelBuilder& b) {
    b.entity("A").relationship("b", "B").inverse("a");
    b.entity("B").relationship("a", "A").inverse("other");
  });
  expectRefused([](ModelBuilder& b) {
    b.entity("A").attribute("x", AttributeType::String);
    b.entity("B").parent("A").attribute("x", AttributeType::Integer64);
  });
  expectRefused([](ModelBuilder& b) {
    b.entity("A").attribute("x", AttributeType::String).done().listingIndex("missing", "x");
  });
  expectRefused([](ModelBuilder& b) {
    b.entity("A").attribute("x", AttributeType::String).done().relationship("bs", "B").toMany().done().listingIndex(
        "bs", "x");
    b.entity("B");
  });
}

// A page of one owner's rows, in the order listings use, comes straight off
// the listing index: no sort of all the owner's rows for every page.
TEST(SchemaTest, ListingPagesNeedNoSort) {
  ModelBuilder builder("Listing");
  builder.entity("Folder").attribute("name", AttributeType::String).done().relationship("items", "Item").toMany().inverse(
      "folder");
  builder.entity("Item")
      .attribute("filename", AttributeType::String).done()
      .attribute("dateModified", AttributeType::Date).done()
      .relationship("folder", "Folder").inverse("items").done()
      .listingIndex("folder", "filename")
      .listingIndex("folder", "dateModified");
  Error error;
  auto model = builder.build(&error);
  ASSERT_TRUE(model) << error.description();
  auto database = Database::open(":memory:");
  ASSERT_TRUE(database);
  StoreSchema schema(model);
  for (const auto& sql : schema.migrationStatements(columnsOf(*database))) ASSERT_TRUE(database->execute(sql)) << sql;
  for (const char* order : {"t0.\"filename\" COLLATE QLT_LOCALIZED_STANDARD ASC", "t0.\"dateModified\" ASC"}) {
    auto plan = database->prepare(std::string("EXPLAIN QUERY PLAN SELECT t0.\"_pk\" FROM \"Item\" t0 WHERE ((t0.\"folder\" IS ?)) "
                                              "ORDER BY ") + order + ", t0.\"_pk\" LIMIT ? OFFSET ?");
    ASSERT_TRUE(plan);
    std::string steps;
    while (plan->step()) steps += std::string(plan->columnText(3)) + "\n";
    EXPECT_EQ(steps.find("TEMP B-TREE"), std::string::npos) << order << "\n" << steps;
    EXPECT_NE(steps.find("INDEX"), std::string::npos) << order << "\n" << steps;
  }
}

TEST(ModelTest, AttributesCoerceOnlyLosslessly) {
  auto model = libraryLikeModel(false);
  const AttributeDescription* size = model->entity("Item")->attribute("size");
  EXPECT_EQ(size->coerce(Value(12.0)), Value(12));
  EXPECT_EQ(size->coerce(Value(12.5)), std::nullopt);
  EXPECT_EQ(size->coerce(Value("12")), std::nullopt);
  EXPECT_TRUE(size->accepts(Value()));
}

TEST(SchemaTest, CreatesTablesThenAddsOnlyWhatANewerModelLacks) {
  auto database = Database::open(":memory:");
  ASSERT_TRUE(database);
  StoreSchema first(libraryLikeModel(false));
  for (const auto& sql : first.migrationStatements(columnsOf(*database))) ASSERT_TRUE(database->execute(sql)) << sql;
  auto columns = columnsOf(*database);
  std::string join = first.joinTable(*first.model().entity("Item")->relationship("tags")).name;
  EXPECT_EQ(join, first.joinTable(*first.model().entity("Tag")->relationship("items")).name);
  ASSERT_TRUE(columns.count("Group") && columns.count("Item") && columns.count(join));
  const auto& group = columns["Group"];
  for (const char* name : {"_pk", "_entity", "_version", "name", "allowManualOrdering", "parent", "parent__entity",
                           "parent__order"})
    EXPECT_NE(std::find(group.begin(), group.end(), name), group.end()) << name;

  ASSERT_TRUE(database->execute("INSERT INTO \"Item\" (\"_pk\", \"identifier\") VALUES (1, 'kept')"));
  StoreSchema second(libraryLikeModel(true));
  auto statements = second.migrationStatements(columnsOf(*database));
  for (const auto& sql : statements) {
    EXPECT_EQ(sql.find("CREATE TABLE"), std::string::npos) << sql;
    ASSERT_TRUE(database->execute(sql)) << sql;
  }
  auto item = database->prepare("SELECT \"identifier\", \"summary\" FROM \"Item\"");
  ASSERT_TRUE(item->step());
  EXPECT_EQ(item->columnText(0), "kept");
  EXPECT_TRUE(item->isNull(1));
  for (const auto& sql : second.migrationStatements(columnsOf(*database)))
    EXPECT_NE(sql.find("IF NOT EXISTS"), std::string::npos) << "nothing left to add: " << sql;
}

}  // namespace
}  // namespace qlt
