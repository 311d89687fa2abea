#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <future>

#include "changes/library_change_record.h"
#include "extension/library_content_fixture.h"
#include "extension/library_object_file_provider_item.h"
#include "model/finder_tags.h"
#include "model/item_error.h"
#include "model/tag.h"
#include "model/tag_data.h"
#include "platform/cloud/cloud_error.h"
#include "platform/defaults/user_defaults.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/files/file_attributes.h"
#include "platform/foundation/property_list_serialization.h"
#include "platform/foundation/uniform_type.h"
#include "util/file_manager.h"

namespace qlt {
namespace {

class ModifyTest : public LibraryContentTest {
 protected:
  struct Outcome {
    FileProviderItemPtr item;
    uint64_t pending = 0;
    std::optional<Error> error;
  };

  // The item as the service sees it now, to be changed by the test.
  std::shared_ptr<FileProviderItemTemplate> valuesOf(const ManagedObjectPtr& object) {
    auto values = std::make_shared<FileProviderItemTemplate>();
    context_->performAndWait([&] {
      context_->refreshAllObjects();
      FileProviderItemPtr item = fileProviderItem(object);
      values->identifier = item->itemIdentifier();
      values->parent = item->parentItemIdentifier();
      values->name = item->filename();
      values->type = item->contentType();
      values->created = item->creationDate();
      values->modified = item->contentModificationDate();
      values->flags = item->fileSystemFlags();
    });
    return values;
  }

  std::string staged(const std::string& contents) {
    std::string path = appendingPathComponent(scratch_.path(), "staged-" + std::to_string(++stagedCount_));
    EXPECT_TRUE(writeFileAtomically(path, contents));
    return path;
  }

  Outcome modify(FileProviderItemPtr values, uint64_t fields, const std::optional<std::string>& contents = std::nullopt,
                 uint64_t options = 0) {
    auto result = std::make_shared<std::promise<Outcome>>();
    extension_->modifyItem(std::move(values), std::nullopt, fields, contents, options,
                           [result](FileProviderItemPtr item, uint64_t pending, bool fetch, const Error* error) {
                             EXPECT_FALSE(fetch);
                             result->set_value(
                                 Outcome{std::move(item), pending, error ? std::optional<Error>(*error) : std::nullopt});
                           });
    auto future = result->get_future();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    return future.get();
  }

  // The item as saved, read in a fresh context.
  template <class Check>
  void reread(const ManagedObjectPtr& object, const Check& check) {
    auto reader = LibraryManager::sharedManager()->newBackgroundContext();
    reader->performAndWait([&] {
      auto found = std::dynamic_pointer_cast<Item>(reader->existingObjectWithID(object->objectID()));
      ASSERT_TRUE(found);
      check(*found);
    });
  }

  // The changed keys of every updated record of every change set.
  std::vector<std::set<std::string>> changedKeysOfChangeSets() {
    std::vector<std::set<std::string>> keys;
    auto changes = extension_->changesManagerContext();
    changes->performAndWait([&] {
      for (const ManagedObjectPtr& object : changes->fetch(FetchRequest("ChangeRecord")).value_or(std::vector<ManagedObjectPtr>{}))
        if (auto record = std::dynamic_pointer_cast<LibraryChangeRecord>(object);
            record && record->changeType() == LibraryChangeType::Update)
          keys.push_back(record->changedKeys().value_or(std::set<std::string>()));
    });
    return keys;
  }

  std::vector<std::string> filesIn(const Folder::Ptr& folder) {
    auto names = contentsOfDirectory(*folder->folderPath()).value_or(std::vector<std::string>());
    std::sort(names.begin(), names.end());
    return names;
  }

  int stagedCount_ = 0;
};

TEST_F(ModifyTest, EachFieldChangesTheItemAndItsFileAndVersionsFollowTheDates) {
  ASSERT_TRUE(UserDefaults::standard().setBool(true, kItemImportFinderTagsKey));
  Folder::Ptr projects = folder(root_, "Projects", 1000);
  auto report = item(root_, "Report.txt", 1000000000, 1000);
  const std::string identifier = identifierOf(report);
  std::string path;
  FileProviderItemVersion version;
  Date original;
  context_->performAndWait([&] {
    path = *report->fileURL();
    version = report->itemVersion();
    original = *report->dateModified();
    EXPECT_TRUE(setModificationTime(path, original.toTimespec()));
  });
  auto versionNow = [&] {
    FileProviderItemVersion now;
    reread(report, [&](Item& item) { now = item.itemVersion(); });
    return now;
  };

  // New contents: the bytes change, the dates of item and file do not.
  ASSERT_TRUE(setXAttrDataValue(Bytes{'k'}, "org.example.kept", path));
  Outcome contents = modify(valuesOf(report), kFileProviderItemContents, staged("new contents!"));
  ASSERT_FALSE(contents.error) << contents.error->description();
  EXPECT_EQ(contents.pending, 0u);
  EXPECT_EQ(contents.item->documentSize(), 13u);
  EXPECT_EQ(readFile(path).value_or(""), "new contents!");
  EXPECT_EQ(xattrDataValue("org.example.kept", path), (Bytes{'k'})) << "the old file's attributes stay";
  EXPECT_TRUE(attributesOfItem(path)->modificationDate().matchesToTheSecond(original));
  reread(report, [&](Item& item) { EXPECT_TRUE(item.dateModified()->matchesToTheSecond(original)); });
  EXPECT_EQ(versionNow().contentVersion, version.contentVersion) << "no date changed";

  // The creation date alone.
  auto values = valuesOf(report);
  values->created = Date::fromUnixTime(900000000);
  ASSERT_FALSE(modify(values, kFileProviderItemCreationDate).error);
  EXPECT_TRUE(attributesOfItem(path)->creationDate().matchesToTheSecond(Date::fromUnixTime(900000000)));
  reread(report, [&](Item& item) {
    EXPECT_TRUE(item.dateCreated()->matchesToTheSecond(Date::fromUnixTime(900000000)));
    EXPECT_TRUE(item.dateModified()->matchesToTheSecond(original));
  });
  EXPECT_EQ(versionNow().contentVersion, version.contentVersion);

  // The modification date changes the content version.
  values = valuesOf(report);
  values->modified = Date::fromUnixTime(1600000000);
  ASSERT_FALSE(modify(values, kFileProviderItemContentModificationDate).error);
  EXPECT_TRUE(attributesOfItem(path)->modificationDate().matchesToTheSecond(Date::fromUnixTime(1600000000)));
  FileProviderItemVersion dated = versionNow();
  EXPECT_NE(dated.contentVersion, version.contentVersion);

  // The last-used date goes to the file's access time.
  values = valuesOf(report);
  values->lastUsed = Date::fromUnixTime(1650000000);
  ASSERT_FALSE(modify(values, kFileProviderItemLastUsedDate).error);
  EXPECT_TRUE(attributesOfItem(path)->accessDate().matchesToTheSecond(Date::fromUnixTime(1650000000)));

  // Tag data becomes library tags and stays on the file as tag data.
  values = valuesOf(report);
  values->tags = fileProviderTagData({{"Work", 6}, {"Urgent", 2}});
  ASSERT_FALSE(modify(values, kFileProviderItemTagData).error);
  EXPECT_EQ(finderTagsAttribute(path), values->tags) << "the data as given, colours included";
  reread(report, [](Item& item) {
    std::vector<std::string> names;
    for (const ManagedObjectPtr& tag : item.objectsForKey("tags")) names.push_back(tag->as<Tag>()->name());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Urgent", "Work"}));
  });
  // No tag data empties the attribute and leaves the tags alone.
  values = valuesOf(report);
  values->tags.reset();
  ASSERT_FALSE(modify(values, kFileProviderItemTagData).error);
  EXPECT_EQ(finderTagsAttribute(path).value_or(Bytes{'x'}), Bytes());
  reread(report, [](Item& item) { EXPECT_EQ(item.objectsForKey("tags").size(), 2u); });

  // Extended attributes, the Finder comment among them; flags; type codes.
  values = valuesOf(report);
  values->attributes = {{"com.apple.metadata:kMDItemFinderComment",
                         *serializePropertyList(PropertyList(std::string("Read me")), PropertyListFormat::Binary)},
                        {"org.example.mark", Bytes{'m'}}};
  values->flags |= kFileProviderFileSystemHidesExtension;
  values->typeAndCreatorCodes = (uint64_t{fourCharCode("QLTA")} << 32) | fourCharCode("TEXT");
  ASSERT_FALSE(modify(values, kFileProviderItemExtendedAttributes | kFileProviderItemFileSystemFlags |
                                  kFileProviderItemTypeAndCreator)
                   .error);
  EXPECT_EQ(xattrDataValue("org.example.mark", path), (Bytes{'m'}));
  EXPECT_EQ(attributesOfItem(path)->typeCode, fourCharCode("TEXT"));
  reread(report, [](Item& item) {
    EXPECT_EQ(item.valueForKey("comments").string() ? *item.valueForKey("comments").string() : "", "Read me");
    EXPECT_TRUE(item.extensionHidden());
    EXPECT_EQ(item.valueForKey("fileTypeCode").numberValue(), static_cast<int32_t>(fourCharCode("TEXT")));
  });

  // A rename keeps the hidden extension and the content version.
  values = valuesOf(report);
  values->name = "Final.txt";
  Outcome renamed = modify(values, kFileProviderItemFilename);
  ASSERT_FALSE(renamed.error) << renamed.error->description();
  EXPECT_EQ(renamed.item->filename(), "Final.txt");
  EXPECT_EQ(renamed.item->itemIdentifier(), identifier);
  EXPECT_FALSE(fileExists(path));
  EXPECT_EQ(readFile(*root_->folderPath() + "/Final.txt").value_or(""), "new contents!");
  reread(report, [](Item& item) { EXPECT_TRUE(item.extensionHidden()); });
  EXPECT_EQ(versionNow().contentVersion, dated.contentVersion);
  // The service names whole filenames: a name without the extension drops it.
  values = valuesOf(report);
  values->name = "Final";
  ASSERT_FALSE(modify(values, kFileProviderItemFilename).error);
  EXPECT_TRUE(fileExists(*root_->folderPath() + "/Final"));
  values = valuesOf(report);
  values->name = "Final.txt";
  ASSERT_FALSE(modify(values, kFileProviderItemFilename).error);

  // Everything at once: moved, renamed, new contents, dated.
  values = valuesOf(report);
  values->parent = identifierOf(projects);
  values->name = "Moved.md";
  values->modified = Date::fromUnixTime(1700000000);
  Outcome all = modify(values,
                       kFileProviderItemParentItemIdentifier | kFileProviderItemFilename | kFileProviderItemContents |
                           kFileProviderItemContentModificationDate,
                       staged("# all of it"));
  ASSERT_FALSE(all.error) << all.error->description();
  EXPECT_EQ(all.item->parentItemIdentifier(), identifierOf(projects));
  std::string moved = *projects->folderPath() + "/Moved.md";
  EXPECT_EQ(readFile(moved).value_or(""), "# all of it");
  EXPECT_TRUE(attributesOfItem(moved)->modificationDate().matchesToTheSecond(Date::fromUnixTime(1700000000)));
  EXPECT_EQ(filesIn(root_), (std::vector<std::string>{"Projects"}));
}

TEST_F(ModifyTest, NameClashesAreReportedOrGetNumberedNames) {
  Folder::Ptr archive = folder(root_, "Archive", 1000);
  auto notes = item(root_, "Notes.txt", 1000, 1000);
  auto plan = item(root_, "Plan.txt", 1000, 1000);
  item(archive, "Plan.txt", 1000, 1000);
  item(archive, "Notes.txt", 1000, 1000);

  auto values = valuesOf(plan);
  values->name = "Notes.txt";
  Outcome refused = modify(values, kFileProviderItemFilename);
  ASSERT_TRUE(refused.error);
  EXPECT_TRUE(refused.error->is(kCocoaErrorDomain, kCocoaServiceReplyInvalidError));
  ASSERT_TRUE(refused.error->underlyingError());
  EXPECT_TRUE(refused.error->underlyingError()->is(kItemErrorDomain, kItemFileExistsErrorCode));
  EXPECT_EQ(refused.pending, uint64_t{kFileProviderItemFilename});
  EXPECT_TRUE(fileExists(*root_->folderPath() + "/Plan.txt"));

  Outcome numbered = modify(values, kFileProviderItemFilename, std::nullopt, kFileProviderModifyItemMayAlreadyExist);
  ASSERT_FALSE(numbered.error) << numbered.error->description();
  EXPECT_EQ(numbered.item->filename(), "Notes 1.txt");

  // A pure move always succeeds, under a numbered name.
  values = valuesOf(notes);
  values->parent = identifierOf(archive);
  Outcome moved = modify(values, kFileProviderItemParentItemIdentifier);
  ASSERT_FALSE(moved.error) << moved.error->description();
  EXPECT_EQ(moved.item->parentItemIdentifier(), identifierOf(archive));
  EXPECT_EQ(moved.item->filename(), "Notes 1.txt");

  // A rename and move at once needs may-exist.
  values = valuesOf(plan);
  values->parent = identifierOf(archive);
  values->name = "Plan.txt";
  EXPECT_TRUE(modify(values, kFileProviderItemParentItemIdentifier | kFileProviderItemFilename).error);
  Outcome both = modify(values, kFileProviderItemParentItemIdentifier | kFileProviderItemFilename, std::nullopt,
                        kFileProviderModifyItemMayAlreadyExist);
  ASSERT_FALSE(both.error) << both.error->description();
  EXPECT_EQ(both.item->parentItemIdentifier(), identifierOf(archive));
  EXPECT_EQ(both.item->filename(), "Plan 1.txt");
  EXPECT_EQ(filesIn(archive), (std::vector<std::string>{"Notes 1.txt", "Notes.txt", "Plan 1.txt", "Plan.txt"}));
  EXPECT_EQ(filesIn(root_), (std::vector<std::string>{"Archive"}));
}

TEST_F(ModifyTest, ItemsAndFoldersGoIntoTheTrashAndBack) {
  Folder::Ptr old = folder(root_, "Old", 1000);
  auto letter = item(old, "Letter.txt", 1000, 1000);
  auto memo = item(root_, "Memo.txt", 1000, 1000);

  auto values = valuesOf(memo);
  values->parent = kTrashContainerItemIdentifier;
  Outcome trashed = modify(values, kFileProviderItemParentItemIdentifier);
  ASSERT_FALSE(trashed.error) << trashed.error->description();
  EXPECT_EQ(trashed.item->parentItemIdentifier(), kTrashContainerItemIdentifier);
  EXPECT_TRUE(fileExists(*trash_->folderPath() + "/Memo.txt"));
  reread(memo, [](Item& item) { EXPECT_TRUE(item.folder()->isTrashFolder()); });

  values = valuesOf(memo);
  values->parent = kRootContainerItemIdentifier;
  Outcome back = modify(values, kFileProviderItemParentItemIdentifier);
  ASSERT_FALSE(back.error) << back.error->description();
  EXPECT_EQ(back.item->parentItemIdentifier(), kRootContainerItemIdentifier);
  EXPECT_TRUE(fileExists(*root_->folderPath() + "/Memo.txt"));

  // A folder renamed and moved in one step, its items with it.
  Folder::Ptr target = folder(root_, "Target", 1000);
  values = valuesOf(old);
  values->parent = identifierOf(target);
  values->name = "Older";
  Outcome folderMoved = modify(values, kFileProviderItemParentItemIdentifier | kFileProviderItemFilename);
  ASSERT_FALSE(folderMoved.error) << folderMoved.error->description();
  EXPECT_EQ(folderMoved.item->filename(), "Older");
  EXPECT_TRUE(fileExists(*target->folderPath() + "/Older/Letter.txt"));
  reread(letter, [](Item& item) { EXPECT_EQ(item.folder()->name(), "Older"); });
}

TEST_F(ModifyTest, NewContentsReplacePackagesAndNeverLoseTheOldOnes) {
  auto package = item(root_, "Plans.qltnote", 1000, 1000, false);
  std::string path;
  context_->performAndWait([&] { path = *package->fileURL(); });
  ASSERT_TRUE(createDirectory(path, true));
  ASSERT_TRUE(writeFileAtomically(path + "/TXT.rtf", "{\\rtf1 old}"));
  ASSERT_TRUE(writeFileAtomically(path + "/old-only", "x"));

  std::string replacement = appendingPathComponent(scratch_.path(), "new.qltnote");
  ASSERT_TRUE(createDirectory(replacement + "/Attachments", true));
  ASSERT_TRUE(writeFileAtomically(replacement + "/TXT.rtf", "{\\rtf1 new}"));
  ASSERT_TRUE(writeFileAtomically(replacement + "/Attachments/a.png", "png"));
  Outcome replaced = modify(valuesOf(package), kFileProviderItemContents, replacement);
  ASSERT_FALSE(replaced.error) << replaced.error->description();
  EXPECT_EQ(readFile(path + "/TXT.rtf").value_or(""), "{\\rtf1 new}");
  EXPECT_EQ(readFile(path + "/Attachments/a.png").value_or(""), "png");
  EXPECT_FALSE(fileExists(path + "/old-only"));

  // Contents too large to write (as on a full disk) leave the old ones.
  auto report = item(root_, "Report.txt", 1000, 1000);
  std::string reportPath;
  context_->performAndWait([&] { reportPath = *report->fileURL(); });
  const std::vector<std::string> before = filesIn(root_);
  std::string huge = appendingPathComponent(scratch_.path(), "huge");
  ASSERT_TRUE(writeFileAtomically(huge, std::string(4 << 20, 'h')));
  struct rlimit limit {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const struct rlimit original = limit;
  auto* previous = signal(SIGXFSZ, SIG_IGN);
  limit.rlim_cur = 1 << 20;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  auto values = valuesOf(report);
  values->name = "Renamed.txt";
  Outcome full = modify(values, kFileProviderItemContents | kFileProviderItemFilename, huge);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &original), 0);
  signal(SIGXFSZ, previous);
  ASSERT_TRUE(full.error);
  EXPECT_EQ(full.pending, uint64_t{kFileProviderItemContents | kFileProviderItemFilename});
  EXPECT_EQ(readFile(reportPath).value_or(""), "contents") << "the old contents are kept";
  EXPECT_EQ(filesIn(root_), before) << "no partial copy, and the rename was not reached";
  reread(report, [](Item& item) { EXPECT_EQ(item.filename(), "Report.txt"); });
}

TEST_F(ModifyTest, AFailureHalfWayLeavesTheLaterFieldsAlone) {
  auto taken = item(root_, "Taken.txt", 1000, 1000);
  auto report = item(root_, "Report.txt", 1000, 1000);
  std::string path;
  context_->performAndWait([&] { path = *report->fileURL(); });
  auto values = valuesOf(report);
  values->name = "Taken.txt";
  values->attributes = {{"org.example.late", Bytes{'l'}}};
  const uint64_t fields = kFileProviderItemFilename | kFileProviderItemExtendedAttributes;
  Outcome refused = modify(values, fields);
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.pending, fields);
  EXPECT_FALSE(xattrDataValue("org.example.late", path)) << "attributes come after the refused rename";
  reread(report, [](Item& item) { EXPECT_EQ(item.filename(), "Report.txt"); });
}

TEST_F(ModifyTest, BadRequestsGetClearErrorsAndChangeNothing) {
  makeCloudLibrary();
  installCloud();
  Folder::Ptr outer = folder(root_, "Outer", 1000);
  Folder::Ptr inner = folder(outer, "Inner", 1000);
  auto report = item(root_, "Report.txt", 1000, 1000);
  std::string path;
  context_->performAndWait([&] { path = *report->fileURL(); });
  std::string link = appendingPathComponent(scratch_.path(), "link");
  ASSERT_EQ(::symlink("/etc/passwd", link.c_str()), 0);
  const std::vector<std::string> files = filesIn(root_);

  struct Case {
    std::string what;
    std::function<void(FileProviderItemTemplate&)> change;
    uint64_t fields;
    std::optional<std::string> contents;
    std::string domain;
    long code;
  };
  const std::vector<Case> cases = {
      {"unknown item", [](auto& v) { v.identifier = "Item|00000000-0000-4000-8000-000000000000"; }, kFileProviderItemFilename,
       std::nullopt, kFileProviderErrorDomain, kFileProviderErrorNoSuchItem},
      {"parent is an item", [&](auto& v) { v.parent = identifierOf(report); }, kFileProviderItemParentItemIdentifier,
       std::nullopt, kFileProviderErrorDomain, kFileProviderErrorNoSuchItem},
      {"slash", [](auto& v) { v.name = "../escape.txt"; }, kFileProviderItemFilename, std::nullopt, kCocoaErrorDomain,
       kCocoaFileWriteInvalidFileNameError},
      {"dots", [](auto& v) { v.name = ".."; }, kFileProviderItemFilename, std::nullopt, kCocoaErrorDomain,
       kCocoaFileWriteInvalidFileNameError},
      {"missing contents", [](auto&) {}, kFileProviderItemContents, appendingPathComponent(scratch_.path(), "missing"),
       kCocoaErrorDomain, kCocoaFileNoSuchFileError},
      {"linked contents", [](auto&) {}, kFileProviderItemContents, link, kCocoaErrorDomain,
       kCocoaServiceReplyInvalidError},
      {"a link's type", [](auto& v) { v.type = UniformType::symbolicLink().identifier(); }, kFileProviderItemFilename,
       std::nullopt, kCocoaErrorDomain, kCocoaServiceReplyInvalidError},
      {"tag data", [](auto& v) { v.tags = Bytes{'b', 'p', 'l', 'i', 's', 't'}; }, kFileProviderItemTagData, std::nullopt,
       kCocoaErrorDomain, kCocoaFileReadCorruptFileError},
  };
  for (const Case& bad : cases) {
    auto values = valuesOf(report);
    bad.change(*values);
    Outcome outcome = modify(values, bad.fields | kFileProviderItemFilename, bad.contents);
    ASSERT_TRUE(outcome.error) << bad.what;
    EXPECT_EQ(outcome.error->domain(), bad.domain) << bad.what << ": " << outcome.error->description();
    EXPECT_EQ(outcome.error->code(), bad.code) << bad.what << ": " << outcome.error->description();
    EXPECT_EQ(outcome.pending, bad.fields | kFileProviderItemFilename) << bad.what;
  }

  // A folder into its own subtree.
  auto values = valuesOf(outer);
  values->parent = identifierOf(inner);
  Outcome loop = modify(values, kFileProviderItemParentItemIdentifier);
  ASSERT_TRUE(loop.error);
  EXPECT_TRUE(isDirectory(*root_->folderPath() + "/Outer/Inner"));

  EXPECT_EQ(filesIn(root_), files);
  EXPECT_EQ(readFile(path).value_or(""), "contents");
  EXPECT_TRUE(changeSets().first.empty());
}

TEST_F(ModifyTest, TheChangeSetNamesExactlyTheChangedKeysAndTheUploadKeepsTheChange) {
  makeCloudLibrary();
  auto cloud = installCloud();
  auto report = item(root_, "Report.txt", 1000, 1000);

  auto values = valuesOf(report);
  values->name = "Renamed.txt";
  Outcome renamed = modify(values, kFileProviderItemFilename);
  ASSERT_FALSE(renamed.error) << renamed.error->description();
  EXPECT_TRUE(changeSets().first.empty()) << "uploaded: the change set is done";

  // An upload that fails keeps the change and its change set, pending.
  cloud->faults().failNextRequests(cloudError(kCloudErrorNetworkFailure));
  values = valuesOf(report);
  values->modified = Date::fromUnixTime(1600000000);
  const uint64_t fields = kFileProviderItemContents | kFileProviderItemContentModificationDate;
  Outcome offline = modify(values, fields, staged("offline edit"));
  ASSERT_TRUE(offline.error);
  EXPECT_TRUE(offline.error->is(kFileProviderErrorDomain, kFileProviderErrorServerUnreachable));
  EXPECT_EQ(offline.pending, fields);
  EXPECT_EQ(changeSets().first, std::vector<LibraryChangeSetStatus>{LibraryChangeSetStatus::Pending});
  std::vector<std::set<std::string>> keys = changedKeysOfChangeSets();
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_TRUE(keys[0].count("dateModified") && keys[0].count("size") && keys[0].count(kItemCloudFileAssetKey))
      << "changed keys: " << keys[0].size();
  EXPECT_FALSE(keys[0].count("filename")) << "only what this request changed";
  reread(report, [](Item& item) {
    EXPECT_EQ(item.filename(), "Renamed.txt");
    EXPECT_TRUE(item.dateModified()->matchesToTheSecond(Date::fromUnixTime(1600000000)));
  });
}

}  // namespace
}  // namespace qlt
