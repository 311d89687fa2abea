// The text commands: notes, rich-text and plain-text files read, converted
// and appended to without a library.
#include "formats/editable_text_file.h"
#include "platform/files/file_path.h"
#include "platform/foundation/uniform_type.h"
#include "richtext/attachment_conversions.h"
#include "tools/fp_commands.h"
#include "tools/fp_output.h"
#include "util/hashtags.h"

namespace qlt::tool {

namespace {

const char* typeName(EditableTextFile::Type type) {
  switch (type) {
    case EditableTextFile::Type::Note: return "note";
    case EditableTextFile::Type::RichText: return "rich text";
    case EditableTextFile::Type::PlainText: return "plain text";
  }
  return "";
}

nlohmann::json describe(EditableTextFile& file) {
  nlohmann::json attachments = nlohmann::json::array();
  for (auto& [position, attachment] : file.richTextString().attachments())
    if (attachment->fileWrapper()) attachments.push_back(attachment->fileWrapper()->preferredFilename());
  std::string text = file.textString();
  nlohmann::json tags = nlohmann::json::array();
  for (const std::string& tag : uniqueTagNamesFromHashtags(text)) tags.push_back(tag);
  return {{"type", typeName(file.editableFileType())}, {"text", text}, {"attachments", attachments}, {"tags", tags}};
}

}  // namespace

int textReadCommand(const std::string& path) {
  Error error;
  auto file = EditableTextFile::withURL(path, &error);
  if (!file) {
    printError(error);
    return 1;
  }
  printLine(describe(*file));
  return 0;
}

int textConvertCommand(const std::string& source, const std::string& destination) {
  Error error;
  auto file = EditableTextFile::withURL(source, &error);
  if (!file) {
    printError(error);
    return 1;
  }
  std::string type = EditableTextFile::fileTypeOfURL(destination);
  std::unique_ptr<EditableTextFile> converted;
  if (type == kNoteType) {
    AttributedString text = file->richTextString();
    convertTextListsToChecklistAttachments(text);
    replaceFileAttachmentsInRange(text, {0, text.length()});
    NoteFile note;
    note.setNoteText(std::move(text));
    if (!note.saveToFileURL(destination, &error)) {
      printError(error);
      return 1;
    }
    printLine({{"written", destination}});
    return 0;
  }
  if (EditableTextFile::typeIsRichText(type)) {
    converted = EditableTextFile::richTextFileWithString("");
    converted->appendAttributedString(file->richTextString());
  } else if (EditableTextFile::canOpenFileOfType(type)) {
    std::u16string text = file->richTextString().text();
    std::erase(text, kAttachmentCharacter);
    converted = EditableTextFile::plainTextFileWithString(AttributedString(text).string());
  } else {
    printError(badArgument("Cannot convert to " + lastPathComponent(destination) +
                           ": use .qltnote, .rtf, .rtfd, .txt or .md"));
    return 1;
  }
  if (!converted->writeToURL(destination, &error)) {
    printError(error);
    return 1;
  }
  printLine({{"written", destination}});
  return 0;
}

int textAppendCommand(const std::string& path, const std::optional<std::string>& text,
                      const std::optional<std::string>& attachment) {
  Error error;
  auto file = EditableTextFile::withURL(path, &error);
  if (!file) {
    printError(error);
    return 1;
  }
  if (text) file->appendString(*text);
  if (attachment) {
    if (!file->isRichText()) {
      printError(badArgument("Plain-text files cannot hold attachments"));
      return 1;
    }
    const UniformType* type = UniformType::withFilenameExtension(pathExtension(*attachment));
    if (!file->appendAttachmentForFileURL(*attachment, type ? type->identifier() : std::string(), &error)) {
      printError(error);
      return 1;
    }
  }
  if (!file->writeToURL(path, &error)) {
    printError(error);
    return 1;
  }
  printLine(describe(*file));
  return 0;
}

}  // namespace qlt::tool
