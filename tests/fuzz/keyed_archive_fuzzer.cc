// Keyed archives of every class the application reads from them. Whatever
// unarchives must archive again, and that archive must read back to one
// that archives to the same bytes.
#include "formats/archive_file.h"
#include "fuzz_check.h"
#include "platform/cloud/cloud_record.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"
#include "richtext/rich_text_classes.h"

using namespace qlt;

static const ClassNameSet& allowedClasses() {
  static const ClassNameSet classes = [] {
    registerRichTextClasses();
    registerCloudRecordClasses();
    ArchiveFile::registerClasses(CodableRegistry::global());
    return ClassNameSet{"NSString", "NSNumber", "NSData", "NSDate", "NSArray", "NSDictionary", "NSSet", "NSNull",
                        "NSFont", "NSColor", "NSParagraphStyle", "NSTextTab", "NSTextList", "NSAttributedString",
                        "NSTextAttachment", "NSFileWrapper", "QLTChecklistTextAttachment",
                        "QLTDividerTextAttachment", "QLTFileAttachment", "QLTNoteTextStyle", "CKRecordZoneID",
                        "CKRecordID", "CKRecord", "CKServerChangeToken", ArchiveFile::kClassName};
  }();
  return classes;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<ArchiveObject> root = KeyedUnarchiver::unarchivedObject(Bytes(data, data + size), allowedClasses());
  if (!root) return 0;
  std::optional<Bytes> archived = KeyedArchiver::archivedData(*root, false);
  if (!archived) return 0;  // e.g. strings that are not UTF-8
  std::optional<ArchiveObject> reread = KeyedUnarchiver::unarchivedObject(*archived, allowedClasses());
  FUZZ_CHECK(reread);
  std::optional<Bytes> rearchived = KeyedArchiver::archivedData(*reread, false);
  FUZZ_CHECK(rearchived && *rearchived == *archived);
  return 0;
}
