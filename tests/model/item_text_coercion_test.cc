#include "model/item_text_coercion.h"

#include <gtest/gtest.h>

#include "folder_fixture.h"
#include "formats/editable_text_file.h"
#include "platform/files/file_system.h"

namespace qlt {
namespace {

using ItemTextCoercionTest = FolderFixture;

TEST_F(ItemTextCoercionTest, AnRTFItemBecomesAnRTFDPackageUnderAFreeName) {
  auto box = make(root, "Box");
  auto letter = item(box, "Letter.rtf");
  letter->setValueForKey("extensionHidden", true);
  ASSERT_TRUE(writeFileAtomically(*letter->fileURL(), "{\\rtf1 Dear {\\b friend}}"));
  auto other = item(box, "Letter.rtfd");
  Error error;
  ASSERT_TRUE(coerceEditableTextFileForItemToAcceptAttachments(*letter, &error)) << error.description();
  EXPECT_EQ(letter->filename(), "Letter 1.rtfd");
  EXPECT_EQ(letter->fileType(), "com.apple.rtfd");
  EXPECT_TRUE(letter->extensionHidden());
  auto file = EditableTextFile::withURL(*letter->fileURL(), &error);
  ASSERT_TRUE(file) << error.description();
  EXPECT_EQ(file->textString(), "Dear friend");

  EXPECT_TRUE(coerceEditableTextFileForItemToAcceptAttachments(*other)) << "RTFD needs nothing";
  auto plain = item(box, "plain.txt");
  EXPECT_FALSE(coerceEditableTextFileForItemToAcceptAttachments(*plain, &error));
  EXPECT_TRUE(error.is(kEditableTextFileErrorDomain, kEditableTextFileUnsupportedTypeErrorCode));
}

}  // namespace
}  // namespace qlt
