#include <gtest/gtest.h>

#include "richtext/attachment_conversions.h"
#include "richtext/checklist_text_attachment.h"
#include "richtext/divider_text_attachment.h"

namespace qlt {
namespace {

AttributedString twoChecklists() {
  AttributedString text;
  text.append(ChecklistTextAttachment(true).attributedString());
  text.append(AttributedString::fromUTF8("Buy milk\n"));
  text.append(ChecklistTextAttachment(false).attributedString());
  text.append(AttributedString::fromUTF8("  Call Ann  \n"));
  text.append(ChecklistTextAttachment(false).attributedString());
  text.append(AttributedString::fromUTF8("\n"));
  return text;
}

std::vector<bool> checklistStates(const AttributedString& text) {
  std::vector<bool> states;
  for (auto& [position, attachment] : text.attachments())
    if (auto checklist = std::dynamic_pointer_cast<ChecklistTextAttachment>(attachment))
      states.push_back(checklist->isOn());
  return states;
}

TEST(ChecklistTest, PasteboardCarriesTheArchiveAndTheReplacementText) {
  ChecklistTextAttachment on(true);
  auto text = on.pasteboardData(kPlainTextPasteboardType);
  ASSERT_TRUE(text);
  EXPECT_EQ(std::string(text->begin(), text->end()), "\u2713 ");
  auto archive = on.pasteboardData(kChecklistType);
  ASSERT_TRUE(archive);
  Error error;
  auto pasted = ChecklistTextAttachment::fromPasteboardData(kChecklistType, *archive, &error);
  ASSERT_TRUE(pasted) << error.description();
  EXPECT_TRUE(pasted->isOn());
  EXPECT_FALSE(on.pasteboardData("public.png"));
  EXPECT_FALSE(ChecklistTextAttachment::fromPasteboardData(kPlainTextPasteboardType, *text));
  EXPECT_FALSE(ChecklistTextAttachment::fromPasteboardData(kChecklistType, *text, &error));
}

TEST(ChecklistTest, TextListsAndBackKeepStatesAndItems) {
  AttributedString text = twoChecklists();
  EXPECT_EQ(outstandingChecklistItems(text), (std::vector<std::string>{"Call Ann"}));
  EXPECT_EQ(completedChecklistItems(text), (std::vector<std::string>{"Buy milk"}));

  convertChecklistAttachmentsToTextLists(text);
  EXPECT_EQ(text.string(), "\t\u2713\tBuy milk\n\t\u25E6\t  Call Ann  \n\t\u25E6\t\n");
  auto style = attributeAs<ParagraphStyle>(text.attributesAt(5), kParagraphStyleAttributeName);
  ASSERT_TRUE(style);
  ASSERT_EQ(style->textLists.size(), 1u);
  EXPECT_EQ(style->textLists[0].markerFormat, "{check}");
  EXPECT_EQ(style->headIndent, 36);
  EXPECT_EQ(style->tabStops.front().location, 11);

  checkForTextListsAndConvertIfNecessary(text);
  EXPECT_EQ(checklistStates(text), (std::vector<bool>{true, false, false}));
  EXPECT_EQ(text.string(), "\uFFFCBuy milk\n\uFFFC  Call Ann  \n\uFFFC\n");
  EXPECT_EQ(attributeAs<ParagraphStyle>(text.attributesAt(2), kParagraphStyleAttributeName)->headIndent,
            kChecklistCellWidth);

  AttributedString markdown = twoChecklists();
  convertChecklistAttachmentsToMarkdownSyntax(markdown);
  EXPECT_EQ(markdown.string(), "- [x] Buy milk\n- [ ]   Call Ann  \n- [ ] \n");
}

TEST(ChecklistTest, OnlyMarkersBetweenTabsAtLineStartsBecomeBoxes) {
  AttributedString text = AttributedString::fromUTF8("\u2713\tno tab first\nx\t\u2713\tnot at start\n\t\u25E6\tyes");
  convertTextListsToChecklistAttachments(text);
  EXPECT_EQ(checklistStates(text), (std::vector<bool>{false}));
  EXPECT_EQ(text.string(), "\u2713\tno tab first\nx\t\u2713\tnot at start\n\uFFFCyes");
}

TEST(DividerTest, BecomesACentredLineOfStars) {
  AttributedString text = AttributedString::fromUTF8("above");
  text.append(DividerTextAttachment().attributedString());
  text.append(AttributedString::fromUTF8("below"));
  EXPECT_EQ(text.string(), "above\n\uFFFC\nbelow");
  convertDividersToText(text);
  EXPECT_EQ(text.string(), "above\n***\nbelow");
  EXPECT_FALSE(text.attributeAt(kAttachmentAttributeName, 7));
  EXPECT_EQ(attributeAs<ParagraphStyle>(text.attributesAt(7), kParagraphStyleAttributeName)->alignment,
            TextAlignment::Center);
}

}  // namespace
}  // namespace qlt
