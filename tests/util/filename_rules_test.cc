#include "util/filename_rules.h"

#include <gtest/gtest.h>
#include <unicode/utf8.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/files/file_path.h"
#include "support/scratch_directory.h"
#include "platform/foundation/string_comparison.h"

namespace qlt {
namespace {

std::string repeated(std::string_view piece, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += piece;
  return text;
}

// Empty, or a name that can be created as one entry of a directory on Linux.
void expectSafeComponent(const std::string& name, const std::string& from) {
  if (name.empty()) return;
  EXPECT_TRUE(isValidFilename(name)) << from << " → " << name;
  EXPECT_LE(utf16Length(name), kMaximumFilenameLength) << from;
}

TEST(FilenameRulesTest, GeneratedNamesDropListMarkersAndEndAtTheFirstLine) {
  EXPECT_EQ(generateFilename("12. Shopping list\nmilk"), "Shopping list");
  EXPECT_EQ(generateFilename("1000. x"), "1000");
  EXPECT_EQ(generateFilenameTruncatingToPeriod("1000. x", false), "1000. x");
  EXPECT_EQ(generateFilename("\u2022 Item"), "Item");
  EXPECT_EQ(generateFilename("\u2022\u00A0Item"), "Item");
  EXPECT_EQ(generateFilename("- * x"), "x");
  EXPECT_EQ(generateFilename("\n\t\uFFFCTitle\tof\uFFFC it\n"), "Title of it");
  EXPECT_EQ(generateFilename("Tab\x01stop"), "Tab");
  // These give no name; callers choose their own default.
  for (const char* empty : {"", " \n\t", "\uFFFC", "..."}) EXPECT_EQ(generateFilename(empty), "") << empty;
}

TEST(FilenameRulesTest, GeneratedNamesStopAtPeriodOrAfterTheWordCrossing128Units) {
  std::string first(40, 'a');
  std::string text = first + ". Then more words\nsecond line";
  EXPECT_EQ(generateFilename(text), first);
  EXPECT_EQ(generateFilenameTruncatingToPeriod(text, false), first + ". Then more words");

  // Words of four letters and a space: the word covering unit 128 ends at 129.
  std::string words = repeated("abcd ", 40);
  EXPECT_EQ(generateFilenameTruncatingToPeriod(words, false), words.substr(0, 129));

  EXPECT_EQ(generateFilename(std::string(300, 'w')), std::string(255, 'w'));
}

TEST(FilenameRulesTest, SanitizedNamesAreAlwaysOneSafeComponent) {
  EXPECT_EQ(stringSanitizedForFileName(".hidden"), "-hidden");
  EXPECT_EQ(stringSanitizedForFileName("a/b:c~d"), "a-b-c-d");
  EXPECT_EQ(stringSanitizedForFileName(" \u2026Name\u2026\n"), "Name");
  EXPECT_EQ(stringSanitizedForFileName("a\nb\tc"), "ab-c");
  EXPECT_EQ(stringSanitizedForFileName(std::string("a\0b", 3)), "ab");
  // Control and format characters other than NUL are valid in names.
  EXPECT_EQ(stringSanitizedForFileName("\x01..\x7F"), "\x01..\x7F");
  EXPECT_EQ(stringSanitizedForFileName("\xEF\xBB\xBF.bom"), "\uFEFF.bom");
  EXPECT_EQ(stringSanitizedForFileName("zero\u200Bwidth\u00AD"), "zero\u200Bwidth\u00AD");
  EXPECT_EQ(stringSanitizedForFileName(std::string("\0.x", 3)), "-x") << "NUL goes first";
  EXPECT_EQ(stringSanitizedForFileName("\xFF\xFEname"), "\uFFFD\uFFFDname");
  EXPECT_EQ(stringSanitizedForFileName("family \U0001F468\u200D\U0001F467"), "family \U0001F468\u200D\U0001F467");
  // Nothing left is an empty name, which callers refuse.
  EXPECT_EQ(stringSanitizedForFileName(""), "");
  EXPECT_EQ(stringSanitizedForFileName(" \n\u2026\u2028\u00A0"), "");
  EXPECT_EQ(stringSanitizedForFileName(std::string(1, '\0')), "");

  std::vector<std::string> hostile = {"/", ".", "..", "../../etc/passwd", "./x", std::string(1, '\0'),
                                      std::string("\0..", 3), "\r\n..\x1B", "\u2028.", std::string(300, '.'),
                                      repeated("\U0001F600", 200), "a" + repeated("\U0001F600", 200)};
  for (const std::string& name : hostile) expectSafeComponent(stringSanitizedForFileName(name), name);
}

TEST(FilenameRulesTest, LongNamesAreCutBetweenCodePointsKeepingTheExtension) {
  EXPECT_EQ(stringSanitizedForFileName(std::string(300, 'x') + ".txt"), std::string(251, 'x') + ".txt");

  // 255 units of "é" are 510 bytes: the name is cut again to fit 255 bytes.
  EXPECT_EQ(stringSanitizedForFileName(repeated("\u00E9", 300) + ".txt"), repeated("\u00E9", 125) + ".txt");
  // Cut between emoji, never inside a surrogate pair or a UTF-8 sequence.
  EXPECT_EQ(stringSanitizedForFileName("a" + repeated("\U0001F600", 200)), "a" + repeated("\U0001F600", 63));
  // Decomposed letters count their combining marks.
  EXPECT_EQ(stringSanitizedForFileName(repeated("e\u0301", 200)), repeated("e\u0301", 85));

  // An extension that leaves no room is cut with the rest.
  EXPECT_EQ(stringSanitizedForFileName("a." + std::string(260, 'e')), "a." + std::string(253, 'e'));
}

TEST(FilenameRulesTest, NamesAreEqualIgnoringCaseDiacriticsWidthAndNormalization) {
  EXPECT_TRUE(isEqualToFilename("R\u00E9sum\u00E9", "resume"));
  EXPECT_TRUE(isEqualToFilename("\uFF21", "a"));
  EXPECT_TRUE(isEqualToFilename("caf\u00E9.txt", "cafe\u0301.txt"));
  EXPECT_FALSE(isEqualToFilename("notes", "notes.txt"));
}

TEST(FilenameRulesTest, UniqueNamesCountUpAndKeepTheirNumberWithinTheLimits) {
  std::set<std::string> taken = {"Name", "Name 1.txt", "Name.txt"};
  auto isTaken = [&](const std::string& name) { return taken.contains(name); };
  EXPECT_EQ(uniqueFilename("Name", isTaken), "Name 1");
  EXPECT_EQ(uniqueFilename("Name.txt", isTaken), "Name 2.txt");
  EXPECT_EQ(uniqueFilename("Free:name", isTaken), "Free-name") << "returned sanitized";
  taken.insert("Sane-name");
  EXPECT_EQ(uniqueFilename("Sane:name", isTaken), "Sane-name 1") << "tested sanitized";
  EXPECT_EQ(uniqueFilename("\u2026", isTaken), "");
  EXPECT_EQ(uniqueFilename("..", isTaken), "--");
  taken.insert("a-b 1");
  taken.insert("a:b");
  EXPECT_EQ(uniqueFilename("a:b", isTaken), "a-b 2");

  std::string longest = std::string(251, 'x') + ".txt";
  taken = {longest, std::string(249, 'x') + " 1.txt"};
  EXPECT_EQ(uniqueFilename(longest, isTaken), std::string(249, 'x') + " 2.txt");
  taken = {repeated("\u00E9", 125) + ".txt"};
  EXPECT_EQ(uniqueFilename(*taken.begin(), isTaken), repeated("\u00E9", 124) + " 1.txt");
  std::string hugeExtension = "a." + std::string(253, 'e');
  taken = {hugeExtension};
  std::string variant = uniqueFilename(hugeExtension, isTaken);
  EXPECT_TRUE(variant.ends_with(" 1")) << variant;
  expectSafeComponent(variant, hugeExtension);
}

TEST(FilenameRulesTest, UniqueNamesInADirectoryAvoidEveryEntry) {
  ScratchDirectory scratch;
  for (const char* name : {"Note.txt", "Note 1.txt", "caf\u00E9"}) std::ofstream(scratch.path(name)) << "x";
  std::filesystem::create_symlink("missing-target", scratch.path("Dangling"));

  EXPECT_EQ(makeFilenameUniqueInDirectory("Note.txt", scratch.path()), "Note 2.txt");
  EXPECT_EQ(makeFilenameUniqueInDirectory("Other:name.txt", scratch.path()), "Other:name.txt");
  EXPECT_EQ(makeFilenameUniqueInDirectory("cafe\u0301", scratch.path()), "cafe\u0301 1");
  EXPECT_EQ(makeFilenameUniqueInDirectory("Dangling", scratch.path()), "Dangling 1");
  EXPECT_EQ(makeFilenameUniqueInDirectory("../Note.txt", scratch.path()), "---Note.txt");
}

}  // namespace
}  // namespace qlt
