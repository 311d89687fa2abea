#include <gtest/gtest.h>

#include "extension/library_content_fixture.h"
#include "extension/library_object_file_provider_item.h"
#include "model/cloud_share.h"
#include "model/finder_tags.h"
#include "platform/files/extended_attributes.h"
#include "util/file_manager.h"

namespace qlt {
namespace {

using DescriptorTest = LibraryContentTest;

RecordSystemFields shareIn(const RecordZoneID& zone) {
  RecordSystemFields share;
  share.recordType = "cloudkit.share";
  share.recordID = RecordID("Share-" + LibraryObject::newIdentifier(), zone);
  return share;
}

TEST_F(DescriptorTest, CapabilitiesFollowTheLibraryTheShareAndFavourites) {
  Folder::Ptr mine = folder(root_, "Mine", 1);
  Folder::Ptr theirs = folder(root_, "Theirs", 1);
  Folder::Ptr theirInner = folder(theirs, "Inner", 1);
  Folder::Ptr mineInner = folder(mine, "Inner", 1);
  auto plain = item(mine, "plain.txt", 1, 1);
  auto favourite = item(mine, "fav.txt", 1, 1);
  auto remote = item(theirInner, "remote.txt", 1, 1);
  context_->performAndWait([&] {
    favourite->setValueForKey("favorite", true);
    // Not in the cloud: everything but evicting, for every item.
    for (const auto& object : {plain, favourite, remote}) EXPECT_EQ(fileProviderItem(object)->capabilities(), 63u);
    EXPECT_EQ(fileProviderItem(mine)->capabilities(), 63u);
  });
  makeCloudLibrary();
  context_->performAndWait([&] {
    storeCloudShare(*mine, shareIn(LibraryManager::libraryZoneID()));
    storeCloudShare(*theirs, shareIn(RecordZoneID("Shared Zone", "_someoneElse")));
    EXPECT_EQ(fileProviderItem(plain)->capabilities(), 127u);
    EXPECT_EQ(fileProviderItem(favourite)->capabilities(), 63u);
    EXPECT_EQ(fileProviderItem(remote)->capabilities(), 107u);
    EXPECT_EQ(fileProviderItem(mine)->capabilities(), 3u);
    EXPECT_EQ(fileProviderItem(mineInner)->capabilities(), 15u);
    EXPECT_EQ(fileProviderItem(theirInner)->capabilities(), 11u);

    auto remoteAttributes = fileProviderItem(remote)->extendedAttributes();
    EXPECT_EQ(remoteAttributes["com.quillet.isRemoteShare"], Bytes{'1'});
    EXPECT_EQ(fileProviderItem(theirInner)->extendedAttributes().count("com.quillet.isRemoteShare"), 1u);
    EXPECT_EQ(fileProviderItem(plain)->extendedAttributes().count("com.quillet.isRemoteShare"), 0u);
    EXPECT_TRUE(fileProviderItem(remote)->isShared());
    EXPECT_FALSE(fileProviderItem(remote)->isSharedByCurrentUser());
    EXPECT_TRUE(fileProviderItem(plain)->isSharedByCurrentUser());
    context_->rollback();
  });
}

TEST_F(DescriptorTest, ItemAnswersComeFromTheItemAndItsFile) {
  Folder::Ptr box = folder(root_, "Box", 1);
  auto note = item(box, "note.txt", 100, 200);
  context_->performAndWait([&] {
    std::string path = *note->fileURL();
    auto described = fileProviderItem(note);
    EXPECT_EQ(described->parentItemIdentifier(), box->fileProviderItemIdentifier());
    EXPECT_EQ(described->filename(), "note.txt");
    EXPECT_EQ(described->contentType(), "public.plain-text");
    EXPECT_EQ(described->fileSystemFlags(), 6u);
    std::string identifier = note->identifier();
    EXPECT_EQ(described->extendedAttributes()["com.quillet.identifier"], Bytes(identifier.begin(), identifier.end()));
    EXPECT_TRUE(described->isDownloaded());
    EXPECT_FALSE(described->tagData());

    note->setValueForKey("extensionHidden", true);
    EXPECT_EQ(fileProviderItem(note)->fileSystemFlags(), 22u);

    // Tag data: the file's Finder tags win over the stored value.
    note->setValueForKey("fileProviderTagData", Bytes{9, 9});
    EXPECT_EQ(fileProviderItem(note)->tagData(), std::optional<Bytes>(Bytes{9, 9}));
    ASSERT_TRUE(setXAttrDataValue(Bytes{1, 2, 3}, kMetadataUserTagsXAttrKey, path));
    EXPECT_EQ(fileProviderItem(note)->tagData(), std::optional<Bytes>(Bytes{1, 2, 3}));

    // Versions change exactly when their dates change.
    FileProviderItemVersion before = fileProviderItem(note)->itemVersion();
    note->setValueForKey("name", std::string("renamed"));
    EXPECT_EQ(fileProviderItem(note)->itemVersion(), before);
    note->setDateRecordChanged(Date(201));
    FileProviderItemVersion metadataChanged = fileProviderItem(note)->itemVersion();
    EXPECT_EQ(metadataChanged.contentVersion, before.contentVersion);
    EXPECT_NE(metadataChanged.metadataVersion, before.metadataVersion);
    note->setDateModified(Date(101));
    EXPECT_NE(fileProviderItem(note)->itemVersion().contentVersion, before.contentVersion);
    context_->rollback();
  });
}

TEST_F(DescriptorTest, FolderAnswersCountChildrenAndNameTheSystemFolders) {
  Folder::Ptr box = folder(root_, "Box", 1);
  folder(box, "One", 1);
  folder(box, "Two", 1);
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) item(box, name, 1, 1);
  context_->performAndWait([&] {
    auto bundle = context_->insertNewObject("Bundle");
    bundle->setValueForKey("name", std::string("Bundle"));
    bundle->setObjectForKey("parent", box);

    auto described = fileProviderItem(box);
    EXPECT_EQ(described->childItemCount(), std::optional<uint64_t>(5));
    EXPECT_EQ(described->parentItemIdentifier(), kRootContainerItemIdentifier);
    EXPECT_EQ(described->contentType(), "public.folder");
    EXPECT_TRUE(described->creationDate());

    auto rootDescribed = fileProviderItem(root_);
    EXPECT_EQ(rootDescribed->itemIdentifier(), kRootContainerItemIdentifier);
    EXPECT_EQ(rootDescribed->parentItemIdentifier(), "");
    EXPECT_EQ(rootDescribed->filename(), "Quillet");
    EXPECT_EQ(fileProviderItem(trash_)->itemIdentifier(), kTrashContainerItemIdentifier);
    EXPECT_EQ(fileProviderItem(bundle), nullptr);
    context_->rollback();
  });
}

}  // namespace
}  // namespace qlt
