#include "model/item_attachment.h"

#include <gtest/gtest.h>

#include "folder_fixture.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"

namespace qlt {
namespace {

class ItemAttachmentTest : public FolderFixture {
 protected:
  std::shared_ptr<ItemAttachment> attach(const std::shared_ptr<Item>& owner, const std::string& filename) {
    auto attachment = std::dynamic_pointer_cast<ItemAttachment>(context->insertNewObject("ItemAttachment"));
    attachment->setValueForKey("filename", filename);
    attachment->setObjectForKey("item", owner);
    return attachment;
  }
};

TEST_F(ItemAttachmentTest, RecognizedTextIsMarkedForUploadOnlyWhenItChanges) {
  auto note = item(root, "note.qltnote");
  auto picture = attach(note, "scan.png");
  note->setValueForKey("indexingState", 3);
  picture->setTextRecognitionData(Bytes{});
  EXPECT_FALSE(picture->valueForKey("textRecognitionDataNeedsUpload").boolValue()) << "empty over nothing";
  picture->setTextRecognitionData(Bytes{'h', 'i'});
  EXPECT_TRUE(picture->valueForKey("textRecognitionDataNeedsUpload").boolValue());
  EXPECT_EQ(note->valueForKey("indexingState"), Value(0));

  picture->setFileType("public.png");
  EXPECT_EQ(picture->valueForKey("highLevelFileType"), Value("public.image"));

  // The record carries the text as an asset in the item's zone, under the item.
  RecordZoneID otherZone("Quillet", "_otherUser");
  note->setCloudRecord(RecordSystemFields{"Item", RecordID(note->cloudRecordName(), otherZone), "tag", {}, {}});
  CloudRecord record = picture->cloudRecord();
  EXPECT_EQ(record.recordID().zoneID, otherZone);
  ASSERT_TRUE(record.parent());
  EXPECT_EQ(record.parent()->recordID, note->cloudRecordID());
  const CloudValue* asset = record.objectForKey(kItemAttachmentCloudTextRecognitionFileAssetKey);
  ASSERT_TRUE(asset && asset->asset());
  EXPECT_EQ(lastPathComponent(asset->asset()->filePath), "scan.textrecognition");
  EXPECT_EQ(readFile(asset->asset()->filePath), std::optional<std::string>("hi"));
  EXPECT_NE(asset->asset()->filePath.find("QLTATTACHMENTS " + note->identifier()), std::string::npos);

  // Reading a record back: with the asset its bytes, without it nothing.
  auto copy = attach(note, "scan.png");
  copy->updateFromCloudRecord(record);
  EXPECT_EQ(copy->textRecognitionData(), (std::optional<Bytes>(Bytes{'h', 'i'})));
  record.removeObjectForKey(kItemAttachmentCloudTextRecognitionFileAssetKey);
  copy->updateFromCloudRecord(record);
  EXPECT_FALSE(copy->textRecognitionData());
}

TEST_F(ItemAttachmentTest, TextInformationIsForTheKindsWithText) {
  for (const char* type : {"com.quillet.note", "public.rtf", "com.apple.rtfd", "com.adobe.pdf", "net.daringfireball.markdown"})
    EXPECT_TRUE(ItemTextInfo::fileTypeNeedsTextInfo(type)) << type;
  for (const char* type : {"public.plain-text", "public.png", "", "org.example.unknown"})
    EXPECT_FALSE(ItemTextInfo::fileTypeNeedsTextInfo(type)) << type;

  auto pdf = item(root, "paper.pdf");
  auto info = ItemTextInfo::createTextInfoForItem(pdf);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->identifier(), pdf->identifier());
  info->setObjectForKey("item", pdf);
  EXPECT_EQ(info->cloudRecordID().zoneID, pdf->cloudRecordID().zoneID);
}

}  // namespace
}  // namespace qlt
