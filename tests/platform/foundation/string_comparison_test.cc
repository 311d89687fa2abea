#include "platform/foundation/string_comparison.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/foundation/regular_expression.h"
#include "platform/foundation/string_matching.h"

namespace qlt {
namespace {

constexpr unsigned kIgnoreAll = CaseInsensitive | DiacriticInsensitive | WidthInsensitive;
const char* const kDecomposedE = "e\xCC\x81";  // e + COMBINING ACUTE ACCENT

TEST(StringComparisonTest, InsensitiveOptionsEachIgnoreTheirDifference) {
  EXPECT_EQ(compareStrings("Résumé", "resume", CaseInsensitive | DiacriticInsensitive), 0);
  EXPECT_NE(compareStrings("Résumé", "resume", CaseInsensitive), 0);
  EXPECT_NE(compareStrings("Résumé", "resume", DiacriticInsensitive), 0);
  EXPECT_EQ(compareStrings("\xEF\xBC\xA1", "a", kIgnoreAll), 0);  // FULLWIDTH LATIN CAPITAL LETTER A
  EXPECT_EQ(compareStrings("\xEF\xBC\xA1", "A", WidthInsensitive), 0);
  EXPECT_NE(compareStrings("\xEF\xBC\xA1", "a", CaseInsensitive), 0);
  EXPECT_EQ(compareStrings("STRASSE", "straße", CaseInsensitive), 0);
  EXPECT_EQ(compareStrings("caf\xC3\xA9", std::string("caf") + kDecomposedE, 0), 0);
  EXPECT_LT(compareStrings("apple", "Banana", CaseInsensitive), 0);
  EXPECT_GT(compareStrings("apple", "Banana", 0), 0);
}

TEST(StringComparisonTest, NumericOrderAndForcedOrdering) {
  EXPECT_LT(compareStrings("a2", "a10", Numeric), 0);
  EXPECT_GT(compareStrings("a2", "a10", 0), 0);
  EXPECT_LT(compareStrings("File 9 copy", "file 10", Numeric | CaseInsensitive), 0);
  EXPECT_EQ(compareStrings("v007", "v7", Numeric), 0);
  EXPECT_NE(compareStrings("v007", "v7", Numeric | ForcedOrdering), 0);
  EXPECT_NE(compareStrings("Resume", "resume", CaseInsensitive | ForcedOrdering), 0);
  EXPECT_LT(compareStrings("x2", "x10", Numeric, "en"), 0);
  EXPECT_LT(compareStrings("\xD9\xA2", "\xD9\xA1\xD9\xA0", Numeric), 0);  // Arabic-Indic 2 < 10
}

TEST(StringComparisonTest, LocaleDecidesTheOrderOfLetters) {
  // Swedish sorts ä after z; German sorts it with a.
  EXPECT_LT(compareStrings("ä", "z", 0, "de"), 0);
  EXPECT_GT(compareStrings("ä", "z", 0, "sv_SE.UTF-8"), 0);
  EXPECT_EQ(compareStrings("Résumé", "RESUME", CaseInsensitive | DiacriticInsensitive, "fr"), 0);
  EXPECT_NE(compareStrings("Résumé", "resume", CaseInsensitive, "fr"), 0);
  EXPECT_NE(compareStrings("Résumé", "résumé", DiacriticInsensitive, "fr"), 0);
  EXPECT_EQ(compareStrings("\xEF\xBC\xA1", "A", WidthInsensitive, "root"), 0);
  EXPECT_NE(compareStrings("\xEF\xBC\xA1", "A", 0, "root"), 0);
}

TEST(StringComparisonTest, FoldedFormsAgreeWithComparison) {
  EXPECT_EQ(foldString("\xEF\xBC\xB2\xC3\xA9sum\xC3\xA9", kIgnoreAll), "resume");  // "Ｒésumé"
  EXPECT_EQ(foldString(std::string("Caf") + kDecomposedE, CaseInsensitive), "caf\xC3\xA9");
  // Half-width KA + half-width voiced mark compose to GA.
  EXPECT_EQ(foldString("\xEF\xBD\xB6\xEF\xBE\x9E", WidthInsensitive), "\xE3\x82\xAC");

  const std::vector<std::string> words = {"Résumé",
                                          "resume",
                                          "RESUME",
                                          "re\xCC\x81sume\xCC\x81",
                                          "\xEF\xBD\x92\xEF\xBD\x85sume",
                                          "Straße",
                                          "STRASSE",
                                          "İstanbul",
                                          "istanbul",
                                          "naïve",
                                          "NAIVE",
                                          "ﬁle"};
  for (unsigned options : {0u, unsigned{CaseInsensitive}, unsigned{DiacriticInsensitive}, kIgnoreAll}) {
    for (const std::string& a : words) {
      for (const std::string& b : words) {
        bool sameFold = foldString(a, options) == foldString(b, options);
        EXPECT_EQ(compareStrings(a, b, options) == 0, sameFold) << a << " / " << b << " options " << options;
        EXPECT_EQ(compareStrings(a, b, options), -compareStrings(b, a, options));
      }
    }
  }
}

TEST(StringComparisonTest, UnlocalizedOrderIsTheOrderOfFoldedForms) {
  // Pieces that fold in every way: case, marks that join the letter before
  // them, full-width forms, expansions, and an ill-formed byte.
  const std::vector<std::string> pieces = {"a",
                                           "A",
                                           "b",
                                           "e",
                                           "E",
                                           "\xCC\x81",
                                           "\xC3\xA9",
                                           "\xC3\x89",
                                           "\xEF\xBD\x85",
                                           "\xC3\x9F",
                                           "s",
                                           "S",
                                           "\xE2\x84\xAA",
                                           "k",
                                           "\xFF",
                                           " "};
  std::mt19937 random(3);
  auto word = [&] {
    std::string text;
    for (size_t length = random() % 5; length > 0; --length) text += pieces[random() % pieces.size()];
    return text;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string a = word(), b = word();
    for (unsigned options : {0u, unsigned{CaseInsensitive}, kIgnoreAll}) {
      int folded = foldString(a, options).compare(foldString(b, options));
      EXPECT_EQ(compareStrings(a, b, options), (folded > 0) - (folded < 0))
          << a << " / " << b << " options " << options;
    }
  }
}

TEST(StringComparisonTest, StandardOrderIsTheFileManagersAndTotal) {
  const std::vector<std::string> expected = {"_notes",     "file 1.txt", "File 2.txt", "File 10.txt",
                                             "file10.txt", "resume",     "Resume",     "re\xCC\x81sume\xCC\x81",
                                             "résumé",     "zebra",      "Zebra"};
  std::vector<std::string> names = expected;
  std::shuffle(names.begin(), names.end(), std::mt19937(7));
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return localizedStandardCompare(a, b) < 0; });
  // Canonically equivalent spellings are equal to the collator; only their
  // bytes order them, which puts the decomposed form first.
  EXPECT_EQ(names, expected);
  for (const std::string& a : expected) {
    for (const std::string& b : expected) {
      EXPECT_EQ(localizedStandardCompare(a, b) == 0, a == b) << a << " / " << b;
      EXPECT_EQ(localizedStandardCompare(a, b), -localizedStandardCompare(b, a));
    }
  }
}

TEST(StringComparisonTest, NormalizationAndLengthSurviveIllFormedInput) {
  EXPECT_EQ(normalizeNFC(std::string("caf") + kDecomposedE), "caf\xC3\xA9");
  EXPECT_EQ(normalizeNFD("caf\xC3\xA9"), std::string("caf") + kDecomposedE);
  EXPECT_EQ(utf16Length("a\xF0\x9F\x98\x80\xC3\xA9"), 4u);  // a, U+1F600 as a pair, é
  const std::string broken = "a\xFF\xC3";
  EXPECT_EQ(utf16Length(broken), 3u);
  EXPECT_EQ(normalizeNFC(broken), "a\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(foldString(broken, kIgnoreAll), "a\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(compareStrings(broken, "a\xEF\xBF\xBD\xEF\xBF\xBD", CaseInsensitive), 0);
  EXPECT_NE(localizedStandardCompare(broken, "a"), 0);
}

TEST(StringMatchingTest, PrefixSuffixAndContainsRespectOptionsAndCharacters) {
  EXPECT_TRUE(stringHasPrefix("Résumé.pdf", "RESU", CaseInsensitive | DiacriticInsensitive));
  EXPECT_FALSE(stringHasPrefix("Résumé.pdf", "RESU", CaseInsensitive));
  EXPECT_TRUE(stringHasSuffix("Report.PDF", ".pdf", CaseInsensitive));
  EXPECT_TRUE(stringContains("My \xEF\xBC\xAE\xEF\xBD\x8F\xEF\xBD\x94\xEF\xBD\x85s", "notes", kIgnoreAll));
  // A match may not end inside a character.
  std::string decomposed = std::string("cafe") + "\xCC\x81" + " noir";
  EXPECT_FALSE(stringContains(decomposed, "cafe", 0));
  EXPECT_TRUE(stringContains(decomposed, "cafe", DiacriticInsensitive));
  EXPECT_FALSE(stringHasPrefix(std::string(kDecomposedE), "e", 0));
  EXPECT_TRUE(stringContains("caf\xC3\xA9", kDecomposedE, 0));
  EXPECT_FALSE(stringContains("abc", "", 0));
  EXPECT_FALSE(stringHasPrefix("abc", "", 0));
}

TEST(StringMatchingTest, LikePatternWildcardsAndEscapes) {
  struct Case {
    const char* pattern;
    const char* text;
    unsigned options;
    bool matches;
  };
  const Case cases[] = {
      {"*.txt", "notes.txt", 0, true},
      {"*.txt", "notes.TXT", 0, false},
      {"*.txt", "notes.TXT", CaseInsensitive, true},
      {"a?c", "abc", 0, true},
      {"a?c", "ac", 0, false},
      {"a?c",
       "a\xC3\xA9"
       "c",
       0, true},
      {"a?c",
       "ae\xCC\x81"
       "c",
       0, true},  // decomposed é is one character
      {"*a*b*c*", "xxaxxbxxbxxcxx", 0, true},
      {"*a*b*c", "xxaxxbxxbxxcx", 0, false},
      {"r*sum?", "Résumé", kIgnoreAll, true},
      {"a%", "abc", 0, false},
      {"a_c", "abc", 0, false},
      {"a\\*", "a*", 0, true},
      {"a\\*", "ab", 0, false},
      {"a\\?", "a?", 0, true},
      {"**", "", 0, true},
      {"", "", 0, true},
      {"", "a", 0, false},
      {"a\xEF\xBC\x8A", "a*", WidthInsensitive, true},  // a full-width star is a literal
      {"a\xEF\xBC\x8A", "abc", WidthInsensitive, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LikePattern(c.pattern, c.options).matches(c.text), c.matches) << c.pattern << " ~ " << c.text;
  }
}

TEST(StringMatchingTest, RegularExpressionsMatchTheWholeText) {
  auto digits = RegularExpression::make("[a-c]+\\d", 0);
  ASSERT_NE(digits, nullptr);
  EXPECT_TRUE(digits->matchesWhole("abc1"));
  EXPECT_FALSE(digits->matchesWhole("abc1x"));
  EXPECT_FALSE(digits->matchesWhole("ABC1"));
  auto folded = RegularExpression::make("r.sume", CaseInsensitive | DiacriticInsensitive);
  ASSERT_NE(folded, nullptr);
  EXPECT_TRUE(folded->matchesWhole("RÉSUMÉ"));
  EXPECT_FALSE(folded->matchesWhole("\xFF"));

  Error error;
  EXPECT_EQ(RegularExpression::make("(unclosed", 0, &error), nullptr);
  EXPECT_TRUE(error.is(kCocoaErrorDomain, 2048));
  EXPECT_NE(error.localizedDescription().find("(unclosed"), std::string::npos);
  EXPECT_EQ(RegularExpression::make("[", 0), nullptr);
}

}  // namespace
}  // namespace qlt
