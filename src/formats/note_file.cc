#include "formats/note_file.h"

#include <map>

#include "platform/files/file_attributes.h"
#include "platform/files/file_path.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "platform/foundation/property_list_serialization.h"
#include "platform/foundation/uniform_type.h"
#include "platform/foundation/uuid.h"
#include "platform/text/rtfd.h"
#include "platform/text/text_archiving.h"
#include "richtext/attachment_conversions.h"
#include "richtext/checklist_text_attachment.h"
#include "richtext/divider_text_attachment.h"
#include "richtext/file_attachment.h"
#include "richtext/note_text_style.h"
#include "richtext/rich_text_classes.h"

namespace qlt {

namespace {

constexpr const char* kNoteTextEntry = "NoteText";
constexpr const char* kNoteAttributesEntry = "NoteAttributes";

bool isReservedName(const std::string& name) {
  return name == kNoteTextEntry || name == kNoteAttributesEntry || name == kRTFDTextFileName;
}

template <class T>
bool isA(const TextAttachmentPointer& attachment) {
  return dynamic_cast<const T*>(attachment.get()) != nullptr;
}

Error noteFileError(long code, const std::string& message) {
  return Error(kNoteFileErrorDomain, code, localizedString(message));
}

std::shared_ptr<FileWrapper> placeholderFor(const FileWrapper& file, const std::string& name) {
  std::shared_ptr<FileWrapper> placeholder = FileWrapper::regularFile({});
  placeholder->attributes() = file.attributes();
  placeholder->setPreferredFilename(name);
  return placeholder;
}

}  // namespace

NoteFile::NoteFile()
    : backgroundColor_(defaultBackgroundColor()),
      documentAttributes_{{kDocumentTypeDocumentAttribute, kRTFDTextDocumentType}} {}

PropertyListDictionary NoteFile::defaultPreferences() {
  return {{kNoteConvertImportedHTMLFilesKey, true}, {kNoteConvertImportedPlainTextFilesKey, true}};
}

std::string NoteFile::newNoteName() { return localizedString("New Note"); }

std::string NoteFile::newNoteFileName() { return appendingPathExtension(newNoteName(), kNoteFileExtension); }

Color NoteFile::defaultBackgroundColor() { return Color::rgb(255 / 255.0, 251 / 255.0, 235 / 255.0); }

const std::set<std::string>& NoteFile::allowedAttributeNames() {
  static const std::set<std::string> names{
      kHighlightTextAttributeName,      kNoteTextStyleIdentifierKey,      kFontAttributeName,
      kParagraphStyleAttributeName,     kForegroundColorAttributeName,    kBackgroundColorAttributeName,
      kLigatureAttributeName,           kKernAttributeName,               kStrikethroughStyleAttributeName,
      kUnderlineStyleAttributeName,     kStrokeColorAttributeName,        kStrokeWidthAttributeName,
      kShadowAttributeName,             kTextEffectAttributeName,         kAttachmentAttributeName,
      kLinkAttributeName,               kBaselineOffsetAttributeName,     kUnderlineColorAttributeName,
      kStrikethroughColorAttributeName, kObliquenessAttributeName,        kExpansionAttributeName,
      kWritingDirectionAttributeName,   kVerticalGlyphFormAttributeName,  kCursorAttributeName,
      kToolTipAttributeName,            kMarkedClauseSegmentAttributeName, kSuperscriptAttributeName,
      kGlyphInfoAttributeName,          kTrackingAttributeName};
  return names;
}

std::optional<Color> NoteFile::backgroundColor() const {
  if (backgroundColor_ && (backgroundColor_->isWhite() || backgroundColor_->isBlack()))
    return Color::textBackgroundColor();
  return backgroundColor_;
}

AttributedString NoteFile::noteTextSuitableForExport() const {
  AttributedString text = noteText_;
  convertChecklistAttachmentsToTextLists(text);
  convertDividersToText(text);
  text.changeEveryRun([](TextAttributes& attributes) {
    auto found = attributes.find(kForegroundColorAttributeName);
    auto color = found == attributes.end() ? nullptr : std::get_if<Color>(&found->second);
    if (!color || !color->isApproximatelyEqual(Color::textColor())) return false;
    found->second = Color::black();
    return true;
  });
  return text;
}

std::vector<std::shared_ptr<FileWrapper>> NoteFile::fileAttachments() const {
  std::vector<std::shared_ptr<FileWrapper>> files;
  for (auto& [position, attachment] : noteText_.attachments())
    if (!isA<ChecklistTextAttachment>(attachment) && !isA<DividerTextAttachment>(attachment) &&
        attachment->fileWrapper())
      files.push_back(attachment->fileWrapper());
  return files;
}

std::unique_ptr<FileWrapper> NoteFile::fileWrapper(Error* error) const {
  registerRichTextClasses();
  AttributedString text = noteText_;

  // Attribute cleaning.
  text.changeEveryRun([](TextAttributes& attributes) {
    return std::erase_if(attributes, [](const auto& entry) { return !allowedAttributeNames().count(entry.first); }) > 0;
  });

  // Attachments: dividers become "***", files become placeholders named
  // after their entry in the package.
  std::map<std::string, std::shared_ptr<FileWrapper>> files;
  std::map<const TextAttachment*, std::string> namesByAttachment;
  std::vector<TextRange> dividerRanges;
  size_t shift = 0;
  for (auto& [originalPosition, attachment] : text.attachments()) {
    size_t position = originalPosition + shift;
    if (isA<ChecklistTextAttachment>(attachment)) continue;
    if (isA<DividerTextAttachment>(attachment)) {
      AttributedString replacement = DividerTextAttachment::replacementString();
      text.replaceCharacters({position, 1}, replacement);
      dividerRanges.push_back({position, replacement.length()});
      shift += replacement.length() - 1;
      continue;
    }
    const std::shared_ptr<FileWrapper>& file = attachment->fileWrapper();
    if (!file || file->preferredFilename().empty()) continue;
    std::string name = file->preferredFilename();
    std::shared_ptr<FileWrapper> stored = file;
    if (files.count(name) || isReservedName(name) || !isValidFilename(name)) {
      std::string extension = pathExtension(name);
      name = newUUIDString() + (extension.empty() ? "" : "." + extension);
      stored = copyFileWrapper(*file);
      stored->setPreferredFilename(name);
    }
    files[name] = stored;
    namesByAttachment[attachment.get()] = name;
    auto placeholder = attachment->newOfSameClass();
    placeholder->setFileWrapper(placeholderFor(*file, name));
    if (auto fileAttachment = std::dynamic_pointer_cast<FileAttachment>(attachment))
      std::static_pointer_cast<FileAttachment>(placeholder)
          ->setConvertToInPlaceOnMac(fileAttachment->convertToInPlaceOnMac());
    text.addAttribute(kAttachmentAttributeName, placeholder, {position, 1});
  }

  auto package = rtfdFileWrapper(noteTextSuitableForExport(), error, [&](const TextAttachment& attachment) {
    auto found = namesByAttachment.find(&attachment);
    return found == namesByAttachment.end() ? std::string() : found->second;
  });
  if (!package) return nullptr;

  std::vector<TextRange> highlightRanges;
  text.enumerateAttribute(kHighlightTextAttributeName, {0, text.length()},
                          [&](const AttributeValue* value, TextRange range) {
                            auto on = value ? std::get_if<bool>(value) : nullptr;
                            if (on && *on) highlightRanges.push_back(range);
                          });
  convertFromDynamicColors(text);

  auto archive = archivedAttributedString(text, false, error);
  if (!archive) return nullptr;
  std::map<std::string, std::unique_ptr<FileWrapper>> entries;
  for (auto& [name, file] : files) entries[name] = copyFileWrapper(*file);
  entries[kNoteTextEntry] = FileWrapper::regularFile(std::string(archive->begin(), archive->end()));
  if (auto attributes = serializePropertyList(attributesPropertyList(dividerRanges, highlightRanges),
                                              PropertyListFormat::Binary))
    entries[kNoteAttributesEntry] = FileWrapper::regularFile(std::string(attributes->begin(), attributes->end()));
  for (auto& [name, entry] : entries) {
    entry->setPreferredFilename(name);
    package->removeChild(name);
    if (!package->addChild(name, std::move(entry), error)) return nullptr;
  }
  return package;
}

PropertyList NoteFile::attributesPropertyList(const std::vector<TextRange>& dividerRanges,
                                              const std::vector<TextRange>& highlightRanges) const {
  PropertyListArray dividers, highlights;
  for (TextRange range : dividerRanges) dividers.emplace_back(stringFromRange(range));
  for (TextRange range : highlightRanges) highlights.emplace_back(stringFromRange(range));
  PropertyListDictionary attributes{{"showSmallImages", showSmallImages_},
                                    {"dividerRanges", std::move(dividers)},
                                    {"highlightRanges", std::move(highlights)}};
  if (drawingData_) attributes["drawingsData"] = *drawingData_;
  if (backgroundColor_) attributes["backgroundColor"] = backgroundColor_->fixed().propertyListRepresentation();
  return attributes;
}

bool NoteFile::saveToFileURL(const std::string& path, Error* error) const {
  auto previous = attributesOfItem(path);
  auto package = fileWrapper(error);
  if (!package || !package->writeToPath(path, true, error)) return false;
  if (previous) {
    (void)setExtensionHidden(path, previous->extensionHidden);
    (void)setCreationTime(path, previous->creationTime);
  }
  return true;
}

void NoteFile::readAttributes(const FileWrapper& entry, std::vector<TextRange>& dividerRanges) {
  if (!entry.isRegularFile() || entry.regularFileContents().empty()) return;
  const std::string& bytes = entry.regularFileContents();
  auto list = parsePropertyList(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (!list || !list->isDictionary()) return;
  const PropertyList* small = list->find("showSmallImages");
  showSmallImages_ = small && small->boolValue();
  if (const PropertyList* color = list->find("backgroundColor"))
    if (auto value = Color::fromPropertyListRepresentation(*color)) backgroundColor_ = value;
  dividerRanges.clear();
  if (const PropertyList* ranges = list->find("dividerRanges"); ranges && ranges->array())
    for (const PropertyList& range : *ranges->array())
      if (auto parsed = range.string() ? rangeFromString(*range.string()) : std::nullopt)
        dividerRanges.push_back(*parsed);
  if (const PropertyList* drawings = list->find("drawingsData")) drawingData_ = *drawings;
}

bool NoteFile::readFileWrapper(const FileWrapper& wrapper, Error* error) {
  registerRichTextClasses();
  if (!wrapper.isDirectory()) {
    setError(error, noteFileError(kNoteFileInvalidFormatErrorCode, "Note file is not a file package."));
    return false;
  }
  std::optional<AttributedString> text = AttributedString();
  std::optional<Error> decodingError;
  bool noteTextFound = false;
  std::vector<TextRange> dividerRanges;
  std::set<std::string> others;
  for (const auto& [name, entry] : wrapper.children()) {
    if (name == kNoteTextEntry) {
      noteTextFound = true;
      if (!entry->isRegularFile() || entry->regularFileContents().empty()) break;
      const std::string& contents = entry->regularFileContents();
      Error decodeError;
      text = unarchivedAttributedString(
          Bytes(contents.begin(), contents.end()),
          {"NSMutableAttributedString", ChecklistTextAttachment::kClassName, TextAttachment::kClassName,
           "NSFileWrapper"},
          &decodeError);
      if (!text) {
        log("Could not decode note text: %@", decodeError.description());
        decodingError = decodeError;
      }
    } else if (name == kNoteAttributesEntry) {
      readAttributes(*entry, dividerRanges);
    } else {
      others.insert(name);
    }
  }
  if ((!text || !noteTextFound) && wrapper.child(kRTFDTextFileName)) {
    setError(error, noteFileError(kNoteFileRecoverFromRTFDErrorCode, "The note file could not be read."));
    return false;
  }
  if (!text) {
    noteText_ = AttributedString();
    setError(error, *decodingError);
    return false;
  }

  for (auto& [position, placeholder] : text->attachments()) {
    if (isA<ChecklistTextAttachment>(placeholder) || !placeholder->fileWrapper()) continue;
    const std::string& name = placeholder->fileWrapper()->preferredFilename();
    if (!others.count(name)) continue;
    std::shared_ptr<FileWrapper> file = copyFileWrapper(*wrapper.child(name));
    file->setPreferredFilename(name);
    TextAttachmentPointer restored = placeholder->newOfSameClass();
    restored->setFileWrapper(file);
    auto fileAttachment = std::dynamic_pointer_cast<FileAttachment>(placeholder);
    if (fileAttachment && fileAttachment->convertToInPlaceOnMac())
      restored = std::make_shared<TextAttachment>(file);
    const UniformType* type = UniformType::withIdentifier(restored->fileType());
    const TextAttachment& restoredAttachment = *restored;
    if (typeid(restoredAttachment) == typeid(TextAttachment) && type && type->conformsTo(UniformType::audio()))
      restored = std::make_shared<FileAttachment>(file);
    if (!isA<FileAttachment>(restored) && isPasswordProtectedPDF(*restored))
      restored = FileAttachment::fileAttachmentWithAttachment(*restored);
    text->addAttribute(kAttachmentAttributeName, restored, {position, 1});
  }

  convertToDynamicColors(*text);
  checkForTextListsAndConvertIfNecessary(*text);
  text->changeEveryRun([](TextAttributes& attributes) {
    auto color = attributeAs<Color>(attributes, kBackgroundColorAttributeName);
    return color && color->isApproximatelyEqual(Color::white()) && attributes.erase(kBackgroundColorAttributeName) > 0;
  });

  for (auto it = dividerRanges.rbegin(); it != dividerRanges.rend(); ++it) {
    if (it->length == 0 || it->location > text->length() || it->length > text->length() - it->location) continue;
    text->replaceCharacters(*it, AttributedString::withAttachment(std::make_shared<DividerTextAttachment>()));
  }
  noteText_ = std::move(*text);
  return true;
}

bool NoteFile::attemptRecoveryFromRTFD(const std::string& path, Error* error) {
  log("Attempting to recover note from RTFD: %@", path);
  Error readError;
  auto package = FileWrapper::readFromPath(path, &readError);
  auto result = package ? readRTFD(*package, &readError) : std::nullopt;
  if (!result) {
    Error failure = noteFileError(kNoteFileInvalidFormatErrorCode, "File is not a valid note file.");
    failure.setUnderlyingError(readError);
    setError(error, failure);
    return false;
  }
  convertToDynamicColors(result->text);
  replaceFileAttachmentsInRange(result->text, {0, result->text.length()});
  noteText_ = std::move(result->text);
  return true;
}

bool NoteFile::readFileAtURL(const std::string& path, Error* error) {
  auto package = FileWrapper::readFromPath(path, error);
  if (!package) return false;
  Error readError;
  if (readFileWrapper(*package, &readError)) return true;
  if (readError.is(kNoteFileErrorDomain, kNoteFileRecoverFromRTFDErrorCode))
    return attemptRecoveryFromRTFD(path, error);
  setError(error, readError);
  return false;
}

std::unique_ptr<NoteFile> NoteFile::withFileURL(const std::string& path, Error* error) {
  std::unique_ptr<NoteFile> note(new NoteFile(Unset{}));
  return note->readFileAtURL(path, error) ? std::move(note) : nullptr;
}

std::unique_ptr<NoteFile> NoteFile::withFileWrapper(const FileWrapper& wrapper, Error* error) {
  std::unique_ptr<NoteFile> note(new NoteFile(Unset{}));
  return note->readFileWrapper(wrapper, error) ? std::move(note) : nullptr;
}

}  // namespace qlt
