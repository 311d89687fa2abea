#include "formats/editable_text_file.h"

#include <gtest/gtest.h>

#include "platform/files/file_system.h"
#include "richtext/file_attachment.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

TEST(EditableTextFileTest, TypesThatCanBeOpenedAndHoldAttachments) {
  for (const char* type : {"com.quillet.note", "public.plain-text", "public.rtf", "com.apple.rtfd",
                           "net.daringfireball.markdown", "public.markdown", "public.utf8-plain-text"})
    EXPECT_TRUE(EditableTextFile::canOpenFileOfType(type)) << type;
  EXPECT_FALSE(EditableTextFile::canOpenFileOfType("public.png"));
  auto predicate = EditableTextFile::predicateForEditableTextItems();
  ASSERT_TRUE(predicate);
  EXPECT_EQ(predicate->description(),
            "fileType IN {\"com.quillet.note\", \"public.plain-text\", \"public.rtf\", \"com.apple.rtfd\", "
            "\"net.daringfireball.markdown\", \"public.markdown\"}");
  bool coercion = true;
  EXPECT_TRUE(EditableTextFile::typeCanHandleAttachments("com.apple.rtfd", &coercion));
  EXPECT_FALSE(coercion);
  EXPECT_TRUE(EditableTextFile::typeCanHandleAttachments("public.rtf", &coercion));
  EXPECT_TRUE(coercion);
  EXPECT_FALSE(EditableTextFile::typeCanHandleAttachments("public.plain-text", nullptr));
  EXPECT_TRUE(EditableTextFile::typeIsRichText("com.quillet.note"));
  EXPECT_FALSE(EditableTextFile::typeIsRichText("net.daringfireball.markdown"));
}

TEST(EditableTextFileTest, PlainTextKeepsItsEncoding) {
  ScratchDirectory scratch;
  std::string path = scratch.path("notes.md");
  std::string latin1 = "caf\xE9 \x80";
  ASSERT_TRUE(writeFileAtomically(path, latin1));
  Error error;
  auto file = EditableTextFile::withURL(path, &error);
  ASSERT_TRUE(file) << error.description();
  EXPECT_EQ(file->editableFileType(), EditableTextFile::Type::PlainText);
  EXPECT_EQ(file->stringEncoding(), StringEncoding::WindowsCP1252);
  EXPECT_EQ(file->textString(), "caf\u00e9 \u20ac");
  file->appendString(" + \u00fc");
  file->appendString("");
  ASSERT_TRUE(file->writeToURL(path, &error)) << error.description();
  EXPECT_EQ(*readFile(path), latin1 + " + \xFC");

  ASSERT_TRUE(writeFileAtomically(path, std::string("\xFF\xFEh\0i\0", 6)));
  file = EditableTextFile::withURL(path, &error);
  ASSERT_TRUE(file) << error.description();
  EXPECT_EQ(file->textString(), "hi");
  EXPECT_EQ(file->stringEncoding(), StringEncoding::UTF16LittleEndian);

  ASSERT_TRUE(writeFileAtomically(path, std::string("bin\0ary", 7)));
  EXPECT_FALSE(EditableTextFile::withURL(path, &error));
  EXPECT_TRUE(error.is(kEditableTextFileErrorDomain, kEditableTextFileUndecodableErrorCode));
  EXPECT_EQ(error.localizedDescription(), "Cannot open plain text file.");

  ASSERT_TRUE(writeFileAtomically(scratch.path("photo.png"), "png"));
  EXPECT_FALSE(EditableTextFile::withURL(scratch.path("photo.png"), &error));
  EXPECT_TRUE(error.is(kEditableTextFileErrorDomain, kEditableTextFileUnsupportedTypeErrorCode));
  EXPECT_EQ(error.localizedDescription(), "Cannot open file for automation: photo.png");
}

TEST(EditableTextFileTest, RichTextTakesAttachmentsAndWritesRTFOrRTFDOnly) {
  ScratchDirectory scratch;
  auto file = EditableTextFile::richTextFileWithString("Hello");
  ASSERT_TRUE(writeFileAtomically(scratch.path("data.zip"), "PK"));
  ASSERT_TRUE(file->appendAttachmentForFileURL(scratch.path("data.zip"), "public.zip-archive"));
  file->appendString(" after");
  auto attachments = file->attributedString().attachments();
  ASSERT_EQ(attachments.size(), 1u);
  EXPECT_TRUE(std::dynamic_pointer_cast<FileAttachment>(attachments[0].second));
  EXPECT_TRUE(file->attributedString().attributeAt(kFontAttributeName, file->attributedString().length() - 1));

  Error error;
  EXPECT_FALSE(file->writeToURL(scratch.path("out.txt"), &error));
  EXPECT_TRUE(error.is(kEditableTextFileErrorDomain, kEditableTextFileUnsupportedTypeErrorCode));
  EXPECT_EQ(error.localizedDescription(), "Unsupported file type (txt).");
  ASSERT_TRUE(file->writeToURL(scratch.path("out.rtfd"), &error)) << error.description();
  auto reopened = EditableTextFile::withURL(scratch.path("out.rtfd"), &error);
  ASSERT_TRUE(reopened) << error.description();
  EXPECT_EQ(reopened->textString(), "Hello\uFFFC after");
  EXPECT_EQ(reopened->documentAttributes().at(kDocumentTypeDocumentAttribute), kRTFDTextDocumentType);

  auto note = EditableTextFile::withURL(scratch.path("missing.qltnote"), &error);
  EXPECT_FALSE(note);
}

TEST(EditableTextFileTest, RTFIsCoercedToRTFDBesideIt) {
  ScratchDirectory scratch;
  ASSERT_TRUE(writeFileAtomically(scratch.path("Letter.rtf"), "{\\rtf1 Dear {\\b friend}}"));
  ASSERT_TRUE(createDirectory(scratch.path("Letter.rtfd"), false));
  std::string converted;
  Error error;
  ASSERT_TRUE(EditableTextFile::coerceFileToAcceptAttachments(scratch.path("Letter.rtf"), &converted, &error))
      << error.description();
  EXPECT_EQ(converted, scratch.path("Letter 1.rtfd"));
  EXPECT_FALSE(fileExists(scratch.path("Letter.rtf")));
  auto file = EditableTextFile::withURL(converted, &error);
  ASSERT_TRUE(file) << error.description();
  EXPECT_EQ(file->textString(), "Dear friend");

  ASSERT_TRUE(writeFileAtomically(scratch.path("plain.txt"), "x"));
  EXPECT_FALSE(EditableTextFile::coerceFileToAcceptAttachments(scratch.path("plain.txt"), &converted));
  ASSERT_TRUE(EditableTextFile::coerceFileToAcceptAttachments(converted, &converted));
}

TEST(EditableTextFileTest, NotesAppendAndGiveTheirHashtags) {
  ScratchDirectory scratch;
  std::string path = scratch.path("Note.qltnote");
  NoteFile note;
  note.setNoteText(AttributedString::fromUTF8("Plan #work_items"));
  ASSERT_TRUE(note.saveToFileURL(path));
  Error error;
  auto file = EditableTextFile::withURL(path, &error);
  ASSERT_TRUE(file) << error.description();
  file->appendString(" and #home");
  ASSERT_TRUE(file->writeToURL(path, &error)) << error.description();
  auto tags = EditableTextFile::tagsFromHashtagsInFileURL(path, &error);
  ASSERT_TRUE(tags) << error.description();
  EXPECT_EQ(*tags, (std::set<std::string>{"work items", "home"}));
}

}  // namespace
}  // namespace qlt
