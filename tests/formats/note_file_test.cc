#include "formats/note_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <random>

#include "platform/files/file_attributes.h"
#include "platform/files/file_system.h"
#include "platform/foundation/property_list_serialization.h"
#include "platform/text/rtfd.h"
#include "richtext/checklist_text_attachment.h"
#include "richtext/divider_text_attachment.h"
#include "richtext/file_attachment.h"
#include "support/attributed_string_description.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

std::shared_ptr<FileWrapper> file(const std::string& name, std::string contents) {
  std::shared_ptr<FileWrapper> wrapper = FileWrapper::regularFile(std::move(contents));
  wrapper->setPreferredFilename(name);
  return wrapper;
}

// Every attribute kind, checklists on and off, a divider, an image, a PDF
// and a zip file.
AttributedString fullNote() {
  Font body = Font::withFamily("Helvetica Neue", 12);
  ParagraphStyle indented;
  indented.headIndent = 20;
  indented.alignment = TextAlignment::Justified;
  AttributedString text;
  text.appendText(u"Title\n", {{kFontAttributeName, body.withTraits(true, false).withSize(17)},
                               {"QLTNoteTextStyleIdentifier", std::string("QLTNoteStyleIdentifierTitle")}});
  text.appendText(u"Coloured ", {{kFontAttributeName, body}, {kForegroundColorAttributeName, Color::rgb(0.2, 0.4, 0.6)}});
  text.appendText(u"highlighted ", {{kFontAttributeName, body}, {kHighlightTextAttributeName, true},
                                    {kBackgroundColorAttributeName, Color::rgb(1, 1, 0)}});
  text.appendText(u"underlined struck ", {{kFontAttributeName, body}, {kUnderlineStyleAttributeName, int64_t(1)},
                                          {kStrikethroughStyleAttributeName, int64_t(2)}});
  text.appendText(u"link\n", {{kFontAttributeName, body}, {kLinkAttributeName, std::string("quillet://item/1")},
                              {kParagraphStyleAttributeName, indented}});
  text.appendText(u"standard colour\n", {{kFontAttributeName, body}, {kForegroundColorAttributeName, Color::textColor()}});
  text.append(ChecklistTextAttachment(true).attributedString());
  text.appendText(u"done\n", {{kFontAttributeName, body}});
  text.append(ChecklistTextAttachment(false).attributedString());
  text.appendText(u"open\n", {{kFontAttributeName, body}});
  text.append(AttributedString::withAttachment(std::make_shared<DividerTextAttachment>()));
  text.appendText(u"\n", {{kFontAttributeName, body}});
  text.append(AttributedString::withAttachment(std::make_shared<TextAttachment>(file("image.png", "PNG"))));
  text.append(AttributedString::withAttachment(std::make_shared<TextAttachment>(file("paper.pdf", "%PDF-1.4"))));
  text.append(AttributedString::withAttachment(std::make_shared<FileAttachment>(file("files.zip", "PK\3\4"))));
  text.appendText(u"\nend", {{kFontAttributeName, body}});
  return text;
}

TEST(NoteFileTest, ANoteWithEveryKindOfContentSurvivesWriteAndRead) {
  ScratchDirectory scratch;
  NoteFile note;
  note.setNoteText(fullNote());
  note.setShowSmallImages(true);
  note.setBackgroundColor(Color::rgb(0.8, 0.9, 1.0));
  std::optional<PropertyList> drawings = PropertyListDictionary{{"key", Bytes{1, 2}}};
  note.setDrawingDataByAttachmentKey(drawings);
  std::string path = scratch.path("Note.qltnote");
  Error error;
  ASSERT_TRUE(note.saveToFileURL(path, &error)) << error.description();
  for (const char* entry : {"TXT.rtf", "NoteText", "NoteAttributes", "image.png", "paper.pdf", "files.zip"})
    EXPECT_TRUE(fileExists(path + "/" + entry)) << entry;

  auto read = NoteFile::withFileURL(path, &error);
  ASSERT_TRUE(read) << error.description();
  EXPECT_EQ(testing::describe(read->noteText()), testing::describe(note.noteText()));
  EXPECT_TRUE(read->showSmallImages());
  EXPECT_TRUE(read->backgroundColor()->isApproximatelyEqual(Color::rgb(0.8, 0.9, 1.0)));
  EXPECT_EQ(read->drawingDataByAttachmentKey(), note.drawingDataByAttachmentKey());
  EXPECT_EQ(read->fileAttachments().size(), 3u);

  auto rtfd = FileWrapper::readFromPath(path);
  auto exported = readRTFD(*rtfd, &error);
  ASSERT_TRUE(exported) << error.description();
  EXPECT_EQ(exported->text.string(), note.noteTextSuitableForExport().string());
  EXPECT_NE(exported->text.string().find("\t\u2713\tdone\n\t\u25E6\topen\n***\n"), std::string::npos);
}

TEST(NoteFileTest, PackagesKeepAttachmentsWithTheSameNameApartAndDividersInPlace) {
  NoteFile note;
  AttributedString text = AttributedString::fromUTF8("a");
  text.append(AttributedString::withAttachment(std::make_shared<TextAttachment>(file("image.png", "one"))));
  text.append(DividerTextAttachment().attributedString());
  text.append(AttributedString::withAttachment(std::make_shared<TextAttachment>(file("image.png", "two"))));
  text.append(DividerTextAttachment().attributedString());
  text.append(AttributedString::withAttachment(std::make_shared<TextAttachment>(file("song.mp3", "ID3"))));
  text.append(AttributedString::fromUTF8("b", {{"SomethingPrivate", true}, {kFontAttributeName, Font("Menlo", 9)}}));
  note.setNoteText(text);
  Error error;
  auto package = note.fileWrapper(&error);
  ASSERT_TRUE(package) << error.description();
  EXPECT_EQ(package->child("image.png")->regularFileContents(), "one");
  std::string renamed;
  for (const auto& [name, child] : package->children())
    if (name.size() == 40 && name.ends_with(".png")) renamed = name;
  ASSERT_FALSE(renamed.empty());
  EXPECT_EQ(package->child(renamed)->regularFileContents(), "two");
  auto attributes = parsePropertyList(Bytes(package->child("NoteAttributes")->regularFileContents().begin(),
                                            package->child("NoteAttributes")->regularFileContents().end()));
  ASSERT_TRUE(attributes);
  EXPECT_EQ(*attributes->find("dividerRanges"), PropertyList(PropertyListArray{"{3, 3}", "{9, 3}"}));

  auto read = NoteFile::withFileWrapper(*package, &error);
  ASSERT_TRUE(read) << error.description();
  EXPECT_EQ(read->noteText().string(), text.string());
  auto attachments = read->noteText().attachments();
  ASSERT_EQ(attachments.size(), 5u);
  EXPECT_EQ(attachments[0].second->fileWrapper()->regularFileContents(), "one");
  EXPECT_TRUE(std::dynamic_pointer_cast<DividerTextAttachment>(attachments[1].second));
  EXPECT_EQ(attachments[2].second->fileWrapper()->regularFileContents(), "two");
  EXPECT_TRUE(std::dynamic_pointer_cast<FileAttachment>(attachments[4].second)) << "audio becomes a file attachment";
  const TextAttributes& last = read->noteText().attributesAt(read->noteText().length() - 1);
  EXPECT_FALSE(last.count("SomethingPrivate"));
  EXPECT_TRUE(last.count(kFontAttributeName));
}

TEST(NoteFileTest, BackgroundColoursFollowTheSystemForWhiteAndBlack) {
  NoteFile fresh;
  auto package = fresh.fileWrapper();
  ASSERT_TRUE(package);
  auto read = NoteFile::withFileWrapper(*package);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->noteText().length(), 0u);
  EXPECT_FALSE(read->showSmallImages());
  EXPECT_TRUE(read->backgroundColor()->isApproximatelyEqual(NoteFile::defaultBackgroundColor()));

  for (Color colour : {Color::white(), Color::black(), Color::textBackgroundColor()}) {
    NoteFile note;
    note.setBackgroundColor(colour);
    AttributedString text = AttributedString::fromUTF8("white behind", {{kBackgroundColorAttributeName, Color::white()}});
    note.setNoteText(text);
    auto copy = NoteFile::withFileWrapper(*note.fileWrapper());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->backgroundColor(), Color::textBackgroundColor());
    EXPECT_FALSE(copy->noteText().attributeAt(kBackgroundColorAttributeName, 0));
  }
}

TEST(NoteFileTest, ALostNoteTextIsRecoveredFromTheRTFDPart) {
  ScratchDirectory scratch;
  NoteFile note;
  AttributedString text = AttributedString::fromUTF8("Recovered text ");
  text.append(AttributedString::withAttachment(std::make_shared<TextAttachment>(file("files.zip", "PK"))));
  note.setNoteText(text);
  std::string path = scratch.path("Lost.qltnote");
  ASSERT_TRUE(note.saveToFileURL(path));
  ASSERT_TRUE(removeItem(path + "/NoteText"));

  Error error;
  auto package = FileWrapper::readFromPath(path);
  EXPECT_FALSE(NoteFile::withFileWrapper(*package, &error));
  EXPECT_TRUE(error.is(kNoteFileErrorDomain, kNoteFileRecoverFromRTFDErrorCode));
  EXPECT_EQ(error.localizedDescription(), "The note file could not be read.");

  auto recovered = NoteFile::withFileURL(path, &error);
  ASSERT_TRUE(recovered) << error.description();
  EXPECT_EQ(recovered->noteText().string(), "Recovered text \uFFFC");
  auto attachment = recovered->noteText().attachments().at(0).second;
  EXPECT_TRUE(std::dynamic_pointer_cast<FileAttachment>(attachment));
  EXPECT_EQ(attachment->fileWrapper()->regularFileContents(), "PK");

  ASSERT_TRUE(writeFileAtomically(path + "/NoteText", "garbage"));
  ASSERT_TRUE(writeFileAtomically(path + "/TXT.rtf", "not rtf"));
  EXPECT_FALSE(NoteFile::withFileURL(path, &error));
  EXPECT_TRUE(error.is(kNoteFileErrorDomain, kNoteFileInvalidFormatErrorCode));
  EXPECT_EQ(error.localizedDescription(), "File is not a valid note file.");
  ASSERT_TRUE(error.underlyingError());
}

TEST(NoteFileTest, BadPackagesFailCleanly) {
  ScratchDirectory scratch;
  Error error;
  ASSERT_TRUE(writeFileAtomically(scratch.path("Plain.qltnote"), "text"));
  EXPECT_FALSE(NoteFile::withFileURL(scratch.path("Plain.qltnote"), &error));
  EXPECT_TRUE(error.is(kNoteFileErrorDomain, kNoteFileInvalidFormatErrorCode));
  EXPECT_EQ(error.localizedDescription(), "Note file is not a file package.");

  auto empty = FileWrapper::directory();
  auto read = NoteFile::withFileWrapper(*empty, &error);
  ASSERT_TRUE(read) << "a package without note text or RTF is an empty note";
  EXPECT_TRUE(read->noteText().empty());

  auto undecodable = FileWrapper::directory();
  ASSERT_TRUE(undecodable->addChild("NoteText", FileWrapper::regularFile("bplist00 nonsense")));
  EXPECT_FALSE(NoteFile::withFileWrapper(*undecodable, &error));
  EXPECT_EQ(error.domain(), kCocoaErrorDomain);

  // Links inside a package that point outside it are not followed, and the
  // entries the archived text names must be direct children.
  std::string package = scratch.path("Hostile.qltnote");
  NoteFile note;
  AttributedString text = AttributedString::withAttachment(
      std::make_shared<TextAttachment>(file("secret.txt", "inside")));
  note.setNoteText(text);
  ASSERT_TRUE(note.saveToFileURL(package));
  ASSERT_TRUE(writeFileAtomically(scratch.path("outside.txt"), "outside"));
  ASSERT_TRUE(removeItem(package + "/secret.txt"));
  ASSERT_EQ(::symlink("../outside.txt", (package + "/secret.txt").c_str()), 0);
  auto hostile = NoteFile::withFileURL(package, &error);
  ASSERT_TRUE(hostile) << error.description();
  auto attachment = hostile->noteText().attachments().at(0).second;
  EXPECT_NE(attachment->fileWrapper()->regularFileContents(), "outside");
  ASSERT_TRUE(hostile->saveToFileURL(scratch.path("Copy.qltnote"), &error)) << error.description();
  EXPECT_EQ(*readFile(scratch.path("outside.txt")), "outside");
}

TEST(NoteFileTest, SurvivesRandomMutationsOfItsPackage) {
  NoteFile note;
  note.setNoteText(fullNote());
  auto valid = note.fileWrapper();
  ASSERT_TRUE(valid);
  std::mt19937 random(7171);
  for (int iteration = 0; iteration < 200; ++iteration) {
    auto package = copyFileWrapper(*valid);
    std::vector<std::string> names;
    for (const auto& [name, child] : package->children()) names.push_back(name);
    const std::string& victim = names[random() % names.size()];
    std::string contents = package->child(victim)->regularFileContents();
    if (random() % 5 == 0) {
      package->removeChild(victim);
    } else {
      for (int edits = 1 + random() % 4; edits > 0 && !contents.empty(); --edits) {
        size_t at = random() % contents.size();
        switch (random() % 3) {
          case 0: contents[at] = static_cast<char>(random()); break;
          case 1: contents.resize(at); break;
          case 2: contents.insert(at, 1, "{}\\"[random() % 3]); break;
        }
      }
      package->removeChild(victim);
      ASSERT_TRUE(package->addChild(victim, FileWrapper::regularFile(contents)));
    }
    Error error;
    if (auto read = NoteFile::withFileWrapper(*package, &error)) (void)read->fileWrapper();  // must not crash
  }
}

}  // namespace
}  // namespace qlt
