#include "platform/objectstore/predicate_sql.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/objectstore/predicate.h"
#include "platform/objectstore/predicate_error.h"
#include "platform/objectstore/predicate_evaluation.h"
#include "platform/sqlite/database.h"
#include "object_graph.h"
#include "random_predicates.h"

namespace qlt {
namespace {

constexpr const char* kStore = "5C1D6A3E-STORE";

ObjectID idOf(const std::string& entity, int64_t key) { return ObjectID{kStore, entity, key}; }

// Items in folders with tags, kept both as in-memory objects and as rows.
class World : public ObjectGraph {
 public:
  Object& add(const std::string& entity, int64_t key, std::map<std::string, Value> values) {
    return ObjectGraph::add(idOf(entity, key), std::move(values));
  }

  // Fills in the to-many sides from the to-one and Item.tags sides.
  void linkInverses() {
    for (auto& [id, object] : objects) {
      if (id.entityName == "Folder") object.values["items"] = object.values["children"] = ValueList();
      if (id.entityName == "Tag") object.values["items"] = ValueList();
    }
    auto append = [&](const Value& owner, const char* key, const ObjectID& member) {
      auto found = owner.objectID() ? objects.find(*owner.objectID()) : objects.end();
      if (found == objects.end()) return;
      ValueList list = *found->second.values[key].collection();
      list.push_back(member);
      found->second.values[key] = Value(std::move(list));
    };
    for (auto& [id, object] : objects) {
      if (id.entityName == "Item") {
        append(object.valueForKey("folder"), "items", id);
        for (const Value& tag : *object.valueForKey("tags").collection()) append(tag, "items", id);
      }
      if (id.entityName == "Folder") append(object.valueForKey("parent"), "children", id);
    }
  }
};

class Mapper final : public SQLSchemaMapper {
 public:
  Mapper() {
    using Kind = SQLProperty::Kind;
    auto attribute = [](const char* column, SQLColumnType type) {
      return SQLProperty{Kind::Attribute, column, type, {}, {}, {}, {}, {}};
    };
    auto toOne = [](const char* column, const char* destination) {
      return SQLProperty{Kind::ToOne, column, {}, destination, {}, {}, {}, {}};
    };
    auto inverse = [](const char* destination, const char* column) {
      return SQLProperty{Kind::ToMany, {}, {}, destination, column, {}, {}, {}};
    };
    auto joined = [](const char* destination, const char* source, const char* target) {
      return SQLProperty{Kind::ToMany, {}, {}, destination, {}, "Z_ITEM_TAGS", source, target};
    };
    properties_ = {
        {{"Item", "name"}, attribute("ZNAME", SQLColumnType::Text)},
        {{"Item", "size"}, attribute("ZSIZE", SQLColumnType::Integer)},
        {{"Item", "rating"}, attribute("ZRATING", SQLColumnType::Real)},
        {{"Item", "dateModified"}, attribute("ZDATEMODIFIED", SQLColumnType::Date)},
        {{"Item", "isFavorite"}, attribute("ZISFAVORITE", SQLColumnType::Boolean)},
        {{"Item", "thumbnail"}, attribute("ZTHUMBNAIL", SQLColumnType::Blob)},
        {{"Item", "folder"}, toOne("ZFOLDER", "Folder")},
        {{"Item", "tags"}, joined("Tag", "item", "tag")},
        {{"Folder", "name"}, attribute("ZNAME", SQLColumnType::Text)},
        {{"Folder", "parent"}, toOne("ZPARENT", "Folder")},
        {{"Folder", "items"}, inverse("Item", "ZFOLDER")},
        {{"Folder", "children"}, inverse("Folder", "ZPARENT")},
        {{"Tag", "name"}, attribute("ZNAME", SQLColumnType::Text)},
        {{"Tag", "folder"}, toOne("ZFOLDER", "Folder")},
        {{"Tag", "items"}, joined("Item", "tag", "item")},
    };
  }

  std::string tableName(const std::string& entity) const override { return "Z" + entity; }
  std::string primaryKeyColumn(const std::string&) const override { return "_pk"; }
  std::optional<SQLProperty> property(const std::string& entity, const std::string& key) const override {
    auto found = properties_.find({entity, key});
    return found == properties_.end() ? std::nullopt : std::optional(found->second);
  }
  std::optional<int64_t> primaryKey(const ObjectID& id, const std::string& entity) const override {
    if (id.storeIdentifier != kStore || id.entityName != entity) return std::nullopt;
    return id.primaryKey;
  }

 private:
  std::map<std::pair<std::string, std::string>, SQLProperty> properties_;
};

bool bind(Statement& statement, int index, const Value& value) {
  switch (value.type()) {
    case Value::Type::Null:
      return statement.bindNull(index);
    case Value::Type::Boolean:
      return statement.bindInt64(index, *value.boolean());
    case Value::Type::Integer:
      return statement.bindInt64(index, *value.integer());
    case Value::Type::Double:
      return statement.bindDouble(index, *value.real());
    case Value::Type::String:
      return statement.bindText(index, *value.string());
    case Value::Type::Date:
      return statement.bindDouble(index, value.date()->timeIntervalSinceReferenceDate());
    case Value::Type::Data:
      return statement.bindBlob(index, *value.data());
    case Value::Type::Object:
      return statement.bindInt64(index, value.objectID()->primaryKey);
    case Value::Type::Collection:
      return false;
  }
  return false;
}

class PredicateSQLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Error error;
    database_ = Database::open(":memory:", {}, &error);
    ASSERT_NE(database_, nullptr) << error.description();
    ASSERT_TRUE(database_->execute(
        "CREATE TABLE ZFolder (_pk INTEGER PRIMARY KEY, ZNAME TEXT, ZPARENT INTEGER);"
        "CREATE TABLE ZTag (_pk INTEGER PRIMARY KEY, ZNAME TEXT COLLATE QLT_NOCASE, ZFOLDER INTEGER);"
        "CREATE TABLE ZItem (_pk INTEGER PRIMARY KEY, ZNAME TEXT, ZSIZE INTEGER, ZRATING REAL,"
        " ZDATEMODIFIED REAL, ZISFAVORITE INTEGER, ZTHUMBNAIL BLOB, ZFOLDER INTEGER);"
        "CREATE TABLE Z_ITEM_TAGS (item INTEGER, tag INTEGER);",
        &error))
        << error.description();
  }

  void insert(const std::string& entity, int64_t key, std::map<std::string, Value> values) {
    world_.add(entity, key, values);
    std::map<std::string, Value> row;
    for (const auto& [name, value] : values) {
      if (auto property = mapper_.property(entity, name); property && !property->column.empty()) {
        row[property->column] = value;
      }
    }
    std::string columns = "_pk", marks = "?";
    for (const auto& entry : row) {
      columns += ", " + entry.first;
      marks += ", ?";
    }
    auto statement = database_->prepare("INSERT INTO Z" + entity + " (" + columns + ") VALUES (" + marks + ")");
    ASSERT_NE(statement, nullptr);
    bind(*statement, 1, Value(key));
    int index = 2;
    for (const auto& entry : row) bind(*statement, index++, entry.second);
    ASSERT_TRUE(statement->execute());
    if (entity == "Item") {
      for (const Value& tag : *values["tags"].collection()) {
        ASSERT_TRUE(database_->execute("INSERT INTO Z_ITEM_TAGS VALUES (" + std::to_string(key) + ", " +
                                       std::to_string(tag.objectID()->primaryKey) + ")"));
      }
    }
  }

  std::set<int64_t> selectSQL(const Predicate& predicate, Error* error = nullptr) {
    SQLFragment fragment;
    if (!compileToSQL(predicate, "Item", mapper_, &fragment, error)) return {-1};
    std::string sql = "SELECT t0._pk FROM ZItem t0";
    for (const std::string& join : fragment.joins) sql += " " + join;
    auto statement = database_->prepare(sql + " WHERE " + fragment.where, error);
    if (!statement) return {-2};
    for (size_t i = 0; i < fragment.parameters.size(); ++i)
      bind(*statement, static_cast<int>(i + 1), fragment.parameters[i]);
    std::set<int64_t> keys;
    while (statement->step(error)) keys.insert(statement->columnInt64(0));
    if (statement->failed()) return {-3};
    lastSQL_ = sql + " WHERE " + fragment.where;
    return keys;
  }

  std::set<int64_t> selectInMemory(const Predicate& predicate) const {
    std::set<int64_t> keys;
    for (const auto& [id, object] : world_.objects) {
      if (id.entityName == "Item" && evaluate(predicate, object)) keys.insert(id.primaryKey);
    }
    return keys;
  }

  std::unique_ptr<Database> database_;
  Mapper mapper_;
  World world_;
  std::string lastSQL_;
};

TEST_F(PredicateSQLTest, TargetedSemanticsMatchInMemory) {
  insert("Folder", 1, {{"name", "Inbox"}, {"parent", Value()}});
  insert("Folder", 2, {{"name", "Sub"}, {"parent", idOf("Folder", 1)}});
  insert("Tag", 1, {{"name", "Red"}});
  insert("Item", 1,
         {{"name", "café"}, {"size", 10}, {"folder", idOf("Folder", 2)}, {"tags", ValueList{idOf("Tag", 1)}}});
  insert("Item", 2, {{"name", Value()}, {"size", Value()}, {"folder", Value()}, {"tags", ValueList()}});
  insert("Item", 3, {{"name", "CAFE"}, {"size", 2048}, {"folder", idOf("Folder", 1)}, {"tags", ValueList()}});
  world_.linkInverses();

  const std::vector<std::pair<const char*, std::set<int64_t>>> cases = {
      {"name != 'café'", {2, 3}},
      {"NOT (#size > 100)", {1, 2}},
      {"name ==[cd] 'cafe'", {1, 3}},
      {"folder.parent == nil", {2, 3}},
      {"folder.parent.name == 'Inbox'", {1}},
      {"ALL tags.name == 'Blue'", {2, 3}},
      {"ANY tags.name ==[c] 'red'", {1}},
      {"tags.@count == 0", {2, 3}},
      {"folder.items.@count == 1", {1, 3}},
      {"NOT (folder.items.@count == 1)", {2}},
  };
  for (const auto& [format, expected] : cases) {
    Error error;
    PredicatePtr predicate = Predicate::withFormat(format, {}, &error);
    ASSERT_NE(predicate, nullptr) << format << ": " << error.description();
    EXPECT_EQ(selectInMemory(*predicate), expected) << format;
    EXPECT_EQ(selectSQL(*predicate, &error), expected) << format << "\n" << lastSQL_ << "\n" << error.description();
  }
}

TEST_F(PredicateSQLTest, JoinsAreSharedAndConstantsBound) {
  SQLFragment fragment;
  auto predicate = Predicate::withFormat(
      "folder.name == \"O'Brien\" AND folder.parent.name != %@ OR folder.name BEGINSWITH 'x'", {"a\"b"});
  ASSERT_TRUE(compileToSQL(*predicate, "Item", mapper_, &fragment));
  EXPECT_EQ(fragment.joins.size(), 2u);
  EXPECT_EQ(fragment.where.find("O'Brien"), std::string::npos);
  EXPECT_EQ(fragment.parameters, (std::vector<Value>{"O'Brien", "a\"b", "x"}));

  ASSERT_TRUE(compileToSQL(*Predicate::withFormat("dateModified > %@ AND isFavorite == YES OR self IN %@",
                                                  {Date(5), ValueList{idOf("Item", 7), idOf("Tag", 8)}}),
                           "Item", mapper_, &fragment));
  EXPECT_EQ(fragment.parameters, (std::vector<Value>{5.0, 1, 7}));
}

TEST_F(PredicateSQLTest, UnsupportedShapesFail) {
  for (const char* format : {"nickname == 'x'", "tags == %@", "ANY tags.items.name == 'x'", "tags.items.@count > 1",
                             "name.length == 1", "name MATCHES '(unclosed'", "#size BETWEEN rating"}) {
    Error error;
    PredicatePtr predicate = Predicate::withFormat(format, {Value(ValueList{1, 2}), Value(ValueList{1, 2})});
    ASSERT_NE(predicate, nullptr) << format;
    SQLFragment fragment;
    EXPECT_FALSE(compileToSQL(*predicate, "Item", mapper_, &fragment, &error)) << format;
    EXPECT_EQ(error.domain(), kPredicateErrorDomain) << format;
    EXPECT_FALSE(compileToSQL(*predicate, "Item", mapper_, &fragment)) << format;
  }
  PredicatePtr deep = Predicate::withFormat("#size > 1");
  for (int i = 0; i < kMaxPredicateDepth + 5; ++i) deep = Predicate::notPredicate(deep);
  Error error;
  EXPECT_FALSE(compileToSQL(*deep, "Item", mapper_, nullptr, &error));
  EXPECT_EQ(error.code(), kPredicateTooDeepError);
}

TEST_F(PredicateSQLTest, RandomPredicatesSelectWhatEvaluationAccepts) {
  std::mt19937 random(20240611);
  RandomPredicates generator(random, idOf);
  auto maybe = [&](int percent, Value value) {
    return std::uniform_int_distribution<int>(0, 99)(random) < percent ? value : Value();
  };
  for (int64_t key = 1; key <= 5; ++key) {
    Value parent =
        key > 1 ? maybe(70, idOf("Folder", std::uniform_int_distribution<int64_t>(1, key - 1)(random))) : Value();
    insert("Folder", key, {{"name", maybe(85, generator.constant(RandomPredicates::String))}, {"parent", parent}});
  }
  for (int64_t key = 1; key <= 4; ++key) {
    insert("Tag", key,
           {{"name", maybe(85, generator.constant(RandomPredicates::String))},
            {"folder", maybe(50, generator.constant(RandomPredicates::Folder))}});
  }
  for (int64_t key = 1; key <= 40; ++key) {
    ValueList tags;
    for (int64_t tag = 1; tag <= 4; ++tag) {
      if (maybe(30, true).boolValue()) tags.push_back(idOf("Tag", tag));
    }
    insert("Item", key,
           {{"name", maybe(85, generator.constant(RandomPredicates::String))},
            {"size", maybe(80, Value(std::vector<int>{-1, 0, 3, 10, 1024, 4096}[key % 6]))},
            {"rating", maybe(60, Value(std::uniform_int_distribution<int>(0, 10)(random) / 4.0))},
            {"dateModified", maybe(80, generator.constant(RandomPredicates::Date))},
            {"isFavorite", maybe(80, Value(maybe(50, true).boolValue()))},
            {"thumbnail", maybe(50, generator.constant(RandomPredicates::Data))},
            // Folder 6 does not exist: a dangling key behaves like any other.
            {"folder", maybe(75, idOf("Folder", std::uniform_int_distribution<int64_t>(1, 6)(random)))},
            {"tags", tags}});
  }
  world_.linkInverses();

  int nonTrivial = 0;
  for (int i = 0; i < 600; ++i) {
    auto [format, arguments] = generator.next();
    Error error;
    PredicatePtr predicate = Predicate::withFormat(format, arguments, &error);
    ASSERT_NE(predicate, nullptr) << format << "\n" << error.description();
    std::set<int64_t> inMemory = selectInMemory(*predicate);
    std::set<int64_t> selected = selectSQL(*predicate, &error);
    ASSERT_EQ(selected, inMemory) << "#" << i << " " << predicate->description() << "\n"
                                  << lastSQL_ << "\n"
                                  << error.description();
    PredicatePtr reread = Predicate::withFormat(predicate->description(), {}, &error);
    if (reread) {
      EXPECT_EQ(selectInMemory(*reread), inMemory) << predicate->description();
    }
    if (!inMemory.empty() && inMemory.size() < 40) ++nonTrivial;
  }
  EXPECT_GT(nonTrivial, 200);
}

}  // namespace
}  // namespace qlt
