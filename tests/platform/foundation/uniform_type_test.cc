#include "platform/foundation/uniform_type.h"

#include <gtest/gtest.h>

namespace qlt {
namespace {

using T = UniformType;

TEST(UniformTypeTest, LookupsByIdentifierExtensionAndMIMEType) {
  EXPECT_EQ(T::withIdentifier("public.jpeg"), &T::jpeg());
  EXPECT_EQ(T::withFilenameExtension("JPG"), &T::jpeg());
  EXPECT_EQ(T::withFilenameExtension("markdown"), &T::markdown());
  EXPECT_EQ(T::withFilenameExtension("md"), &T::markdown());
  EXPECT_EQ(T::withFilenameExtension("webloc"), &T::webInternetLocation());
  EXPECT_EQ(T::withFilenameExtension("QltNote"), &T::note());
  EXPECT_EQ(T::withMIMEType("Text/HTML; charset=utf-8"), &T::html());
  EXPECT_EQ(T::note().identifier(), std::string(kProductIdentifierPrefix) + ".note");
  EXPECT_EQ(T::jpeg().preferredFilenameExtension(), "jpeg");
  EXPECT_EQ(T::folder().preferredFilenameExtension(), "");
  for (const char* unknown : {"", "xyz", ".jpg", "jpg "}) EXPECT_EQ(T::withFilenameExtension(unknown), nullptr);
  EXPECT_EQ(T::withIdentifier("public.nothing"), nullptr);
  EXPECT_EQ(T::withMIMEType("application/x-nothing"), nullptr);
}

TEST(UniformTypeTest, ConformanceIsReflexiveAndTransitive) {
  struct Case {
    const UniformType& type;
    const UniformType& other;
    bool conforms;
  } cases[] = {
      {T::note(), T::package(), true},        {T::note(), T::directory(), true},
      {T::note(), T::compositeContent(), true}, {T::note(), T::data(), false},
      {T::jpeg(), T::image(), true},          {T::jpeg(), T::data(), true},
      {T::jpeg(), T::item(), true},           {T::jpeg(), T::content(), true},
      {T::folder(), T::item(), true},         {T::folder(), T::data(), false},
      {T::folder(), T::package(), false},     {T::rtfd(), T::package(), true},
      {T::utf8PlainText(), T::text(), true},  {T::markdown(), T::plainText(), true},
      {T::mpeg4Audio(), T::audio(), true},    {T::webInternetLocation(), T::internetLocation(), true},
      {T::quilletInfo(), T::propertyList(), true}, {T::quilletArchive(), T::data(), true},
      {T::image(), T::jpeg(), false},         {T::text(), T::image(), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.type.conformsTo(c.other), c.conforms) << c.type.identifier() << " / " << c.other.identifier();
  for (const char* identifier : {"public.item", "public.data", "com.adobe.pdf", "com.quillet.note"})
    EXPECT_TRUE(T::withIdentifier(identifier)->conformsTo(*T::withIdentifier(identifier))) << identifier;
}

}  // namespace
}  // namespace qlt
