#include "cloud/cloud_defaults.h"

#include <gtest/gtest.h>

#include <atomic>

#include "model/model_fixture.h"
#include "platform/defaults/user_defaults.h"
#include "platform/defaults/user_defaults_archiving.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/text/color.h"
#include "platform/text/text_archiving.h"
#include "store/library_model_constants.h"
#include "support/polling.h"

namespace qlt {
namespace {

struct CloudClassesRegistered {
  CloudClassesRegistered() {
    registerLibraryModelClasses();
    registerCloudClasses();
  }
};

// A library of its own on a fresh group container: one device.
class Device : private CloudClassesRegistered, public ModelFixture {
 public:
  std::shared_ptr<CloudDefaults> settings() {
    std::shared_ptr<CloudDefaults> settings = CloudDefaults::cloudDefaults(*context);
    EXPECT_TRUE(settings && settings->identifier() == kCloudDefaultsIdentifier);
    return settings;
  }
};

UserDefaults& defaults() { return UserDefaults::standard(); }

void clearMirroredDefaults() {
  for (const std::string& key : CloudDefaults::observedDefaultsKeys()) EXPECT_TRUE(defaults().removeObjectForKey(key));
}

std::optional<Color> colorInDefaults(const std::string& key) {
  std::optional<ArchiveObject> object = unarchiveObjectOfClass(defaults(), "NSColor", key);
  return object ? colorFromArchive(*object) : std::nullopt;
}

class CloudDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override { clearMirroredDefaults(); }
  void TearDown() override { clearMirroredDefaults(); }
};

TEST_F(CloudDefaultsTest, TheMappingCoversTheThirtyOneKeys) {
  EXPECT_EQ(CloudDefaults::observedDefaultsKeys().size(), 31u);
  EXPECT_EQ(CloudDefaults::observedDefaultsKeys().front(), "QLTAutoRenameNotes");
  EXPECT_EQ(CloudDefaults::savedKeyForDefaultsKey("QLTWebLinkSaveMinimalIfPossible"), "webLinkSaveMinimal");
  EXPECT_EQ(CloudDefaults::savedKeyForDefaultsKey("QLTNoteLinkTextColor"), "noteLinkColorData");
  EXPECT_FALSE(CloudDefaults::savedKeyForDefaultsKey("QLTSomethingElse"));
  EXPECT_TRUE(CloudDefaults::isColorDefaultsKey("QLTPDFDefaultHighlightColor"));
  EXPECT_FALSE(CloudDefaults::allowsZeroValueForDefaultsKey("QLTWebLinkMinHeight"));
  EXPECT_TRUE(CloudDefaults::allowsZeroValueForDefaultsKey("QLTWebLinkSaveFormat"));
}

TEST_F(CloudDefaultsTest, SettingsTravelToASecondLibraryAndBackIntoItsDefaults) {
  registerTextClasses();
  std::optional<CloudRecord> record;
  {
    Device first;
    ASSERT_TRUE(first.library) << first.loadError.description();
    ASSERT_TRUE(defaults().setString("Menlo", "QLTRichTextFontName"));
    ASSERT_TRUE(defaults().setDouble(14, "QLTRichTextFontSize"));
    ASSERT_TRUE(defaults().setBool(true, "QLTAllowNumericHashtags"));
    ASSERT_TRUE(defaults().setInteger(2, "QLTMarkdownDefaultViewMode"));
    ASSERT_TRUE(archiveObject(defaults(), ArchiveObject(codableForColor(Color::rgb(1, 0, 0, 1))), "QLTNoteLinkTextColor"));

    std::shared_ptr<CloudDefaults> settings = first.settings();
    ASSERT_TRUE(settings);
    first.context->performAndWait([&] { settings->startObservingDefaults(); });
    // Copied at once, before any change is noticed.
    EXPECT_EQ(settings->valueForKey("richTextFontName"), Value("Menlo"));
    EXPECT_EQ(settings->valueForKey("allowNumericHashtags"), Value(true));
    EXPECT_TRUE(settings->valueForKey("noteLinkColorData").data());

    // Later changes follow.
    ASSERT_TRUE(defaults().setInteger(0, "QLTWebLinkSaveFormat"));
    ASSERT_TRUE(defaults().setDouble(11, "QLTPlainTextFontSize"));
    EXPECT_TRUE(eventually([&] {
      Value value;
      first.context->performAndWait([&] { value = settings->valueForKey("plainTextFontSize"); });
      return value == Value(11.0);
    }));
    first.context->performAndWait([&] {
      settings->setValueForKey("richTextFontSize", 0.0);  // zero: absent for a font size
      record = settings->cloudRecord();
      settings->stopObservingDefaults();
    });
  }

  // The other device starts with its own values.
  clearMirroredDefaults();
  ASSERT_TRUE(defaults().setDouble(13, "QLTRichTextFontSize"));
  ASSERT_TRUE(defaults().setString("Menlo", "QLTMarkdownFontName"));
  ASSERT_TRUE(defaults().setBool(true, "QLTAllowNumericHashtags"));
  std::atomic<int> hashtagWrites{0};
  ObserverToken token =
      defaults().addObserver("QLTAllowNumericHashtags", [&](const std::optional<PropertyList>&) { ++hashtagWrites; });

  Device second;
  ASSERT_TRUE(second.library) << second.loadError.description();
  std::shared_ptr<CloudDefaults> settings = second.settings();
  ASSERT_TRUE(settings && record);
  second.context->performAndWait([&] { settings->updateFromCloudRecord(*record); });
  defaults().removeObserver(token);

  EXPECT_EQ(defaults().stringForKey("QLTRichTextFontName"), "Menlo");
  EXPECT_FALSE(defaults().objectForKey("QLTRichTextFontSize")) << "a zero font size removes the setting";
  EXPECT_EQ(defaults().doubleForKey("QLTPlainTextFontSize"), 11);
  EXPECT_EQ(defaults().objectForKey("QLTWebLinkSaveFormat"), std::optional<PropertyList>(PropertyList(0)))
      << "a zero format is a value";
  EXPECT_EQ(defaults().integerForKey("QLTMarkdownDefaultViewMode"), 2);
  EXPECT_FALSE(defaults().objectForKey("QLTMarkdownFontName")) << "absent in the cloud, removed here";
  EXPECT_EQ(hashtagWrites, 0) << "an equal value is not rewritten";
  std::optional<Color> red = colorInDefaults("QLTNoteLinkTextColor");
  ASSERT_TRUE(red);
  EXPECT_DOUBLE_EQ(red->red(), 1);
  EXPECT_DOUBLE_EQ(red->green(), 0);
  EXPECT_DOUBLE_EQ(red->blue(), 0);
  EXPECT_DOUBLE_EQ(red->alpha(), 1);
}

TEST_F(CloudDefaultsTest, ArchivedDefaultsReportMissingAndBrokenData) {
  Error error;
  EXPECT_FALSE(unarchiveObjectOfClass(defaults(), "NSColor", "QLTNoteLinkTextColor", &error));
  EXPECT_TRUE(error.is(kUserDefaultsArchivingErrorDomain, kUserDefaultsArchivingNoDataErrorCode));
  EXPECT_EQ(error.localizedDescription(), "No such value.");
  ASSERT_TRUE(defaults().setObject(Bytes{1, 2, 3}, "QLTNoteLinkTextColor"));
  error = {};
  EXPECT_FALSE(unarchiveObjectOfClass(defaults(), "NSColor", "QLTNoteLinkTextColor", &error));
  EXPECT_FALSE(error.is(kUserDefaultsArchivingErrorDomain, kUserDefaultsArchivingNoDataErrorCode));
}

}  // namespace
}  // namespace qlt
