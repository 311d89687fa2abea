// NoteFile: plain-text and HTML files turned into notes on import.
#include "formats/html_text.h"
#include "formats/note_file.h"
#include "formats/text_encoding.h"
#include "platform/defaults/user_defaults.h"
#include "platform/files/content_type.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/uniform_type.h"
#include "richtext/attachment_conversions.h"
#include "richtext/note_text_style.h"

namespace qlt {
namespace {

const UniformType* typeOf(const std::string& path) { return UniformType::withIdentifier(contentTypeOfItem(path)); }

}  // namespace

bool NoteFile::shouldConvertFileURL(const std::string& path) {
  const UniformType* type = typeOf(path);
  if (!type) return false;
  const UserDefaults& defaults = UserDefaults::standard();
  if (type->conformsTo(UniformType::html())) return defaults.boolForKey(kNoteConvertImportedHTMLFilesKey);
  if (type->conformsTo(UniformType::plainText())) return defaults.boolForKey(kNoteConvertImportedPlainTextFilesKey);
  return false;
}

std::optional<std::string> NoteFile::noteFileURLForTextFileAtURL(const std::string& path, Error* error) {
  std::optional<std::string> bytes = readFile(path, error);
  if (!bytes) return std::nullopt;
  std::optional<DecodedText> decoded = decodeText(*bytes);
  if (!decoded) {
    setError(error, Error(kCocoaErrorDomain, kCocoaFileReadCorruptFileError,
                          "The file “" + lastPathComponent(path) + "” is not text."));
    return std::nullopt;
  }
  const UniformType* type = typeOf(path);
  std::string text = type && type->conformsTo(UniformType::html()) ? plainTextFromHTML(decoded->text) : decoded->text;

  AttributedString noteText = AttributedString::fromUTF8(text, NoteTextStyle::bodyNoteTextStyle().attributes());
  convertTextListsToChecklistAttachments(noteText);
  NoteFile note;
  note.setNoteText(std::move(noteText));

  std::optional<std::string> directory = createTemporaryDirectory(error);
  if (!directory) return std::nullopt;
  std::string name = deletingPathExtension(lastPathComponent(path));
  if (name.empty() || name.starts_with('.')) name = newNoteName();
  std::string notePath = appendingPathComponent(*directory, appendingPathExtension(name, kNoteFileExtension));
  if (!note.saveToFileURL(notePath, error)) {
    (void)removeItem(*directory);
    return std::nullopt;
  }
  return notePath;
}

}  // namespace qlt
