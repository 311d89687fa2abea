#include "richtext/divider_text_attachment.h"

#include "richtext/note_text_style.h"

namespace qlt {

AttributedString DividerTextAttachment::attributedString() const {
  TextAttributes attributes = NoteTextStyle::bodyNoteTextStyle().attributes();
  attributes[kForegroundColorAttributeName] = Color::textColor();
  AttributedString result(u"\n", attributes);
  result.append(AttributedString::withAttachment(std::make_shared<DividerTextAttachment>(), attributes));
  result.append(AttributedString(u"\n", attributes));
  return result;
}

AttributedString DividerTextAttachment::replacementString() {
  TextAttributes attributes = NoteTextStyle::bodyNoteTextStyle().attributes();
  ParagraphStyle centred = ParagraphStyle::defaultStyle();
  centred.alignment = TextAlignment::Center;
  attributes[kParagraphStyleAttributeName] = centred;
  return AttributedString(u"***", attributes);
}

}  // namespace qlt
