#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "folder_fixture.h"
#include "formats/note_file.h"
#include "formats/url_components.h"
#include "formats/web_link_file.h"
#include "model/finder_tags.h"
#include "model/stationery.h"
#include "model/tag.h"
#include "platform/defaults/user_defaults.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/uniform_type.h"
#include "private_user_trash.h"
#include "store/library.h"

namespace qlt {
namespace {

class ItemCreationTest : public FolderFixture {
 protected:
  void SetUp() override {
    FolderFixture::SetUp();
    libraryPtr = std::dynamic_pointer_cast<Library>(libraryObject);
    outside = appendingPathComponent(scratch.path(), "outside");
    ASSERT_TRUE(createDirectory(outside, true));
    ASSERT_TRUE(createDirectory(*root->folderPath(), true));
  }

  std::string source(const std::string& name, const std::string& contents) {
    std::string path = appendingPathComponent(outside, name);
    EXPECT_TRUE(writeFileAtomically(path, contents));
    return path;
  }

  // Files in the root folder's directory and the import folder.
  std::vector<std::string> filesLeft() {
    std::vector<std::string> names;
    for (const std::string& directory : {*root->folderPath(), manager->currentImportFolderPath()})
      for (const std::string& name : contentsOfDirectory(directory).value_or(std::vector<std::string>()))
        names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
  }

  size_t insertedCount() { return context->insertedObjects().size(); }

  std::shared_ptr<Library> libraryPtr;
  std::string outside;
};

TEST_F(ItemCreationTest, ImportsCopyTheFileUnderAUniqueNameWithItsAttributes) {
  std::string report = source("Report.txt", "quarterly numbers");
  ASSERT_TRUE(setModificationTime(report, Date::fromUnixTime(1500000000).toTimespec()));
  ASSERT_TRUE(setFinderTagNames(report, {"Work", "Urgent"}));
  ASSERT_TRUE(UserDefaults::standard().setBool(true, kItemImportFinderTagsKey));

  Error error;
  auto first = Item::newItemWithFileURL(report, libraryPtr, root, &error);
  ASSERT_TRUE(first) << error.description();
  auto second = Item::newItemWithFileURL(report, libraryPtr, root, &error);
  ASSERT_TRUE(second) << error.description();
  EXPECT_EQ(first->filename(), "Report.txt");
  EXPECT_EQ(second->filename(), "Report 1.txt");
  EXPECT_EQ(readFile(*second->fileURL()).value_or(""), "quarterly numbers");
  EXPECT_TRUE(fileExists(report)) << "the source stays where it was";
  EXPECT_EQ(first->fileType(), "public.plain-text");
  EXPECT_EQ(*first->valueForKey("kind").string(), "Plain Text Document");
  EXPECT_EQ(*first->valueForKey("size").integer(), 17);
  EXPECT_TRUE(first->dateModified()->matchesToTheSecond(Date::fromUnixTime(1500000000)));
  EXPECT_EQ(first->objectsForKey("tags").size(), 2u);
  EXPECT_TRUE(Tag::existingTagWithName("Urgent", libraryObject));
  EXPECT_TRUE(first->objectsForKey("groups").size() == 1 && first->objectsForKey("groups").front() == libraryGroup);
  EXPECT_TRUE(context->save(&error)) << error.description();

  // Without the import default, tag names stay on the file only.
  ASSERT_TRUE(UserDefaults::standard().setBool(false, kItemImportFinderTagsKey));
  auto third = Item::newItemWithFileURL(report, libraryPtr, root, &error);
  ASSERT_TRUE(third);
  EXPECT_TRUE(third->objectsForKey("tags").empty());

  // A file already in the folder's directory keeps its name and place.
  std::string inPlace = appendingPathComponent(*root->folderPath(), "Dropped.txt");
  ASSERT_TRUE(writeFileAtomically(inPlace, "dropped"));
  auto adopted = Item::newItemWithFileURL(inPlace, libraryPtr, root, &error);
  ASSERT_TRUE(adopted);
  EXPECT_EQ(adopted->filename(), "Dropped.txt");
  EXPECT_EQ(readFile(inPlace).value_or(""), "dropped");

  // A file imported as mail gets the mail extension, hidden.
  auto mail = Item::newItemWithFileURLOfType(source("Mail.txt", "From: a"), &UniformType::emailMessage(), libraryPtr,
                                             root, &error);
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->filename(), "Mail.txt.eml");
  EXPECT_TRUE(mail->extensionHidden());
  auto plain = Item::newItemWithFileURLOfType(source("README", "x"), &UniformType::emailMessage(), libraryPtr, root);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->filename(), "README");
}

TEST_F(ItemCreationTest, RefusedSourcesAndFailedCopiesLeaveNothingBehind) {
  std::string target = source("target.txt", "x");
  std::string link = appendingPathComponent(outside, "link.txt");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  std::string fifo = appendingPathComponent(outside, "pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::string> before = filesLeft();
  size_t inserted = insertedCount();

  struct Case {
    std::string path;
    std::string domain;
    long code;
  };
  for (const Case& refused : std::vector<Case>{
           {link, kItemErrorDomain, kItemCannotBeSymbolicLinkErrorCode},
           {source(".hidden", "x"), kItemErrorDomain, kItemCannotBeHiddenErrorCode},
           {fifo, kCocoaErrorDomain, kCocoaFileReadUnknownError},
           {appendingPathComponent(outside, "missing.txt"), kCocoaErrorDomain, kCocoaFileNoSuchFileError},
           {"", kItemCreationErrorDomain, kItemCreationNoFileErrorCode},
       }) {
    Error error;
    EXPECT_FALSE(Item::newItemWithFileURL(refused.path, libraryPtr, root, &error)) << refused.path;
    EXPECT_EQ(error.domain(), refused.domain) << refused.path;
    EXPECT_EQ(error.code(), refused.code) << refused.path << ": " << error.description();
    EXPECT_FALSE(Item::newItemWithFileURL(refused.path, libraryPtr, root)) << "no error wanted, same answer";
  }
  EXPECT_EQ(insertedCount(), inserted);
  EXPECT_EQ(filesLeft(), before);

  // A stray file at the new item's place goes to the user's trash, not away.
  PrivateUserTrash userTrash;
  std::string stray = appendingPathComponent(*root->folderPath(), "New Note.qltnote");
  ASSERT_TRUE(writeFileAtomically(stray, "someone's"));
  Error error;
  auto note = Item::newNoteItemInLibrary(libraryPtr, root, &error);
  ASSERT_TRUE(note) << error.description();
  EXPECT_EQ(note->filename(), "New Note.qltnote");
  EXPECT_EQ(*note->fileURL(), stray);
  EXPECT_TRUE(isDirectory(stray)) << "the note package took the place";
  EXPECT_EQ(contentsOfDirectory(userTrash.files()).value_or(std::vector<std::string>()),
            std::vector<std::string>{"New Note.qltnote"});
}

TEST_F(ItemCreationTest, GivenFilenamesClashOrMakeFilelessItems) {
  auto existing = item(root, "Taken.txt");
  make(root, "Sub");
  Error error;
  EXPECT_FALSE(Item::newItemWithFileURLItemFilename(std::nullopt, "taken.TXT", libraryPtr, root, &error));
  EXPECT_TRUE(error.is(kItemErrorDomain, kItemFileExistsErrorCode));
  EXPECT_EQ(error.localizedDescription(), "An item named “taken.TXT” already exists in the same location.");
  EXPECT_FALSE(Item::newItemWithFileURLItemFilename(std::nullopt, "Sub", libraryPtr, root, &error));
  EXPECT_TRUE(error.is(kItemErrorDomain, kItemFolderExistsErrorCode));
  EXPECT_EQ(error.localizedDescription(), "A folder named “Sub” exists in the same location.");
  EXPECT_FALSE(Item::newItemWithFileURLItemFilename(std::nullopt, "", libraryPtr, root, &error));
  EXPECT_TRUE(error.is(kItemCreationErrorDomain, kItemCreationNoFilenameErrorCode));

  auto fileless = Item::newItemWithFileURLItemFilename(std::nullopt, "x", libraryPtr, root, &error);
  ASSERT_TRUE(fileless) << error.description();
  EXPECT_EQ(fileless->filename(), "x");
  EXPECT_FALSE(fileless->fileExists());
  EXPECT_FALSE(fileless->valueForKey("dateDeleted").date());
  auto trashed = Item::newItemWithFileURLItemFilename(std::nullopt, "y", libraryPtr, trash, &error);
  ASSERT_TRUE(trashed);
  EXPECT_TRUE(trashed->valueForKey("dateDeleted").date());

  auto copied = Item::newItemWithFileURLItemFilename(source("in.bin", "bytes"), "Copied.bin", libraryPtr, trash, &error);
  ASSERT_TRUE(copied) << error.description();
  EXPECT_EQ(readFile(*copied->fileURL()).value_or(""), "bytes");
  EXPECT_TRUE(copied->valueForKey("dateDeleted").date()) << "made in the trash";
  EXPECT_TRUE(copied->objectsForKey("groups").empty()) << "outside the library group";
  EXPECT_TRUE(context->save(&error)) << error.description();
}

TEST_F(ItemCreationTest, WebLinksNotesAndTypedTextWriteTheirFiles) {
  auto url = URLComponents::fromString("https://example.com/page");
  ASSERT_TRUE(url);
  Error error;
  auto unnamed = Item::newWebLinkItemWithURL(*url, "", libraryPtr, root, &error);
  ASSERT_TRUE(unnamed) << error.description();
  std::optional<WebLinkFile> written = WebLinkFile::withFileURL(*unnamed->fileURL());
  ASSERT_TRUE(written && written->URL());
  EXPECT_EQ(written->URL()->string(), "https://example.com/page");
  EXPECT_TRUE(written->renameOnFirstLoad());
  EXPECT_EQ(unnamed->sourceURL().value_or(""), "https://example.com/page");
  EXPECT_TRUE(unnamed->extensionHidden());
  auto named = Item::newWebLinkItemWithURL(*url, "Site", libraryPtr, root, &error);
  auto suffixed = Item::newWebLinkItemWithURL(*url, "Other.webloc", libraryPtr, root, &error);
  ASSERT_TRUE(named && suffixed);
  EXPECT_EQ(named->filename(), "Site.webloc");
  EXPECT_EQ(suffixed->filename(), "Other.webloc");
  EXPECT_FALSE(WebLinkFile::withFileURL(*named->fileURL())->renameOnFirstLoad());

  auto groceries = Item::newNoteItemFromString("1. Groceries\nmilk", libraryPtr, root, &error);
  ASSERT_TRUE(groceries) << error.description();
  EXPECT_EQ(groceries->filename(), "Groceries.qltnote");
  EXPECT_EQ(groceries->fileType(), kNoteType);
  auto note = NoteFile::withFileURL(*groceries->fileURL());
  ASSERT_TRUE(note);
  EXPECT_NE(note->noteText().string().find("milk"), std::string::npos);
  auto empty = Item::newNoteItemFromString("", libraryPtr, root, &error);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->filename(), "New Note.qltnote");

  auto text = Item::newItemWithType("public.plain-text", "Shopping list\nbread", libraryPtr, root, &error);
  ASSERT_TRUE(text) << error.description();
  EXPECT_EQ(text->filename(), "Shopping list.txt");
  EXPECT_EQ(readFile(*text->fileURL()).value_or(""), "Shopping list\nbread");
  auto rich = Item::newItemWithType("public.rtf", "Styled", libraryPtr, root, &error);
  ASSERT_TRUE(rich);
  EXPECT_EQ(pathExtension(rich->filename()), "rtf");
  EXPECT_EQ(readFile(*rich->fileURL()).value_or("").rfind("{\\rtf1", 0), 0u);
  error = Error();
  EXPECT_FALSE(Item::newItemWithType("public.jpeg", "not text", libraryPtr, root, &error));
  EXPECT_TRUE(error.domain().empty()) << "no error for a type that holds no text";

  // Plain text converted on import becomes a note; the temporary note goes.
  ASSERT_TRUE(UserDefaults::standard().setBool(true, kNoteConvertImportedPlainTextFilesKey));
  auto converted = Item::newItemWithFileURLConvertToNoteIfNecessary(source("Plan.txt", "step one"), true, libraryPtr,
                                                                    root, &error);
  ASSERT_TRUE(converted) << error.description();
  EXPECT_EQ(converted->filename(), "Plan.qltnote");
  EXPECT_TRUE(context->save(&error)) << error.description();
}

TEST_F(ItemCreationTest, GroupsThatTakeItemsGetThemAndOthersLeaveThemInTheRoot) {
  auto bundle = std::dynamic_pointer_cast<Group>(context->insertNewObject(kBundleEntityName));
  bundle->setObjectForKey("library", libraryObject);
  auto recents = std::dynamic_pointer_cast<Group>(libraryObject->objectForKey("recentsGroup"));
  ASSERT_TRUE(bundle);
  Error error;
  auto inBundle = Item::newNoteItemInLibrary(libraryPtr, bundle, &error);
  ASSERT_TRUE(inBundle) << error.description();
  EXPECT_EQ(inBundle->folder(), root);
  auto groups = inBundle->objectsForKey("groups");
  EXPECT_NE(std::find(groups.begin(), groups.end(), bundle), groups.end());
  if (recents) {
    auto notInRecents = Item::newNoteItemInLibrary(libraryPtr, recents, &error);
    ASSERT_TRUE(notInRecents);
    groups = notInRecents->objectsForKey("groups");
    EXPECT_EQ(std::find(groups.begin(), groups.end(), recents), groups.end());
    EXPECT_EQ(notInRecents->folder(), root);
  }
  // addToGroup moves an item into a folder group.
  Folder::Ptr projects = make(root, "Projects");
  ASSERT_TRUE(inBundle->addToGroup(projects, &error)) << error.description();
  EXPECT_EQ(inBundle->folder(), projects);
  EXPECT_TRUE(isDirectory(*inBundle->fileURL()));
  EXPECT_TRUE(context->save(&error)) << error.description();
}

TEST_F(ItemCreationTest, StationeryIsCopiedAndTakesTextAndANameFromIt) {
  auto letter = std::dynamic_pointer_cast<Stationery>(context->insertNewObject("Stationery"));
  letter->setValueForKey("filename", "Letter.txt");
  letter->setValueForKey("name", "Letter");
  letter->setValueForKey("extensionHidden", true);
  letter->setObjectForKey("library", libraryObject);
  ASSERT_TRUE(createDirectory(deletingLastPathComponent(*letter->fileURL()), true));
  ASSERT_TRUE(writeFileAtomically(*letter->fileURL(), "Dear reader,\n"));
  ASSERT_TRUE(setModificationTime(*letter->fileURL(), Date::fromUnixTime(1000000000).toTimespec()));

  Error error;
  auto plain = Item::newItemWithStationery(letter, libraryPtr, root, &error);
  ASSERT_TRUE(plain) << error.description();
  EXPECT_EQ(plain->filename(), "New Letter.txt");
  EXPECT_TRUE(plain->extensionHidden());
  EXPECT_EQ(plain->objectForKey("stationery"), letter);
  EXPECT_EQ(readFile(*plain->fileURL()).value_or(""), "Dear reader,\n");
  EXPECT_GT(attributesOfItem(*plain->fileURL())->modificationDate().timeIntervalSince1970(), 1500000000)
      << "dated now, not as the template";

  auto withText = Item::newItemWithStationery(letter, std::string("Thanks for the tea\nsee you"), libraryPtr, root, &error);
  ASSERT_TRUE(withText) << error.description();
  EXPECT_EQ(withText->filename(), "Thanks for the tea.txt") << "named after the text";
  EXPECT_EQ(readFile(*withText->fileURL()).value_or(""), "Dear reader,\nThanks for the tea\nsee you");

  ASSERT_TRUE(UserDefaults::standard().setInteger(2, kAutoRenameStationeryKey));
  auto kept = Item::newItemWithStationery(letter, std::string("Another"), libraryPtr, root, &error);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->filename(), "New Letter 1.txt");

  // Stationery whose file is gone makes nothing and leaves nothing.
  std::vector<std::string> before = filesLeft();
  ASSERT_TRUE(removeItem(*letter->fileURL()));
  EXPECT_FALSE(Item::newItemWithStationery(letter, std::string("x"), libraryPtr, root, &error));
  EXPECT_EQ(filesLeft(), before);
  EXPECT_TRUE(context->save(&error)) << error.description();
}

}  // namespace
}  // namespace qlt
