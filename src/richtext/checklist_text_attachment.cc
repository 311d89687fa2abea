#include "richtext/checklist_text_attachment.h"

#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"
#include "richtext/note_text_style.h"
#include "richtext/rich_text_classes.h"

namespace qlt {

ChecklistTextAttachment::ChecklistTextAttachment(bool on) : on_(on) { setFileType(kChecklistType); }

std::string ChecklistTextAttachment::replacementString() const {
  return on_ ? kChecklistOnValueReplacementString : kChecklistOffValueReplacementString;
}

ParagraphStyle ChecklistTextAttachment::checklistParagraphStyle() {
  ParagraphStyle style = NoteTextStyle::bodyNoteTextStyle().paragraphStyle();
  style.headIndent = kChecklistCellWidth;
  style.firstLineHeadIndent = -kChecklistCellWidth;
  return style;
}

AttributedString ChecklistTextAttachment::attributedString() const {
  auto copy = std::make_shared<ChecklistTextAttachment>(on_);
  return AttributedString::withAttachment(copy, {{kParagraphStyleAttributeName, checklistParagraphStyle()}});
}

void ChecklistTextAttachment::encode(KeyedArchiver& archiver) const { archiver.encodeBool("on", on_); }

std::shared_ptr<Codable> ChecklistTextAttachment::decode(KeyedUnarchiver& unarchiver, Error* error) {
  bool on = false;
  if (unarchiver.containsValue("on")) {
    auto value = unarchiver.decodeBool("on", error);
    if (!value) return nullptr;
    on = *value;
  }
  return std::make_shared<ChecklistTextAttachment>(on);
}

std::optional<Bytes> ChecklistTextAttachment::pasteboardData(const std::string& type) const {
  if (type == kPlainTextPasteboardType) {
    std::string text = replacementString();
    return Bytes(text.begin(), text.end());
  }
  if (type != kChecklistType) return std::nullopt;
  registerRichTextClasses();
  auto copy = std::make_shared<ChecklistTextAttachment>(on_);
  return KeyedArchiver::archivedData(ArchiveObject(std::shared_ptr<Codable>(copy)), false);
}

std::shared_ptr<ChecklistTextAttachment> ChecklistTextAttachment::fromPasteboardData(const std::string& type,
                                                                                     const Bytes& data, Error* error) {
  if (type != kChecklistType) return nullptr;
  registerRichTextClasses();
  auto object = KeyedUnarchiver::unarchivedObject(data, {kClassName}, error);
  return object ? object->objectAs<ChecklistTextAttachment>() : nullptr;
}

}  // namespace qlt
