#include "richtext/note_text_style.h"

#include <gtest/gtest.h>

#include "platform/defaults/user_defaults.h"

namespace qlt {
namespace {

class NoteTextStyleTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    (void)UserDefaults::standard().removeObjectForKey(kNoteTextStylesDefaultsKey);
    (void)UserDefaults::standard().removeObjectForKey(kNoteTextStyleDefaultIdentifierDefaultsKey);
    NoteTextStyle::reloadStylesFromDefaults();
  }
};

TEST_F(NoteTextStyleTest, StandardStylesHaveTheirDefaults) {
  NoteTextStyle body = NoteTextStyle::bodyNoteTextStyle();
  EXPECT_EQ(body.fontName(), "HelveticaNeue");
  EXPECT_EQ(body.fontSize(), 12);
  EXPECT_EQ(NoteTextStyle::defaultStyle().identifier(), "QLTNoteStyleIdentifierBody");
  NoteTextStyle title = NoteTextStyle::titleNoteTextStyle();
  EXPECT_EQ(title.fontName(), "HelveticaNeue-Bold");
  EXPECT_EQ(title.fontSize(), 17);
  EXPECT_EQ(title.paragraphStyle().headerLevel, 1);
  EXPECT_TRUE(title.applyToParagraph());
  EXPECT_EQ(NoteTextStyle::monospacedNoteTextStyle().paragraphStyle().lineSpacing, 1);
  std::vector<std::string> order;
  for (const NoteTextStyle& style : NoteTextStyle::standardStyles()) order.push_back(style.name());
  EXPECT_EQ(order, (std::vector<std::string>{"Title", "Heading", "Subheading", "Body", "Monospaced"}));
  EXPECT_DOUBLE_EQ(NoteTextStyle::scaleFactorForNoteTextSize(4), 17.0 / 12.0);
  EXPECT_DOUBLE_EQ(NoteTextStyle::scaleFactorForNoteTextSize(7), 0.875);
}

TEST_F(NoteTextStyleTest, OnlyChangedAndCustomStylesAreStored) {
  ASSERT_TRUE(NoteTextStyle::saveStylesToDefaults(NoteTextStyle::standardStyles()));
  EXPECT_FALSE(UserDefaults::standard().objectForKey(kNoteTextStylesDefaultsKey));

  std::vector<NoteTextStyle> styles = NoteTextStyle::standardStyles();
  styles[0].setFontSize(20);
  ASSERT_TRUE(NoteTextStyle::saveStylesToDefaults(styles));
  EXPECT_TRUE(UserDefaults::standard().objectForKey(kNoteTextStylesDefaultsKey));
  EXPECT_EQ(NoteTextStyle::titleNoteTextStyle().fontSize(), 20);
  EXPECT_EQ(NoteTextStyle::headingNoteTextStyle().fontSize(), 14);

  TextAttributes run{{kFontAttributeName, Font::withFamily("Georgia", 15)},
                     {kForegroundColorAttributeName, Color::rgb(0, 0, 1)}};
  NoteTextStyle custom = NoteTextStyle::customStyleFromAttributes(run);
  EXPECT_EQ(custom.type(), NoteTextStyle::Custom);
  EXPECT_FALSE(custom.customStyleIdentifier().empty());
  custom.setName("Quote");
  ASSERT_TRUE(NoteTextStyle::addCustomStyle(custom));
  auto found = NoteTextStyle::styleWithIdentifier(custom.identifier());
  ASSERT_TRUE(found);
  EXPECT_EQ(found->name(), "Quote");
  EXPECT_TRUE(found->foregroundColor().isApproximatelyEqual(Color::rgb(0, 0, 1)));
  EXPECT_EQ(NoteTextStyle::allStyles().size(), 6u);
  EXPECT_EQ(NoteTextStyle::styleThatMatchesAttributes(custom.attributes())->identifier(), custom.identifier());

  ASSERT_TRUE(UserDefaults::standard().setObject(Bytes{1, 2, 3}, kNoteTextStylesDefaultsKey));
  NoteTextStyle::reloadStylesFromDefaults();
  EXPECT_EQ(NoteTextStyle::titleNoteTextStyle().fontSize(), 17) << "an unreadable archive counts as none";
}

TEST_F(NoteTextStyleTest, MatchingAllowsTheOtherAttributesOnly) {
  NoteTextStyle body = NoteTextStyle::bodyNoteTextStyle();
  TextAttributes run = body.attributes();
  run[kLinkAttributeName] = std::string("https://example.com");
  EXPECT_TRUE(body.matchesAttributes(run));
  EXPECT_FALSE(body.matchesAttributes(run, {}));
  run[kFontAttributeName] = Font::withFamily("Georgia", 12);
  EXPECT_FALSE(body.matchesAttributes(run));

  NoteTextStyle heading = NoteTextStyle::headingNoteTextStyle();
  TextAttributes merged = body.attributesWithOtherAttributes(heading.attributes());
  EXPECT_EQ(std::get<ParagraphStyle>(merged[kParagraphStyleAttributeName]).headerLevel, 2)
      << "the body style keeps a run's own paragraph style";
  EXPECT_FALSE(body.matchesAttributes(heading.attributes()));

  NoteTextStyle black = body;
  black.setForegroundColor(Color::black());
  EXPECT_TRUE(black.foregroundColor().isDynamic());
}

}  // namespace
}  // namespace qlt
