#include "platform/text/text_attachment.h"

#include "platform/files/file_path.h"
#include "platform/files/file_wrapper_coding.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"
#include "platform/foundation/uniform_type.h"

namespace qlt {

std::string TextAttachment::fileType() const {
  if (!fileType_.empty()) return fileType_;
  if (!fileWrapper_) return {};
  std::string extension = pathExtension(fileWrapper_->preferredFilename());
  if (extension.empty()) return {};
  const UniformType* type = UniformType::withFilenameExtension(extension);
  return type ? type->identifier() : std::string();
}

std::optional<std::string> TextAttachment::regularFileContents() const {
  if (fileWrapper_) {
    if (!fileWrapper_->isRegularFile()) return std::nullopt;
    return fileWrapper_->regularFileContents();
  }
  if (contents_) return std::string(contents_->begin(), contents_->end());
  return std::nullopt;
}

void TextAttachment::encode(KeyedArchiver& archiver) const {
  if (fileWrapper_)
    archiver.encodeObject(
        "NSFileWrapper",
        ArchiveObject(std::shared_ptr<Codable>(std::make_shared<FileWrapperCoding>(fileWrapper_, fileWrapper_.get()))));
  else if (contents_)
    archiver.encodeData("NSContents", *contents_);
  if (fileWrapper_ && !fileWrapper_->preferredFilename().empty())
    archiver.encodeString("NSFileName", fileWrapper_->preferredFilename());
  if (!fileType_.empty()) archiver.encodeString("NSFileType", fileType_);
}

bool TextAttachment::decodeFields(KeyedUnarchiver& unarchiver, TextAttachment& attachment, Error* error) {
  if (unarchiver.containsValue("NSFileWrapper")) {
    auto coding = unarchiver.decodeObjectOfClass<FileWrapperCoding>("NSFileWrapper", FileWrapperCoding::kClassName,
                                                                     error);
    if (!coding) return false;
    if (*coding) attachment.fileWrapper_ = std::shared_ptr<FileWrapper>((*coding)->takeWrapper());
  }
  if (attachment.fileWrapper_ && unarchiver.containsValue("NSFileName")) {
    auto name = unarchiver.decodeString("NSFileName", error);
    if (!name) return false;
    attachment.fileWrapper_->setPreferredFilename(*name);
  }
  if (unarchiver.containsValue("NSContents")) {
    auto data = unarchiver.decodeData("NSContents", error);
    if (!data) return false;
    attachment.contents_ = std::move(*data);
  }
  if (unarchiver.containsValue("NSFileType")) {
    auto type = unarchiver.decodeString("NSFileType", error);
    if (!type) return false;
    attachment.fileType_ = std::move(*type);
  }
  return true;
}

std::shared_ptr<Codable> TextAttachment::decode(KeyedUnarchiver& unarchiver, Error* error) {
  auto attachment = std::make_shared<TextAttachment>();
  return decodeFields(unarchiver, *attachment, error) ? attachment : nullptr;
}

}  // namespace qlt
