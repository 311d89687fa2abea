#include "richtext/file_attachment.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/files/file_system.h"
#include "richtext/attachment_conversions.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

TextAttachmentPointer attachmentNamed(const std::string& name, std::string contents = "bytes") {
  std::shared_ptr<FileWrapper> file = FileWrapper::regularFile(std::move(contents));
  file->setPreferredFilename(name);
  return std::make_shared<TextAttachment>(file);
}

// A PDF encrypted by qpdf's command-line tool, which comes with the library.
std::optional<std::string> encryptedPDF(const ScratchDirectory& scratch, const std::string& userPassword) {
  std::string path = scratch.path("locked-" + std::to_string(userPassword.size()) + ".pdf");
  std::string command = "qpdf --empty --encrypt '" + userPassword + "' owner 256 -- '" + path + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  return readFile(path);
}

TEST(FileAttachmentTest, ImagesMoviesAndPDFsStayInlineOtherFilesBecomeFileAttachments) {
  EXPECT_FALSE(FileAttachment::shouldUseForFileType(""));
  EXPECT_FALSE(FileAttachment::shouldUseForFileType("public.png"));
  EXPECT_FALSE(FileAttachment::shouldUseForFileType("com.adobe.pdf"));
  EXPECT_FALSE(FileAttachment::shouldUseForFileType("public.mpeg-4"));
  EXPECT_TRUE(FileAttachment::shouldUseForFileType("public.zip-archive"));

  AttributedString text;
  for (const char* name : {"a.png", "b.pdf", "c.zip"}) text.append(AttributedString::withAttachment(attachmentNamed(name)));
  auto plainBefore = text.attachments();
  replaceFileAttachmentsInRange(text, {0, text.length()});
  auto after = text.attachments();
  EXPECT_EQ(after[0].second, plainBefore[0].second);
  EXPECT_EQ(after[1].second, plainBefore[1].second);
  ASSERT_TRUE(std::dynamic_pointer_cast<FileAttachment>(after[2].second));
  EXPECT_EQ(after[2].second->fileWrapper(), plainBefore[2].second->fileWrapper());
}

TEST(FileAttachmentTest, LockedPDFsBecomeFileAttachments) {
  ScratchDirectory scratch;
  auto locked = encryptedPDF(scratch, "secret");
  auto openable = encryptedPDF(scratch, "");
  if (!locked || !openable) GTEST_SKIP() << "qpdf's command-line tool is not installed";
  auto lockedAttachment = attachmentNamed("locked.pdf", *locked);
  auto openAttachment = attachmentNamed("open.pdf", *openable);
  EXPECT_TRUE(isPasswordProtectedPDF(*lockedAttachment));
  EXPECT_FALSE(isPasswordProtectedPDF(*openAttachment));
  EXPECT_FALSE(isPasswordProtectedPDF(*attachmentNamed("broken.pdf", "%PDF-1.4 garbage")));
  EXPECT_FALSE(canViewInPlace(*lockedAttachment));
  EXPECT_TRUE(canViewInPlace(*openAttachment));

  AttributedString text = AttributedString::withAttachment(lockedAttachment);
  text.append(AttributedString::withAttachment(openAttachment));
  replaceFileAttachmentsInRange(text, {0, text.length()});
  EXPECT_TRUE(std::dynamic_pointer_cast<FileAttachment>(text.attachments()[0].second));
  EXPECT_FALSE(std::dynamic_pointer_cast<FileAttachment>(text.attachments()[1].second));
}

TEST(FileAttachmentTest, LongNamesAreCutKeepingTheExtension) {
  auto attachment = attachmentNamed(std::string(296, 'n') + ".zip");
  AttributedString text = AttributedString::withAttachment(attachment);
  fixLengthOfAttachmentFilenames(text);
  const std::string& name = attachment->fileWrapper()->preferredFilename();
  EXPECT_EQ(name.size(), 255u);
  EXPECT_TRUE(name.ends_with(".zip"));
}

}  // namespace
}  // namespace qlt
