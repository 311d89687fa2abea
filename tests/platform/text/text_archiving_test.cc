#include "platform/text/text_archiving.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/property_list_serialization.h"
#include "platform/text/text_fixtures.h"
#include "support/attributed_string_description.h"

namespace qlt {
namespace {

const ClassNameSet kRoot{"NSMutableAttributedString", "NSTextAttachment", "NSFileWrapper"};

AttributedString sampleWithAttachment() {
  AttributedString text = testing::richSample();
  auto file = std::shared_ptr<FileWrapper>(FileWrapper::regularFile("PDF bytes"));
  file->setPreferredFilename("doc.pdf");
  text.append(AttributedString::withAttachment(std::make_shared<TextAttachment>(file)));
  text.appendText(u" after", {{kForegroundColorAttributeName, Color::textColor()},
                             {kBackgroundColorAttributeName, Color::textBackgroundColor()},
                             {"QLTHighlightTextAttribute", true},
                             {kKernAttributeName, 1.5}});
  return text;
}

TEST(TextArchivingTest, AttributedStringsSurviveTheirArchive) {
  AttributedString text = sampleWithAttachment();
  Error error;
  auto archive = archivedAttributedString(text, true, &error);
  ASSERT_TRUE(archive) << error.description();
  auto read = unarchivedAttributedString(*archive, kRoot, &error);
  ASSERT_TRUE(read) << error.description();
  EXPECT_EQ(testing::describe(*read), testing::describe(text));
  EXPECT_EQ(read->runs().size(), text.runs().size());
}

TEST(TextArchivingTest, RefusesWrongClassesAndRunsThatDoNotFit) {
  registerTextClasses();
  Error error;
  auto archive = archivedAttributedString(sampleWithAttachment(), true);
  ASSERT_TRUE(archive);
  EXPECT_FALSE(unarchivedAttributedString(*archive, {"NSString"}, &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaCoderReadCorruptError)) << error.description();

  auto colour = KeyedArchiver::archivedData(ArchiveObject(codableForColor(Color::white())));
  ASSERT_TRUE(colour);
  EXPECT_FALSE(unarchivedAttributedString(*colour, {"NSColor"}, &error));

  // A run longer than the string.
  class Lying final : public Codable {
   public:
    std::string className() const override { return "NSMutableAttributedString"; }
    void encode(KeyedArchiver& archiver) const override {
      archiver.encodeString("NSString", "abc");
      archiver.encodeObject("NSAttributes", ArchiveObject::array({ArchiveObject::dictionary({})}));
      archiver.encodeData("NSAttributeInfo", Bytes{9, 0});
    }
  };
  auto lying = KeyedArchiver::archivedData(ArchiveObject(std::shared_ptr<Codable>(std::make_shared<Lying>())));
  ASSERT_TRUE(lying);
  EXPECT_FALSE(unarchivedAttributedString(*lying, kRoot, &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaCoderReadCorruptError)) << error.description();
}

TEST(TextArchivingTest, RefusesArchivesWhoseObjectsFormACycle) {
  auto archive = archivedAttributedString(AttributedString::fromUTF8("x", {{kLinkAttributeName, std::string("u")}}), false);
  ASSERT_TRUE(archive);
  auto plist = parsePropertyList(*archive);
  ASSERT_TRUE(plist);
  PropertyListDictionary& top = *plist->dictionary();
  PropertyListUID root = *(*top["$top"].dictionary())["root"].uid();
  // Every attribute dictionary's values point back at the string itself.
  int rewired = 0;
  for (PropertyList& object : *top["$objects"].array())
    if (auto fields = object.dictionary(); fields && fields->count("NS.objects"))
      for (PropertyList& value : *(*fields)["NS.objects"].array()) value = root, ++rewired;
  ASSERT_GT(rewired, 0);
  auto cyclic = serializePropertyList(*plist, PropertyListFormat::Binary);
  ASSERT_TRUE(cyclic);
  Error error;
  EXPECT_FALSE(unarchivedAttributedString(*cyclic, kRoot, &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaCoderReadCorruptError)) << error.description();
}

TEST(TextArchivingTest, SurvivesRandomMutations) {
  std::mt19937 random(151515);
  const Bytes valid = *archivedAttributedString(sampleWithAttachment(), false);
  for (int iteration = 0; iteration < 2000; ++iteration) {
    Bytes bytes = valid;
    for (int edits = 1 + random() % 4; edits > 0; --edits) {
      size_t at = random() % bytes.size();
      switch (random() % 3) {
        case 0: bytes[at] ^= static_cast<uint8_t>(1 + random() % 255); break;
        case 1: bytes.resize(std::max<size_t>(at, 1)); break;
        case 2: bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(random())); break;
      }
    }
    if (auto read = unarchivedAttributedString(bytes, kRoot))  // must not crash
      (void)archivedAttributedString(*read, false);
  }
}

}  // namespace
}  // namespace qlt
