#include "richtext/rich_text_classes.h"

#include <mutex>

#include "platform/text/text_archiving.h"
#include "richtext/checklist_text_attachment.h"
#include "richtext/divider_text_attachment.h"
#include "richtext/file_attachment.h"
#include "richtext/note_text_style.h"

namespace qlt {

void registerRichTextClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    registerTextClasses();
    registerTextAttachmentClass(ChecklistTextAttachment::kClassName, ChecklistTextAttachment::decode);
    registerTextAttachmentClass(DividerTextAttachment::kClassName, DividerTextAttachment::decode);
    registerTextAttachmentClass(FileAttachment::kClassName, FileAttachment::decode);
    CodableRegistry::global().registerClass(NoteTextStyle::kClassName, NoteTextStyle::decode);
  });
}

}  // namespace qlt
