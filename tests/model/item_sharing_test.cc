#include <gtest/gtest.h>

#include <fstream>

#include "folder_fixture.h"
#include "formats/item_link.h"
#include "formats/note_file.h"
#include "formats/web_link_file.h"
#include "platform/defaults/user_defaults.h"

namespace qlt {
namespace {

using Kind = Item::SharingItem::Kind;

class ItemSharingTest : public FolderFixture {
 protected:
  void TearDown() override { (void)UserDefaults::standard().setBool(false, kItemSharingIncludeItemLinkKey); }
  std::shared_ptr<Item> fileItem(const std::string& filename, const std::string& type) {
    auto created = item(root, filename);
    created->setFileType(type);
    return created;
  }
};

TEST_F(ItemSharingTest, LinksNameTheItemAndResolveBackToIt) {
  auto note = fileItem("a.txt", "public.plain-text");
  auto other = fileItem("b.txt", "public.plain-text");
  ASSERT_TRUE(context->save());
  EXPECT_EQ(note->itemLinkURL(), "quillet://link?item=" + note->identifier());
  EXPECT_EQ(fromItemIdentifier(note->itemLinkFromItemWithIdentifier(other->identifier())), other->identifier());
  EXPECT_EQ(Item::itemFromLinkURL(note->itemLinkFromItemWithIdentifier(other->identifier()), *context), note);
  Folder::Ptr folder = make(root, "Folder");
  EXPECT_EQ(Item::itemFromLinkURL(itemLinkURL(folder->identifier()), *context), nullptr) << "a folder is no item";
  EXPECT_EQ(Item::itemFromLinkURL("quillet://link?item=", *context), nullptr);
}

TEST_F(ItemSharingTest, WhatAnItemSharesFollowsItsKind) {
  auto text = fileItem("plain.txt", "public.plain-text");
  auto missing = fileItem("missing.txt", "public.plain-text");
  auto web = fileItem("site.webloc", kWebLinkFileType);
  web->setSourceURL("https://example.com/page");
  auto note = fileItem("note.qltnote", kNoteType);
  std::ofstream(*text->fileURL()) << "shared text";
  NoteFile noteFile;
  noteFile.setNoteText(AttributedString(u"Shopping list"));
  ASSERT_TRUE(noteFile.saveToFileURL(*note->fileURL()));

  EXPECT_EQ(text->sharingItems(), (std::vector<Item::SharingItem>{{Kind::File, *text->fileURL()}}));
  EXPECT_TRUE(missing->sharingItems().empty());
  EXPECT_EQ(web->sharingItems(), (std::vector<Item::SharingItem>{{Kind::Text, web->name()}, {Kind::URL, "https://example.com/page"}}));
  std::vector<Item::SharingItem> noteItems = note->sharingItems();
  ASSERT_EQ(noteItems.size(), 1u);
  EXPECT_EQ(noteItems[0].kind, Kind::Text);
  EXPECT_NE(noteItems[0].value.find("Shopping list"), std::string::npos);

  ASSERT_TRUE(UserDefaults::standard().setBool(true, kItemSharingIncludeItemLinkKey));
  for (const auto& any : {text, missing, web, note})
    EXPECT_EQ(any->sharingItems(), (std::vector<Item::SharingItem>{{Kind::Text, any->name()}, {Kind::URL, any->itemLinkURL()}}));
}

}  // namespace
}  // namespace qlt
