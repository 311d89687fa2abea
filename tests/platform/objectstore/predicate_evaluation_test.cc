#include "platform/objectstore/predicate_evaluation.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/objectstore/predicate.h"
#include "object_graph.h"

namespace qlt {
namespace {

const ObjectID kFolder{"S", "Folder", 1};
const ObjectID kRed{"S", "Tag", 1};
const ObjectID kBlue{"S", "Tag", 2};

bool matches(const ObjectAccessor& object, const std::string& format, std::vector<Value> arguments = {}) {
  Error error;
  PredicatePtr predicate = Predicate::withFormat(format, std::move(arguments), &error);
  EXPECT_NE(predicate, nullptr) << format << ": " << error.description();
  return predicate && evaluate(*predicate, object);
}

class PredicateEvaluationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    objects_.add(kFolder, {{"name", "Inbox"}, {"parent", Value()}});
    objects_.add(kRed, {{"name", "Red"}});
    objects_.add(kBlue, {{"name", "blue"}});
    item_ = &objects_.add({"S", "Item", 1}, {{"name", "Café"},
                                             {"size", 1024},
                                             {"rating", 2.5},
                                             {"isFavorite", true},
                                             {"dateModified", Date(100)},
                                             {"folder", kFolder},
                                             {"tags", ValueList{kRed, kBlue}},
                                             {"notes", ValueList{}}});
    orphan_ = &objects_.add({"S", "Item", 2}, {{"folder", ObjectID{"S", "Folder", 99}}, {"tags", ValueList{}}});
  }

  ObjectGraph objects_;
  const ObjectAccessor* item_ = nullptr;
  const ObjectAccessor* orphan_ = nullptr;
};

TEST_F(PredicateEvaluationTest, NilIsEqualOnlyToNilAndNeverOrdered) {
  EXPECT_TRUE(matches(*orphan_, "name == nil AND missing == nil AND name == missing"));
  EXPECT_TRUE(matches(*orphan_, "name != 'x' AND NOT (size < 1) AND NOT (size >= 1)"));
  EXPECT_FALSE(matches(*orphan_, "size <= nil OR name BEGINSWITH '' OR name LIKE '*' OR name IN {'a'}"));
  EXPECT_TRUE(matches(*orphan_, "name IN {'a', nil} AND NOT name BETWEEN {nil, 'z'}"));
  // Through a to-one that is nil or does not resolve, key paths yield nil.
  EXPECT_TRUE(matches(*orphan_, "folder.name == nil AND folder.parent.name == nil AND folder != nil"));
}

TEST_F(PredicateEvaluationTest, ValuesCompareWithinTheirKind) {
  EXPECT_TRUE(matches(*item_, "size == 1024.0 AND isFavorite == 1 AND isFavorite == YES AND rating < 3"));
  EXPECT_TRUE(matches(*item_, "size BETWEEN {1000, 2000} AND rating BETWEEN %@", {ValueList{2.5, 2.5}}));
  EXPECT_FALSE(matches(*item_, "size == '1024' OR size > '1' OR dateModified > 5 OR name > 5"));
  EXPECT_TRUE(matches(*item_, "size != '1024' AND dateModified == %@ AND dateModified < %@", {Date(100), Date(101)}));
  EXPECT_TRUE(matches(*item_, "folder == %@ AND folder != %@ AND SELF == %@",
                      {kFolder, ObjectID{"T", "Folder", 1}, ObjectID{"S", "Item", 1}}));
  EXPECT_FALSE(matches(*item_, "folder < %@ OR folder > %@", {kFolder, kFolder}));
}

TEST_F(PredicateEvaluationTest, StringsRespectOptions) {
  EXPECT_FALSE(matches(*item_, "name == 'cafe' OR name == 'Cafe\u0301' OR name ==[c] 'cafe'"));
  EXPECT_TRUE(matches(*item_, "name ==[cd] 'CAFE' AND name ==[c] 'CAFÉ' AND name ==[d] 'Cafe'"));
  EXPECT_TRUE(matches(*item_, "name < 'a' AND name >[c] 'B' AND name BEGINSWITH[c] 'ca' AND name ENDSWITH[d] 'e'"));
  EXPECT_TRUE(matches(*item_, "name CONTAINS 'af' AND name LIKE 'C?f*' AND name LIKE[cd] '*E' AND name MATCHES 'C.*'"));
  EXPECT_FALSE(matches(*item_, "name MATCHES 'af' OR name MATCHES '(' OR name LIKE 'caf?'"));
  EXPECT_TRUE(matches(*item_, "'af' IN name AND NOT 'x' IN name AND name IN[c] {'x', 'CAFÉ'}"));
}

TEST_F(PredicateEvaluationTest, CollectionsAnyAllContainsAndCount) {
  EXPECT_TRUE(matches(*item_, "ANY tags.name ==[c] 'RED' AND NOT ALL tags.name ==[c] 'red'"));
  EXPECT_TRUE(matches(*item_, "ALL tags.name LIKE[c] '*e*' AND tags CONTAINS %@ AND %@ IN tags", {kBlue, kRed}));
  EXPECT_TRUE(matches(*item_, "tags.name CONTAINS 'blue' AND NOT tags.name CONTAINS 'Blue'"));
  EXPECT_TRUE(matches(*item_, "ALL notes.name == 'x' AND NOT ANY notes.name != 'x'"));
  EXPECT_TRUE(matches(*orphan_, "ALL folder.name == 'x' AND NOT ANY folder.name == nil"));
  EXPECT_TRUE(matches(*item_, "ANY folder.name == 'Inbox' AND ANY {1, 2} == 2 AND ALL {1, 2} < 3"));
  EXPECT_TRUE(matches(*item_, "tags.@count == 2 AND notes.@count == 0 AND folder.parent.tags.@count == nil"));
  EXPECT_FALSE(matches(*item_, "tags == 'Red' OR tags > 1 OR {1, 2} == 1"));
}

TEST_F(PredicateEvaluationTest, CompoundsAndDepthLimit) {
  EXPECT_TRUE(matches(*item_, "TRUEPREDICATE AND NOT FALSEPREDICATE AND (size == 1 OR size == 1024)"));
  EXPECT_TRUE(evaluate(*Predicate::andPredicate({}), *item_));
  EXPECT_FALSE(evaluate(*Predicate::orPredicate({}), *item_));
  PredicatePtr deep = Predicate::truePredicate();
  for (int i = 0; i < kMaxPredicateDepth + 2; i += 2) deep = Predicate::notPredicate(Predicate::notPredicate(deep));
  EXPECT_FALSE(evaluate(*deep, *item_));
}

}  // namespace
}  // namespace qlt
