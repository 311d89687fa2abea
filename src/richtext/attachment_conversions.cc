#include "richtext/attachment_conversions.h"

#include <algorithm>

#include "platform/foundation/string_comparison.h"
#include "richtext/checklist_text_attachment.h"
#include "richtext/divider_text_attachment.h"
#include "richtext/file_attachment.h"
#include "util/filename_rules.h"
#include "util/whitespace.h"

namespace qlt {

namespace {

constexpr const char16_t* kCheckedListMarker = u"\t\u2713\t";
constexpr const char16_t* kUncheckedListMarker = u"\t\u25E6\t";
constexpr const char* kCheckMarkerFormat = "{check}";
constexpr const char* kCircleMarkerFormat = "{circle}";

template <class T>
std::vector<std::pair<size_t, std::shared_ptr<T>>> attachmentsOf(const AttributedString& text) {
  std::vector<std::pair<size_t, std::shared_ptr<T>>> found;
  for (auto& [position, attachment] : text.attachments())
    if (auto typed = std::dynamic_pointer_cast<T>(attachment)) found.emplace_back(position, typed);
  return found;
}

TextAttributes withoutAttachment(TextAttributes attributes) {
  attributes.erase(kAttachmentAttributeName);
  return attributes;
}

std::vector<std::string> checklistItems(const AttributedString& text, bool on) {
  std::vector<std::string> items;
  for (auto& [position, checklist] : attachmentsOf<ChecklistTextAttachment>(text)) {
    if (checklist->isOn() != on) continue;
    // The box itself is not part of the item's text.
    TextRange line = text.lineRange(position + 1);
    size_t start = std::max(line.location, position + 1);
    std::string item(trimmingWhitespaceAndNewlines(text.substring({start, line.end() - start}).string()));
    if (!item.empty()) items.push_back(std::move(item));
  }
  return items;
}

}  // namespace

ParagraphStyle listParagraphStyle() {
  ParagraphStyle style = ParagraphStyle::defaultStyle();
  std::vector<TextTab> tabs{{TextAlignment::Natural, 11}, {TextAlignment::Natural, 36}};
  for (const TextTab& tab : ParagraphStyle::defaultTabStops())
    if (tab.location > 56) tabs.push_back(tab);
  style.tabStops = std::move(tabs);
  style.defaultTabInterval = 36;
  style.firstLineHeadIndent = 0;
  style.headIndent = 36;
  return style;
}

std::string listMarkerForListStyle(int style, long itemNumber) {
  switch (style) {
    case 1: return "\t\u2022\t";
    case 2: return "\t\u2043\t";
    case 3: return "\t" + std::to_string(itemNumber) + ".\t";
    default: return {};
  }
}

void convertTextListsToChecklistAttachments(AttributedString& text) {
  size_t lineStart = 0;
  while (lineStart < text.length()) {
    std::u16string_view rest = std::u16string_view(text.text()).substr(lineStart);
    bool checked = rest.starts_with(kCheckedListMarker), unchecked = rest.starts_with(kUncheckedListMarker);
    if (checked || unchecked) {
      TextAttributes attributes = withoutAttachment(text.attributesAt(lineStart));
      auto box = std::make_shared<ChecklistTextAttachment>(checked);
      text.replaceCharacters({lineStart, 3}, AttributedString::withAttachment(box, attributes));
      TextRange line = text.lineRange(lineStart);
      text.addAttribute(kParagraphStyleAttributeName, ChecklistTextAttachment::checklistParagraphStyle(), line);
    }
    TextRange line = text.lineRange(lineStart);
    lineStart = line.end() > lineStart ? line.end() : lineStart + 1;
  }
}

void convertChecklistAttachmentsToTextLists(AttributedString& text) {
  auto boxes = attachmentsOf<ChecklistTextAttachment>(text);
  for (auto it = boxes.rbegin(); it != boxes.rend(); ++it) {
    auto& [position, checklist] = *it;
    TextAttributes attributes = withoutAttachment(text.attributesAt(position));
    text.replaceCharacters({position, 1},
                           AttributedString(checklist->isOn() ? kCheckedListMarker : kUncheckedListMarker, attributes));
    ParagraphStyle style = listParagraphStyle();
    style.textLists = {TextList{checklist->isOn() ? kCheckMarkerFormat : kCircleMarkerFormat, 1}};
    text.addAttribute(kParagraphStyleAttributeName, style, text.lineRange(position));
  }
}

void convertChecklistAttachmentsToMarkdownSyntax(AttributedString& text) {
  auto boxes = attachmentsOf<ChecklistTextAttachment>(text);
  for (auto it = boxes.rbegin(); it != boxes.rend(); ++it) {
    auto& [position, checklist] = *it;
    TextAttributes attributes = withoutAttachment(text.attributesAt(position));
    text.replaceCharacters({position, 1}, AttributedString(checklist->isOn() ? u"- [x] " : u"- [ ] ", attributes));
    text.addAttribute(kParagraphStyleAttributeName, ParagraphStyle::defaultStyle(), text.lineRange(position));
  }
}

void checkForTextListsAndConvertIfNecessary(AttributedString& text) {
  bool hasChecklistLists = false;
  text.enumerateAttribute(kParagraphStyleAttributeName, {0, text.length()},
                          [&](const AttributeValue* value, TextRange) {
                            auto style = value ? std::get_if<ParagraphStyle>(value) : nullptr;
                            if (!style) return;
                            for (const TextList& list : style->textLists)
                              if (list.markerFormat == kCheckMarkerFormat || list.markerFormat == kCircleMarkerFormat)
                                hasChecklistLists = true;
                          });
  if (hasChecklistLists) convertTextListsToChecklistAttachments(text);
}

void convertDividersToText(AttributedString& text) {
  auto dividers = attachmentsOf<DividerTextAttachment>(text);
  for (auto it = dividers.rbegin(); it != dividers.rend(); ++it)
    text.replaceCharacters({it->first, 1}, DividerTextAttachment::replacementString());
}

void replaceFileAttachmentsInRange(AttributedString& text, TextRange range) {
  for (auto& [position, attachment] : text.attachments()) {
    if (!range.contains(position)) continue;
    if (dynamic_cast<const FileAttachment*>(attachment.get())) continue;
    if (dynamic_cast<const ChecklistTextAttachment*>(attachment.get()) ||
        dynamic_cast<const DividerTextAttachment*>(attachment.get()))
      continue;
    if (!attachment->fileWrapper() && !attachment->contents()) continue;
    if (!FileAttachment::shouldUseForFileType(attachment->fileType()) && !isPasswordProtectedPDF(*attachment))
      continue;
    text.addAttribute(kAttachmentAttributeName,
                      TextAttachmentPointer(FileAttachment::fileAttachmentWithAttachment(*attachment)),
                      {position, 1});
  }
}

AttributedString attributedStringWithFileAttachments(const AttributedString& text) {
  AttributedString copy = text;
  replaceFileAttachmentsInRange(copy, {0, copy.length()});
  return copy;
}

void fixLengthOfAttachmentFilenames(AttributedString& text) {
  for (auto& [position, attachment] : text.attachments()) {
    if (!attachment->fileWrapper()) continue;
    const std::string& name = attachment->fileWrapper()->preferredFilename();
    if (utf16Length(name) >= 256) attachment->fileWrapper()->setPreferredFilename(stringSanitizedForFileName(name));
  }
}

void convertFromDynamicColors(AttributedString& text) {
  text.changeEveryRun([](TextAttributes& attributes) {
    bool changed = false;
    for (const char* name : {kForegroundColorAttributeName, kBackgroundColorAttributeName}) {
      auto found = attributes.find(name);
      auto color = found == attributes.end() ? nullptr : std::get_if<Color>(&found->second);
      if (color && color->isDynamic()) found->second = color->fixed(), changed = true;
    }
    return changed;
  });
}

void convertToDynamicColors(AttributedString& text) {
  text.changeEveryRun([](TextAttributes& attributes) {
    auto found = attributes.find(kForegroundColorAttributeName);
    auto color = found == attributes.end() ? nullptr : std::get_if<Color>(&found->second);
    if (!color || color->isDynamic() || *color != Color::black()) return false;
    found->second = Color::textColor();
    return true;
  });
}

std::vector<std::string> outstandingChecklistItems(const AttributedString& text) { return checklistItems(text, false); }
std::vector<std::string> completedChecklistItems(const AttributedString& text) { return checklistItems(text, true); }

}  // namespace qlt
