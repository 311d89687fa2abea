#include "richtext/file_attachment.h"

#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"
#include "platform/foundation/uniform_type.h"
#include "richtext/pdf_password.h"

namespace qlt {

namespace {

bool conformsTo(const std::string& identifier, const UniformType& type) {
  const UniformType* found = UniformType::withIdentifier(identifier);
  return found && found->conformsTo(type);
}

}  // namespace

bool FileAttachment::shouldUseForFileType(const std::string& typeIdentifier) {
  if (typeIdentifier.empty()) return false;
  return !conformsTo(typeIdentifier, UniformType::image()) && !conformsTo(typeIdentifier, UniformType::movie()) &&
         !conformsTo(typeIdentifier, UniformType::pdf());
}

std::shared_ptr<FileAttachment> FileAttachment::fileAttachmentWithAttachment(const TextAttachment& attachment) {
  auto result = std::make_shared<FileAttachment>(attachment.fileWrapper());
  if (!attachment.fileWrapper()) result->setContents(attachment.contents());
  return result;
}

void FileAttachment::encode(KeyedArchiver& archiver) const {
  TextAttachment::encode(archiver);
  archiver.encodeBool("convertToInPlaceOnMac", convertToInPlaceOnMac_);
}

std::shared_ptr<Codable> FileAttachment::decode(KeyedUnarchiver& unarchiver, Error* error) {
  auto attachment = std::make_shared<FileAttachment>();
  if (!decodeFields(unarchiver, *attachment, error)) return nullptr;
  if (unarchiver.containsValue("convertToInPlaceOnMac")) {
    auto value = unarchiver.decodeBool("convertToInPlaceOnMac", error);
    if (!value) return nullptr;
    attachment->convertToInPlaceOnMac_ = *value;
  }
  return attachment;
}

bool isPasswordProtectedPDF(const TextAttachment& attachment) {
  if (!conformsTo(attachment.fileType(), UniformType::pdf())) return false;
  auto contents = attachment.regularFileContents();
  return contents && isPasswordProtectedPDFData(*contents);
}

bool canViewInPlace(const TextAttachment& attachment) {
  std::string type = attachment.fileType();
  if (conformsTo(type, UniformType::pdf())) return !isPasswordProtectedPDF(attachment);
  return conformsTo(type, UniformType::image()) || conformsTo(type, UniformType::movie());
}

}  // namespace qlt
