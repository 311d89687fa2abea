#include "platform/foundation/error.h"

#include <gtest/gtest.h>

namespace qlt {
namespace {

TEST(ErrorTest, DescriptionCarriesDomainCodeTextAndUserInfo) {
  Error underlying("QLTFileProviderOperationErrorDomain", 10001);
  Error error(kCocoaErrorDomain, kCocoaServiceReplyInvalidError, "No library");
  error.setUnderlyingError(underlying);
  error.setUserInfoValue(kFilePathErrorKey, std::string("/tmp/x"));
  error.setUserInfoValue("count", 3);

  std::string text = error.description();
  EXPECT_NE(text.find("Domain=NSCocoaErrorDomain Code=4101 \"No library\""), std::string::npos) << text;
  EXPECT_NE(text.find("QLTFileProviderOperationErrorDomain Code=10001"), std::string::npos) << text;
  EXPECT_NE(text.find("NSFilePath=/tmp/x"), std::string::npos) << text;
  EXPECT_NE(text.find("count=3"), std::string::npos) << text;
  ASSERT_NE(error.underlyingError(), nullptr);
  EXPECT_TRUE(error.underlyingError()->is("QLTFileProviderOperationErrorDomain", 10001));
  EXPECT_EQ(error.userInfoString(kFilePathErrorKey), "/tmp/x");
  EXPECT_EQ(error.userInfoString("count"), std::nullopt);
}

TEST(ErrorTest, LocalizedDescriptionKeyAndFallbackText) {
  Error error("SomeDomain", 7);
  EXPECT_NE(error.localizedDescription().find("SomeDomain error 7"), std::string::npos);
  error.setUserInfoValue(kLocalizedDescriptionKey, std::string("Readable"));
  EXPECT_EQ(error.localizedDescription(), "Readable");
  EXPECT_EQ(error.userInfoValue(kLocalizedDescriptionKey), nullptr);
}

TEST(ErrorTest, PlatformErrorsCarryTheirCodesAndIdentifier) {
  Error missing = fileProviderErrorForNonExistentItem("Item|ABC");
  EXPECT_TRUE(missing.is(kFileProviderErrorDomain, -1005));
  EXPECT_EQ(missing.itemIdentifier(), "Item|ABC");
  EXPECT_NE(missing.description().find("Item|ABC"), std::string::npos);
  EXPECT_TRUE(userCancelledError().is(kCocoaErrorDomain, 3072));
  EXPECT_EQ(posixError(ENOENT, "/nope").userInfoString(kFilePathErrorKey), "/nope");
}

TEST(ErrorTest, MissingOutParameterIsHarmless) {
  setError(nullptr, Error("D", 1));
  Error out;
  setError(&out, Error("D", 2));
  EXPECT_EQ(out.code(), 2);
}

}  // namespace
}  // namespace qlt
