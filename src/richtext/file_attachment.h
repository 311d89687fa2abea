#pragma once

#include <string>

#include "platform/text/attributed_string.h"

namespace qlt {

// A file embedded in note text and shown as an icon rather than inline.
// Archived as the base attachment plus "convertToInPlaceOnMac".
class FileAttachment final : public TextAttachment {
 public:
  static constexpr const char* kClassName = "QLTFileAttachment";

  FileAttachment() = default;
  explicit FileAttachment(std::shared_ptr<FileWrapper> wrapper) : TextAttachment(std::move(wrapper)) {}

  bool convertToInPlaceOnMac() const { return convertToInPlaceOnMac_; }
  void setConvertToInPlaceOnMac(bool value) { convertToInPlaceOnMac_ = value; }

  // Images, movies and PDFs are shown inline; every other known type, and
  // only those, become file attachments.
  static bool shouldUseForFileType(const std::string& typeIdentifier);
  static std::shared_ptr<FileAttachment> fileAttachmentWithAttachment(const TextAttachment& attachment);

  std::shared_ptr<TextAttachment> newOfSameClass() const override { return std::make_shared<FileAttachment>(); }
  std::string className() const override { return kClassName; }
  std::vector<std::string> classHierarchy() const override { return {kClassName, TextAttachment::kClassName}; }
  void encode(KeyedArchiver& archiver) const override;
  static std::shared_ptr<Codable> decode(KeyedUnarchiver& unarchiver, Error* error);

 private:
  bool convertToInPlaceOnMac_ = false;
};

// A PDF that the empty password does not open.
bool isPasswordProtectedPDF(const TextAttachment& attachment);
// A PDF that is not password-protected, an image or a movie.
bool canViewInPlace(const TextAttachment& attachment);

}  // namespace qlt
