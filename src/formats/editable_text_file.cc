#include "formats/editable_text_file.h"

#include "formats/text_encoding.h"
#include "platform/defaults/user_defaults.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "platform/foundation/uniform_type.h"
#include "platform/text/rtfd.h"
#include "richtext/file_attachment.h"
#include "util/filename_rules.h"
#include "util/hashtags.h"

namespace qlt {

namespace {

Error editableError(long code, const std::string& message) {
  return Error(kEditableTextFileErrorDomain, code, message);
}

bool conformsTo(const std::string& identifier, const std::string& to) {
  const UniformType* type = UniformType::withIdentifier(identifier);
  const UniformType* target = UniformType::withIdentifier(to);
  return type && target ? type->conformsTo(*target) : identifier == to;
}

}  // namespace

const std::vector<std::string>& EditableTextFile::allEditableFileTypes() {
  static const std::vector<std::string> types{kNoteType,
                                              UniformType::plainText().identifier(),
                                              UniformType::rtf().identifier(),
                                              UniformType::rtfd().identifier(),
                                              UniformType::markdown().identifier(),
                                              kPublicMarkdownType};
  return types;
}

const std::vector<std::string>& EditableTextFile::fileTypesThatSupportAttachments() {
  static const std::vector<std::string> types{kNoteType, UniformType::rtfd().identifier(),
                                              UniformType::rtf().identifier()};
  return types;
}

const std::vector<std::string>& EditableTextFile::fileTypesThatSupportAttachmentsWithoutCoercion() {
  static const std::vector<std::string> types{kNoteType, UniformType::rtfd().identifier()};
  return types;
}

PredicatePtr EditableTextFile::predicateForEditableTextItems() {
  ValueList types;
  for (const std::string& type : allEditableFileTypes()) types.emplace_back(type);
  return Predicate::withFormat("fileType IN %@", {Value(std::move(types))});
}

bool EditableTextFile::canOpenFileOfType(const std::string& typeIdentifier) {
  for (const std::string& type : allEditableFileTypes())
    if (conformsTo(typeIdentifier, type)) return true;
  return false;
}

bool EditableTextFile::typeIsRichText(const std::string& typeIdentifier) {
  return typeIdentifier == kNoteType || conformsTo(typeIdentifier, UniformType::rtfd().identifier()) ||
         conformsTo(typeIdentifier, UniformType::rtf().identifier());
}

bool EditableTextFile::typeCanHandleAttachments(const std::string& typeIdentifier, bool* requiresCoercion) {
  bool coercion = false, handles = true;
  if (typeIdentifier == kNoteType || typeIdentifier == UniformType::rtfd().identifier())
    coercion = false;
  else if (typeIdentifier == UniformType::rtf().identifier())
    coercion = true;
  else
    handles = false;
  if (requiresCoercion) *requiresCoercion = coercion;
  return handles;
}

std::string EditableTextFile::fileTypeOfURL(const std::string& path) {
  const UniformType* type = UniformType::withFilenameExtension(pathExtension(path));
  return type ? type->identifier() : std::string();
}

std::unique_ptr<EditableTextFile> EditableTextFile::richTextFileWithString(const std::string& text) {
  UserDefaults& defaults = UserDefaults::standard();
  double size = defaults.doubleForKey(kRichTextFontSizeDefaultsKey);
  if (size <= 0) size = 12;
  auto name = defaults.stringForKey(kRichTextFontNameDefaultsKey);
  Font font = name && !name->empty() ? Font(*name, size) : Font::userFont(size);
  std::unique_ptr<EditableTextFile> file(new EditableTextFile(Type::RichText));
  file->attributedString_ = AttributedString::fromUTF8(text, {{kFontAttributeName, font}});
  return file;
}

std::unique_ptr<EditableTextFile> EditableTextFile::plainTextFileWithString(const std::string& text) {
  std::unique_ptr<EditableTextFile> file(new EditableTextFile(Type::PlainText));
  file->plainText_ = text;
  file->encoding_ = StringEncoding::UTF8;
  return file;
}

std::unique_ptr<EditableTextFile> EditableTextFile::withURL(const std::string& path, Error* error) {
  std::string type = fileTypeOfURL(path);
  if (!canOpenFileOfType(type)) {
    setError(error, editableError(kEditableTextFileUnsupportedTypeErrorCode,
                                  localizedFormat("Cannot open file for automation: %@", lastPathComponent(path))));
    return nullptr;
  }
  if (conformsTo(type, kNoteType)) {
    std::unique_ptr<EditableTextFile> file(new EditableTextFile(Type::Note));
    file->noteFile_ = NoteFile::withFileURL(path, error);
    return file->noteFile_ ? std::move(file) : nullptr;
  }
  if (typeIsRichText(type)) {
    std::unique_ptr<EditableTextFile> file(new EditableTextFile(Type::RichText));
    std::optional<RTFReadResult> read;
    if (conformsTo(type, UniformType::rtfd().identifier())) {
      auto package = FileWrapper::readFromPath(path, error);
      if (package) read = readRTFD(*package, error);
    } else if (auto contents = readFile(path, error)) {
      read = readRTF(*contents, {}, error);
    }
    if (!read) return nullptr;
    file->attributedString_ = std::move(read->text);
    file->documentAttributes_ = std::move(read->documentAttributes);
    return file;
  }
  std::unique_ptr<EditableTextFile> file(new EditableTextFile(Type::PlainText));
  return file->readPlainText(path, error) ? std::move(file) : nullptr;
}

bool EditableTextFile::readPlainText(const std::string& path, Error* error) {
  auto contents = readFile(path, error);
  if (!contents) return false;
  auto decoded = decodeText(*contents);
  if (!decoded) {
    setError(error, editableError(kEditableTextFileUndecodableErrorCode, localizedString("Cannot open plain text file.")));
    return false;
  }
  plainText_ = std::move(decoded->text);
  encoding_ = decoded->encoding;
  return true;
}

NoteFile& EditableTextFile::noteFile() {
  if (!noteFile_) noteFile_ = std::make_unique<NoteFile>();
  return *noteFile_;
}

bool EditableTextFile::writeToURL(const std::string& path, Error* error) {
  switch (type_) {
    case Type::PlainText: return writeFileAtomically(path, encodeText(plainText_, encoding_), error);
    case Type::Note: return noteFile().saveToFileURL(path, error);
    case Type::RichText: {
      std::string extension = pathExtension(path);
      bool rtfd = extension == "rtfd", rtf = extension == "rtf";
      if (!rtfd && !rtf) {
        setError(error, editableError(kEditableTextFileUnsupportedTypeErrorCode,
                                      localizedFormat("Unsupported file type (%@).", extension)));
        return false;
      }
      DocumentAttributes attributes = documentAttributes_;
      attributes[kDocumentTypeDocumentAttribute] = rtfd ? kRTFDTextDocumentType : kRTFTextDocumentType;
      if (rtf) return writeFileAtomically(path, rtfFromAttributedString(attributedString_), error);
      auto package = rtfdFileWrapper(attributedString_, error);
      return package && package->writeToPath(path, true, error);
    }
  }
  setError(error, editableError(kEditableTextFileUnsupportedTypeErrorCode,
                                localizedFormat("Cannot save file for automation: %@", lastPathComponent(path))));
  return false;
}

void EditableTextFile::appendString(const std::string& text) {
  if (text.empty()) return;
  if (type_ == Type::PlainText) {
    plainText_ += text;
    return;
  }
  const AttributedString& base = type_ == Type::Note ? noteFile().noteText() : attributedString_;
  TextAttributes attributes = base.empty() ? TextAttributes() : base.attributesAt(base.length() - 1);
  attributes.erase(kAttachmentAttributeName);
  appendAttributedString(AttributedString::fromUTF8(text, attributes));
}

void EditableTextFile::appendAttributedString(const AttributedString& text) {
  if (text.empty()) return;
  switch (type_) {
    case Type::PlainText: plainText_ += text.string(); break;
    case Type::RichText: attributedString_.append(text); break;
    case Type::Note: {
      AttributedString note = noteFile().noteText();
      note.append(text);
      noteFile().setNoteText(std::move(note));
      break;
    }
  }
}

bool EditableTextFile::appendAttachmentForFileURL(const std::string& path, const std::string& typeIdentifier,
                                                  Error* error) {
  std::shared_ptr<FileWrapper> wrapper = FileWrapper::readFromPath(path, error);
  if (!wrapper) return false;
  wrapper->setPreferredFilename(lastPathComponent(path));
  TextAttachmentPointer attachment = FileAttachment::shouldUseForFileType(typeIdentifier)
                                         ? std::make_shared<FileAttachment>(wrapper)
                                         : std::make_shared<TextAttachment>(wrapper);
  attachment->setFileType(typeIdentifier);
  const AttributedString& base = type_ == Type::Note ? noteFile().noteText() : attributedString_;
  TextAttributes attributes = base.empty() ? TextAttributes() : base.attributesAt(base.length() - 1);
  attributes.erase(kAttachmentAttributeName);
  if (type_ == Type::PlainText) return true;
  appendAttributedString(AttributedString::withAttachment(attachment, attributes));
  return true;
}

std::string EditableTextFile::textString() {
  switch (type_) {
    case Type::PlainText: return plainText_;
    case Type::RichText: return attributedString_.string();
    case Type::Note: return noteFile().noteText().string();
  }
  return {};
}

AttributedString EditableTextFile::richTextString() {
  switch (type_) {
    case Type::PlainText: return AttributedString::fromUTF8(plainText_);
    case Type::RichText: return attributedString_;
    case Type::Note: return noteFile().noteTextSuitableForExport();
  }
  return {};
}

bool EditableTextFile::coerceFileToAcceptAttachments(const std::string& path, std::string* newPath, Error* error) {
  std::string type = fileTypeOfURL(path);
  bool requiresCoercion = false;
  if (!typeCanHandleAttachments(type, &requiresCoercion)) {
    log("File type %@ cannot be coerced.", type);
    setError(error, editableError(kEditableTextFileUnsupportedTypeErrorCode,
                                  localizedFormat("Unsupported file type (%@).", pathExtension(path))));
    return false;
  }
  if (!requiresCoercion) {
    if (newPath) *newPath = path;
    return true;
  }
  std::string directory = deletingLastPathComponent(path);
  std::string name = makeFilenameUniqueInDirectory(
      appendingPathExtension(deletingPathExtension(lastPathComponent(path)), "rtfd"), directory);
  std::string destination = appendingPathComponent(directory, name);
  if (!convertRTFToRTFD(path, destination, error)) return false;
  if (newPath) *newPath = destination;
  return true;
}

bool EditableTextFile::convertRTFToRTFD(const std::string& source, const std::string& destination, Error* error) {
  FileCoordinator coordinator;
  std::optional<RTFReadResult> read;
  Error readError;
  bool coordinated = coordinator.coordinateReading(source, FileCoordinator::kNoOptions, [&](const std::string& at) {
    if (auto contents = readFile(at, &readError)) read = readRTF(*contents, {}, &readError);
  }, &readError);
  if (!coordinated || !read) {
    log("Cannot open %@ for conversion: %@", source, readError.description());
    setError(error, readError);
    return false;
  }
  auto package = rtfdFileWrapper(read->text, error);
  bool written = false;
  Error writeError;
  coordinated = package && coordinator.coordinateWriting(
                               source, FileCoordinator::kForMoving, destination, FileCoordinator::kForReplacing,
                               [&](const std::string& from, const std::string& to) {
                                 written = package->writeToPath(to, true, &writeError) && removeItem(from, &writeError);
                               },
                               &writeError);
  if (!package) return false;
  if (!coordinated || !written) {
    log("Cannot write converted file: %@", writeError.description());
    setError(error, writeError);
    return false;
  }
  return true;
}

std::optional<std::set<std::string>> EditableTextFile::tagsFromHashtagsInFileURL(const std::string& path,
                                                                                 Error* error) {
  auto file = withURL(path, error);
  if (!file) return std::nullopt;
  return uniqueTagNamesFromHashtags(file->textString());
}

}  // namespace qlt
