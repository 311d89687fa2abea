#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

#include "extension/library_content_fixture.h"
#include "model/finder_tags.h"
#include "model/tag.h"
#include "util/file_manager.h"
#include "model/tag_data.h"
#include "platform/cloud/cloud_error.h"
#include "platform/defaults/user_defaults.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/files/extended_attributes.h"
#include "platform/files/file_attributes.h"
#include "platform/files/group_container.h"
#include "platform/foundation/property_list_serialization.h"
#include "platform/foundation/uniform_type.h"
#include "platform/sqlite/database.h"
#include "support/polling.h"

namespace qlt {
namespace {

constexpr uint64_t kBasicFields =
    kFileProviderItemContents | kFileProviderItemFilename | kFileProviderItemParentItemIdentifier;

class CreateTest : public LibraryContentTest {
 protected:
  struct Outcome {
    FileProviderItemPtr item;
    std::optional<Error> error;
  };

  std::shared_ptr<FileProviderItemTemplate> fileTemplate(const std::string& name,
                                                         const std::string& parent = kRootContainerItemIdentifier) {
    auto made = std::make_shared<FileProviderItemTemplate>();
    made->name = name;
    made->parent = parent;
    made->type = UniformType::plainText().identifier();
    return made;
  }

  std::string staged(const std::string& contents) {
    std::string path = appendingPathComponent(scratch_.path(), "staged-" + std::to_string(++stagedCount_));
    EXPECT_TRUE(writeFileAtomically(path, contents));
    return path;
  }

  Outcome create(FileProviderItemPtr itemTemplate, uint64_t fields, const std::optional<std::string>& contents,
                 uint64_t options = 0, std::shared_ptr<Progress>* progress = nullptr) {
    auto result = std::make_shared<std::promise<Outcome>>();
    auto made = extension_->createItemBasedOnTemplate(
        std::move(itemTemplate), fields, contents, options,
        [result](FileProviderItemPtr item, uint64_t pending, bool fetch, const Error* error) {
          EXPECT_EQ(pending, 0u);
          EXPECT_FALSE(fetch);
          result->set_value(Outcome{std::move(item), error ? std::optional<Error>(*error) : std::nullopt});
        });
    if (progress) *progress = made;
    auto future = result->get_future();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    return future.get();
  }

  // Objects of the library: items and plain folders.
  size_t objectCount() {
    auto reader = LibraryManager::sharedManager()->newBackgroundContext();
    size_t count = 0;
    reader->performAndWait([&] {
      count = reader->fetch(FetchRequest(kItemEntityName)).value_or(std::vector<ManagedObjectPtr>()).size() +
              reader->fetch(FetchRequest(kFolderEntityName)).value_or(std::vector<ManagedObjectPtr>()).size();
    });
    return count;
  }

  std::vector<std::string> rootFiles() {
    auto names = contentsOfDirectory(*root_->folderPath()).value_or(std::vector<std::string>());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::shared_ptr<Item> reread(const std::string& identifier) {
    std::shared_ptr<Item> found;
    auto reader = LibraryManager::sharedManager()->newBackgroundContext();
    reader->performAndWait([&] {
      found = std::dynamic_pointer_cast<Item>(LibraryObject::libraryObjectFromFileProviderIdentifier(identifier, *reader));
      if (found) (void)found->filename();
    });
    readers_.push_back(reader);
    return found;
  }

  int stagedCount_ = 0;
  std::vector<std::shared_ptr<ManagedObjectContext>> readers_;
};

TEST_F(CreateTest, AnItemTakesTheTemplatesValuesAndContents) {
  ASSERT_TRUE(UserDefaults::standard().setBool(true, kItemImportFinderTagsKey));
  auto itemTemplate = fileTemplate("Report.txt");
  itemTemplate->created = Date::fromUnixTime(1400000000);
  itemTemplate->modified = Date::fromUnixTime(1500000000);
  itemTemplate->tags = fileProviderTagData({{"Work", 6}, {"Brand New", 2}});
  itemTemplate->flags |= kFileProviderFileSystemHidesExtension;
  itemTemplate->typeAndCreatorCodes = (uint64_t{fourCharCode("QLTA")} << 32) | fourCharCode("TEXT");
  PropertyList comment(std::string("A remark"));
  itemTemplate->attributes = {{"com.apple.metadata:kMDItemFinderComment",
                               *serializePropertyList(comment, PropertyListFormat::Binary)},
                              {"org.example.note", Bytes{'h', 'i'}}};
  const uint64_t fields = kBasicFields | kFileProviderItemCreationDate | kFileProviderItemContentModificationDate |
                          kFileProviderItemTagData | kFileProviderItemFileSystemFlags |
                          kFileProviderItemExtendedAttributes | kFileProviderItemTypeAndCreator;

  Outcome outcome = create(itemTemplate, fields, staged("twelve bytes"));
  ASSERT_FALSE(outcome.error) << outcome.error->description();
  ASSERT_TRUE(outcome.item);
  EXPECT_EQ(outcome.item->filename(), "Report.txt");
  EXPECT_EQ(outcome.item->parentItemIdentifier(), kRootContainerItemIdentifier);
  EXPECT_EQ(outcome.item->documentSize(), 12u);

  std::shared_ptr<Item> item = reread(outcome.item->itemIdentifier());
  ASSERT_TRUE(item);
  std::string path = *item->fileURL();
  EXPECT_EQ(readFile(path).value_or(""), "twelve bytes");
  EXPECT_TRUE(item->dateCreated()->matchesToTheSecond(Date::fromUnixTime(1400000000)));
  EXPECT_TRUE(item->dateModified()->matchesToTheSecond(Date::fromUnixTime(1500000000)));
  EXPECT_TRUE(attributesOfItem(path)->modificationDate().matchesToTheSecond(Date::fromUnixTime(1500000000)));
  EXPECT_TRUE(item->extensionHidden());
  EXPECT_EQ((item->valueForKey("comments").string() ? *item->valueForKey("comments").string() : std::string()), "A remark");
  EXPECT_FALSE(xattrDataValue("com.apple.metadata:kMDItemFinderComment", path)) << "the comment is not a file attribute";
  EXPECT_EQ(xattrDataValue("org.example.note", path), (Bytes{'h', 'i'}));
  EXPECT_EQ(attributesOfItem(path)->typeCode, fourCharCode("TEXT"));
  EXPECT_EQ(attributesOfItem(path)->creatorCode, fourCharCode("QLTA"));
  EXPECT_EQ(tagNamesFromTagData(*finderTagsAttribute(path)), (std::vector<std::string>{"Work", "Brand New"}));
  std::vector<std::string> tagNames;
  for (const ManagedObjectPtr& tag : item->objectsForKey("tags")) tagNames.push_back(tag->as<Tag>()->name());
  std::sort(tagNames.begin(), tagNames.end());
  EXPECT_EQ(tagNames, (std::vector<std::string>{"Brand New", "Work"}));

  // It shows in its folder's listing.
  PageRecorder page(100);
  enumerator(kRootContainerItemIdentifier)->enumerateItemsForObserver(page, std::nullopt);
  EXPECT_NE(std::find(page.names.begin(), page.names.end(), "Report.txt"), page.names.end());
  EXPECT_TRUE(changeSets().first.empty()) << "no cloud, no change set";
}

TEST_F(CreateTest, NamesThatAreTakenCollideUnlessTheItemMayExist) {
  auto existing = item(root_, "Notes.txt", 1000, 1000);
  folder(root_, "Archive", 1000);
  const size_t before = objectCount();
  const std::vector<std::string> files = rootFiles();

  Outcome clash = create(fileTemplate("notes.TXT"), kBasicFields, staged("new"));
  ASSERT_TRUE(clash.error);
  EXPECT_TRUE(clash.error->is(kFileProviderErrorDomain, kFileProviderErrorFilenameCollision));
  EXPECT_EQ(clash.error->itemIdentifier(), identifierOf(existing));

  Outcome returned = create(fileTemplate("Notes.txt"), kBasicFields, staged("new"), kFileProviderCreateItemMayAlreadyExist);
  ASSERT_FALSE(returned.error);
  ASSERT_TRUE(returned.item);
  EXPECT_EQ(returned.item->itemIdentifier(), identifierOf(existing));
  EXPECT_EQ(readFile(*root_->folderPath() + "/Notes.txt").value_or(""), "contents") << "nothing new written";

  Outcome folderClash = create(fileTemplate("Archive"), kBasicFields, staged("x"), kFileProviderCreateItemMayAlreadyExist);
  ASSERT_TRUE(folderClash.error);
  EXPECT_TRUE(folderClash.error->is(kFileProviderErrorDomain, kFileProviderErrorFilenameCollision));

  auto folderTemplate = fileTemplate("Archive");
  folderTemplate->type = UniformType::folder().identifier();
  EXPECT_TRUE(create(folderTemplate, kBasicFields, std::nullopt).error) << "a folder of that name exists";
  Outcome sameFolder = create(folderTemplate, kBasicFields, std::nullopt, kFileProviderCreateItemMayAlreadyExist);
  ASSERT_TRUE(sameFolder.item);
  EXPECT_EQ(sameFolder.item->filename(), "Archive");
  auto onItem = fileTemplate("Notes.txt");
  onItem->type = UniformType::folder().identifier();
  EXPECT_TRUE(create(onItem, kBasicFields, std::nullopt).error) << "a folder cannot take an item's name";

  EXPECT_EQ(objectCount(), before);
  EXPECT_EQ(rootFiles(), files);
  EXPECT_TRUE(changeSets().first.empty());

  // A note package whose type says folder is an item all the same.
  auto package = fileTemplate("Plans.qltnote");
  package->type = UniformType::folder().identifier();
  std::string packageDirectory = appendingPathComponent(scratch_.path(), "package");
  ASSERT_TRUE(createDirectory(packageDirectory, true));
  ASSERT_TRUE(writeFileAtomically(packageDirectory + "/text.rtf", "{\\rtf1 x}"));
  Outcome note = create(package, kBasicFields, packageDirectory);
  ASSERT_TRUE(note.item) << (note.error ? note.error->description() : "");
  EXPECT_EQ(note.item->itemIdentifier().rfind("Item|", 0), 0u);
  EXPECT_TRUE(isDirectory(*root_->folderPath() + "/Plans.qltnote"));
}

TEST_F(CreateTest, AnIdentifierFromBeforeIsReturnedOrRestored) {
  Folder::Ptr elsewhere = folder(root_, "Elsewhere", 1000);
  auto kept = item(elsewhere, "Kept.txt", 1000, 1000);
  std::string keptIdentifier;
  context_->performAndWait([&] { keptIdentifier = kept->identifier(); });

  auto again = fileTemplate("Moved.txt");
  again->attributes[kLibraryObjectIdentifierXAttrName] = Bytes(keptIdentifier.begin(), keptIdentifier.end());
  const uint64_t fields = kBasicFields | kFileProviderItemExtendedAttributes;
  Outcome returned = create(again, fields, staged("x"), kFileProviderCreateItemMayAlreadyExist);
  ASSERT_TRUE(returned.item);
  EXPECT_EQ(returned.item->itemIdentifier(), identifierOf(kept));
  EXPECT_EQ(returned.item->parentItemIdentifier(), identifierOf(elsewhere)) << "not moved";

  auto restored = fileTemplate("Restored.txt");
  const std::string fresh = "5B0C7B6E-0000-4000-8000-000000000001";
  restored->attributes[kLibraryObjectIdentifierXAttrName] = Bytes(fresh.begin(), fresh.end());
  Outcome made = create(restored, fields, staged("y"), kFileProviderCreateItemMayAlreadyExist);
  ASSERT_TRUE(made.item);
  EXPECT_EQ(made.item->itemIdentifier(), "Item|" + fresh);

  // Someone else's share is not made again without the cloud.
  auto theirs = fileTemplate("Theirs.txt");
  theirs->attributes[kLibraryObjectIsRemoteShareXAttrName] = Bytes{'1'};
  Outcome skipped = create(theirs, fields, staged("z"), kFileProviderCreateItemMayAlreadyExist);
  EXPECT_FALSE(skipped.item);
  EXPECT_FALSE(skipped.error);
  EXPECT_FALSE(fileExists(*root_->folderPath() + "/Theirs.txt"));
}

TEST_F(CreateTest, BadTemplatesAndContentsGetClearErrorsAndLeaveNothing) {
  auto existing = item(root_, "Existing.txt", 1000, 1000);
  const size_t before = objectCount();
  const std::vector<std::string> files = rootFiles();
  std::string link = appendingPathComponent(scratch_.path(), "link");
  ASSERT_EQ(::symlink("/etc/passwd", link.c_str()), 0);
  std::string fifo = appendingPathComponent(scratch_.path(), "fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  struct Case {
    std::string name;
    std::string parent;
    std::optional<std::string> contents;
    std::string domain;
    long code;
  };
  const std::string root = kRootContainerItemIdentifier;
  for (const Case& bad : std::vector<Case>{
           {"a/b.txt", root, staged("x"), kCocoaErrorDomain, kCocoaFileWriteInvalidFileNameError},
           {std::string("nul\0.txt", 8), root, staged("x"), kCocoaErrorDomain, kCocoaFileWriteInvalidFileNameError},
           {"..", root, staged("x"), kCocoaErrorDomain, kCocoaFileWriteInvalidFileNameError},
           {std::string(256, 'n'), root, staged("x"), kPOSIXErrorDomain, ENAMETOOLONG},
           {"x.txt", identifierOf(existing), staged("x"), kFileProviderErrorDomain, kFileProviderErrorNoSuchItem},
           {"x.txt", "Folder|no-such-folder", staged("x"), kFileProviderErrorDomain, kFileProviderErrorNoSuchItem},
           {"x.txt", root, appendingPathComponent(scratch_.path(), "missing"), kCocoaErrorDomain,
            kCocoaFileNoSuchFileError},
           {"x.txt", root, std::nullopt, kCocoaErrorDomain, kCocoaFileNoSuchFileError},
           {"x.txt", root, link, kFileProviderErrorDomain, kFileProviderErrorExcludedFromSync},
           {"x.txt", root, fifo, kCocoaErrorDomain, kCocoaFileReadUnknownError},
       }) {
    Outcome outcome = create(fileTemplate(bad.name, bad.parent), kBasicFields, bad.contents);
    ASSERT_TRUE(outcome.error) << bad.name << " in " << bad.parent;
    EXPECT_EQ(outcome.error->domain(), bad.domain) << bad.name << ": " << outcome.error->description();
    EXPECT_EQ(outcome.error->code(), bad.code) << bad.name << ": " << outcome.error->description();
    EXPECT_FALSE(outcome.item);
  }
  EXPECT_EQ(objectCount(), before);
  EXPECT_EQ(rootFiles(), files);
  EXPECT_TRUE(changeSets().first.empty());
}

TEST_F(CreateTest, ASaveThatFailsLeavesNoRowAndNoFile) {
  // Another connection makes the store refuse new items, as a full disk or
  // a broken database would.
  auto database = Database::open(LibraryManager::sharedManager()->libraryPersistentStorePath());
  ASSERT_TRUE(database);
  ASSERT_TRUE(database->execute(
      "CREATE TRIGGER refuse_items BEFORE INSERT ON \"Item\" BEGIN SELECT RAISE(ABORT, 'refused'); END"));
  const size_t before = objectCount();
  const std::vector<std::string> files = rootFiles();
  Outcome refused = create(fileTemplate("Doomed.txt"), kBasicFields, staged("doomed"));
  ASSERT_TRUE(refused.error);
  EXPECT_FALSE(refused.item);
  EXPECT_EQ(objectCount(), before);
  EXPECT_EQ(rootFiles(), files);
  EXPECT_TRUE(changeSets().first.empty());

  ASSERT_TRUE(database->execute("DROP TRIGGER refuse_items"));
  Outcome made = create(fileTemplate("Doomed.txt"), kBasicFields, staged("fine"));
  EXPECT_TRUE(made.item) << (made.error ? made.error->description() : "");
}

TEST_F(CreateTest, AFolderTakesTheTemplatesDatesAndAttributes) {
  auto folderTemplate = fileTemplate("Dated");
  folderTemplate->type = UniformType::folder().identifier();
  folderTemplate->modified = Date::fromUnixTime(1300000000);
  folderTemplate->attributes = {{"org.example.mark", Bytes{'m'}}};
  Outcome outcome = create(folderTemplate,
                           kBasicFields | kFileProviderItemContentModificationDate | kFileProviderItemExtendedAttributes,
                           std::nullopt);
  ASSERT_TRUE(outcome.item) << (outcome.error ? outcome.error->description() : "");
  std::string directory = *root_->folderPath() + "/Dated";
  ASSERT_TRUE(isDirectory(directory));
  EXPECT_TRUE(attributesOfItem(directory)->modificationDate().matchesToTheSecond(Date::fromUnixTime(1300000000)));
  EXPECT_EQ(xattrDataValue("org.example.mark", directory), (Bytes{'m'}));
}

TEST_F(CreateTest, TheExtensionUploadsNewObjectsOnlyWhileTheHostIsAway) {
  makeCloudLibrary();
  auto cloud = installCloud();
  Outcome uploaded = create(fileTemplate("Up.txt"), kBasicFields, staged("up"));
  ASSERT_FALSE(uploaded.error) << uploaded.error->description();
  ASSERT_TRUE(uploaded.item);
  EXPECT_TRUE(uploaded.item->isUploaded());
  EXPECT_GT(cloud->faults().requestCount(), 0u);
  using Status = LibraryChangeSetStatus;
  EXPECT_EQ(changeSets(), std::make_pair(std::vector<Status>{Status::HandedToCloudUpload}, size_t{1}))
      << "one change set naming the new record, handed to the upload";

  // A network failure keeps the item for a later upload, its change set pending.
  cloud->faults().failNextRequests(cloudError(kCloudErrorNetworkFailure));
  Outcome offline = create(fileTemplate("Offline.txt"), kBasicFields, staged("later"));
  ASSERT_TRUE(offline.error);
  EXPECT_TRUE(offline.error->is(kFileProviderErrorDomain, kFileProviderErrorServerUnreachable));
  EXPECT_TRUE(fileExists(*root_->folderPath() + "/Offline.txt"));
  std::vector<Status> statuses = changeSets().first;
  std::sort(statuses.begin(), statuses.end());
  EXPECT_EQ(statuses, (std::vector<Status>{Status::Pending, Status::HandedToCloudUpload}));

  // Quota exceeded undoes the creation.
  const size_t before = objectCount();
  cloud->faults().failNextRequests(cloudError(kCloudErrorQuotaExceeded));
  Outcome full = create(fileTemplate("Full.txt"), kBasicFields, staged("no room"));
  ASSERT_TRUE(full.error);
  EXPECT_TRUE(full.error->is(kFileProviderErrorDomain, kFileProviderErrorInsufficientQuota));
  EXPECT_EQ(objectCount(), before);
  EXPECT_FALSE(fileExists(*root_->folderPath() + "/Full.txt"));
  EXPECT_EQ(changeSets().first.size(), 2u) << "the undone creation's change set goes with it";

  // Cancelling while the cloud is silent undoes it too.
  cloud->faults().withholdNextRequests();
  auto result = std::make_shared<std::promise<std::optional<Error>>>();
  auto progress = extension_->createItemBasedOnTemplate(
      fileTemplate("Cancelled.txt"), kBasicFields, staged("gone"), 0,
      [result](FileProviderItemPtr, uint64_t, bool, const Error* error) {
        result->set_value(error ? std::optional<Error>(*error) : std::nullopt);
      });
  const size_t requests = cloud->faults().requestCount();
  ASSERT_TRUE(eventually([&] { return cloud->faults().requestCount() > requests; }, std::chrono::seconds(5)));
  progress->cancel();
  std::optional<Error> cancelled = result->get_future().get();
  ASSERT_TRUE(cancelled);
  EXPECT_TRUE(cancelled->is(kCocoaErrorDomain, kCocoaUserCancelledError));
  EXPECT_EQ(objectCount(), before);
  EXPECT_FALSE(fileExists(*root_->folderPath() + "/Cancelled.txt"));
  EXPECT_EQ(changeSets().first.size(), 2u);

  // While the host application runs it uploads; the extension only saves.
  auto lock = ApplicationLock::acquire(scratch_.path(), std::string(kProductIdentifierPrefix));
  ASSERT_TRUE(lock);
  const size_t quiet = cloud->faults().requestCount();
  Outcome local = create(fileTemplate("Local.txt"), kBasicFields, staged("local"));
  ASSERT_FALSE(local.error);
  EXPECT_TRUE(local.item);
  EXPECT_EQ(cloud->faults().requestCount(), quiet);
  EXPECT_EQ(changeSets().first.size(), 2u) << "no change set without an upload";
}

}  // namespace
}  // namespace qlt
