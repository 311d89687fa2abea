#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/string_comparison.h"
#include "platform/objectstore/predicate.h"
#include "platform/objectstore/predicate_error.h"

namespace qlt {
namespace {

std::string reread(const std::string& format, std::vector<Value> arguments = {}) {
  Error error;
  PredicatePtr predicate = Predicate::withFormat(format, std::move(arguments), &error);
  return predicate ? predicate->description() : "error: " + error.localizedDescription();
}

TEST(PredicateParserTest, FormatsTheSystemWrites) {
  const ObjectID folder{"S", "Folder", 4};
  EXPECT_EQ(reread("parent == %@ AND name != nil", {folder}),
            "parent == " + folder.uriRepresentation() + " AND name != nil");
  EXPECT_EQ(reread("self IN %@", {ValueList{1, 2}}), "SELF IN {1, 2}");
  EXPECT_EQ(reread("dateRecordChanged > %@", {Date(0)}), "dateRecordChanged > " + Date(0).description());
  EXPECT_EQ(reread("saved == YES && parent == nil"), "saved == YES AND parent == nil");
  EXPECT_EQ(reread("#size > 0"), "size > 0");
  EXPECT_EQ(reread("identifier == %@", {"a\"b"}), "identifier == \"a\\\"b\"");
  EXPECT_EQ(reread("name ==[cd] %@", {"x"}), "name ==[cd] \"x\"");
  EXPECT_EQ(reread("ANY tags.name ==[c] %@", {"x"}), "ANY tags.name ==[c] \"x\"");
  EXPECT_EQ(reread("NOT (folder IN %@)", {ValueList{}}), "NOT folder IN {}");
  EXPECT_EQ(reread("name LIKE[c] '*.txt'"), "name LIKE[c] \"*.txt\"");
  EXPECT_EQ(reread("dateModified BETWEEN %@", {ValueList{Date(1), Date(2)}}),
            "dateModified BETWEEN {" + Date(1).description() + ", " + Date(2).description() + "}");
  EXPECT_EQ(reread("folder.parent == nil OR (isFavorite == YES AND size >= 1024)"),
            "folder.parent == nil OR (isFavorite == YES AND size >= 1024)");
  EXPECT_EQ(reread("tags.@count > 0 AND tags CONTAINS %@", {folder}),
            "tags.@count > 0 AND tags CONTAINS " + folder.uriRepresentation());

  Comparison comparison = Predicate::withFormat("ANY tags.name ==[cd] 'x'")->comparison();
  EXPECT_EQ(comparison.modifier, ComparisonModifier::Any);
  EXPECT_EQ(comparison.options, unsigned(CaseInsensitive | DiacriticInsensitive | WidthInsensitive));
  EXPECT_EQ(comparison.lhs.keyPath(), (std::vector<std::string>{"tags", "name"}));
}

TEST(PredicateParserTest, KeywordsSynonymsAndLiterals) {
  EXPECT_EQ(reread("a = 1 and not b =< 2 OR c => 3 || !(d <> 4) && e != 5"),
            "(a == 1 AND NOT b <= 2) OR c >= 3 OR (NOT d != 4 AND e != 5)");
  EXPECT_EQ(reread("a in {1, -2, 0x1F, 2.5, -1e3, 'x', \"y\", {nil, NULL}}"),
            "a IN {1, -2, 31, 2.5, -1000.0, \"x\", \"y\", {nil, nil}}");
  EXPECT_EQ(reread("a == yes OR b == No OR c == TRUE OR d == false"), "a == YES OR b == NO OR c == YES OR d == NO");
  EXPECT_EQ(reread("a == 'tab\\there \\'q\\' \\u00e9'"), "a == \"tab\\there 'q' \u00e9\"");
  EXPECT_EQ(reread("SELF.name beginswith[C] 'a' AND truepredicate OR FALSEPREDICATE"),
            "(name BEGINSWITH[c] \"a\" AND TRUEPREDICATE) OR FALSEPREDICATE");
  EXPECT_EQ(reread("NONE tags.name == 'x' AND SOME tags.name == 'y' AND ALL tags.name == 'z'"),
            "NOT ANY tags.name == \"x\" AND ANY tags.name == \"y\" AND ALL tags.name == \"z\"");
  EXPECT_EQ(reread("#in.#self == 1 AND %K == %d AND %K.x < %f AND n == %ld", {"folder.name", 3, "f", 2, true}),
            "#in.#self == 1 AND folder.name == 3 AND f.x < 2.0 AND n == 1");
  EXPECT_EQ(reread("a == %@", {"x", "unused"}), "a == \"x\"");
  EXPECT_EQ(reread("x == 9223372036854775807 AND y == -9223372036854775808"),
            "x == 9223372036854775807 AND y == -9223372036854775808");

  for (const char* format : {"name ==[cd] 'Å' AND NOT (x IN {1, 2.5, nil} OR ALL t.@count BETWEEN {0, 3})",
                             "a CONTAINS[d] \"q\\\"\\\\\" OR b MATCHES '^x$' OR c ENDSWITH 'e'"}) {
    std::string once = reread(format);
    EXPECT_EQ(reread(once), once);
  }
}

TEST(PredicateParserTest, MalformedInputFailsWithPosition) {
  struct Case {
    std::string format;
    std::vector<Value> arguments;
    long code;
    const char* position;
  };
  const std::vector<Case> cases = {
      {"", {}, kPredicateSyntaxError, "position 0"},
      {"name ==", {}, kPredicateSyntaxError, "position 7"},
      {"name == 'abc", {}, kPredicateSyntaxError, "position 8"},
      {"(name == 1", {}, kPredicateSyntaxError, "position 10"},
      {"name === 1", {}, kPredicateSyntaxError, "position 7"},
      {"name ==[x] 1", {}, kPredicateSyntaxError, "position 7"},
      {"name == 1 name", {}, kPredicateSyntaxError, "position 10"},
      {"and == 1", {}, kPredicateSyntaxError, "position 0"},
      {"name", {}, kPredicateSyntaxError, "position 4"},
      {"a & b", {}, kPredicateSyntaxError, "position 2"},
      {"tags.@sum.size > 1", {}, kPredicateSyntaxError, "position 4"},
      {"tags.@count.x > 1", {}, kPredicateSyntaxError, "position 4"},
      {"@count > 1", {}, kPredicateSyntaxError, "position 0"},
      {"a == 12abc", {}, kPredicateSyntaxError, "position 5"},
      {"a == 99999999999999999999", {}, kPredicateSyntaxError, "position 5"},
      {"a == 1e999", {}, kPredicateSyntaxError, "position 5"},
      {"a == 'bad \\x'", {}, kPredicateSyntaxError, "position 5"},
      {"a == '\\uD800'", {}, kPredicateSyntaxError, "position 5"},
      {"a == %q", {}, kPredicateSyntaxError, "position 5"},
      {"a == {1, 2", {}, kPredicateSyntaxError, "position 10"},
      {"a BETWEEN {1}", {}, kPredicateSyntaxError, "position 2"},
      {"a BETWEEN %@", {ValueList{1}}, kPredicateArgumentError, "position 2"},
      {"a == %@ AND b == %@", {1}, kPredicateArgumentError, "position 17"},
      {"%K == 1", {5}, kPredicateArgumentError, "position 0"},
      {"%K == 1", {"a..b"}, kPredicateArgumentError, "position 0"},
      {"a == %d", {"x"}, kPredicateArgumentError, "position 5"},
      {"a == %f", {Value()}, kPredicateArgumentError, "position 5"},
      {std::string("a == \0 1", 8), {}, kPredicateSyntaxError, "position 5"},
  };
  for (const Case& test : cases) {
    Error error;
    EXPECT_EQ(Predicate::withFormat(test.format, test.arguments, &error), nullptr) << test.format;
    EXPECT_EQ(error.domain(), kPredicateErrorDomain) << test.format;
    EXPECT_EQ(error.code(), test.code) << test.format << ": " << error.localizedDescription();
    EXPECT_NE(error.localizedDescription().find(test.position), std::string::npos)
        << test.format << ": " << error.localizedDescription();
    EXPECT_EQ(Predicate::withFormat(test.format, test.arguments), nullptr) << test.format;
  }
}

TEST(PredicateParserTest, NestingIsCappedButLongChainsAreFlat) {
  auto repeat = [](const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
  };
  for (const std::string& format :
       {repeat("(", 5000) + "a == 1" + repeat(")", 5000), repeat("NOT ", 5000) + "a == 1", repeat("!", 5000) + "a == 1",
        "a IN " + repeat("{", 5000), "a IN " + repeat("{", 100) + repeat("}", 100),
        repeat("(a == 1 OR (b == 2 AND ", 60) + "c == 3" + repeat("))", 60)}) {
    Error error;
    EXPECT_EQ(Predicate::withFormat(format, {}, &error), nullptr) << format.substr(0, 40);
    EXPECT_EQ(error.code(), kPredicateTooDeepError) << format.substr(0, 40) << error.localizedDescription();
  }
  std::string chain = "a == 0";
  for (int i = 1; i < 5000; ++i) chain += (i % 2 ? " AND a == " : " && a == ") + std::to_string(i);
  PredicatePtr predicate = Predicate::withFormat(chain);
  ASSERT_NE(predicate, nullptr);
  EXPECT_EQ(predicate->subpredicates().size(), 5000u);
  EXPECT_EQ(predicate->depth(), 3);
  EXPECT_NE(Predicate::withFormat(repeat("(", 40) + "a == 1" + repeat(")", 40)), nullptr);
}

}  // namespace
}  // namespace qlt
