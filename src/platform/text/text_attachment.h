#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/codable.h"
#include "platform/foundation/property_list.h"
#include "platform/files/file_wrapper.h"

namespace qlt {

class KeyedUnarchiver;

// An object embedded in text on one U+FFFC: a file (through a file wrapper)
// or raw contents, with a type identifier. Subclasses add special kinds;
// archives name the class, so a subclass decodes as itself.
class TextAttachment : public Codable {
 public:
  static constexpr const char* kClassName = "NSTextAttachment";

  TextAttachment() = default;
  explicit TextAttachment(std::shared_ptr<FileWrapper> fileWrapper) : fileWrapper_(std::move(fileWrapper)) {}

  const std::shared_ptr<FileWrapper>& fileWrapper() const { return fileWrapper_; }
  virtual void setFileWrapper(std::shared_ptr<FileWrapper> wrapper) { fileWrapper_ = std::move(wrapper); }
  const std::optional<Bytes>& contents() const { return contents_; }
  void setContents(std::optional<Bytes> contents) { contents_ = std::move(contents); }

  // The type set on the attachment, else the one its file's name extension
  // gives; empty when neither says.
  std::string fileType() const;
  void setFileType(std::string type) { fileType_ = std::move(type); }
  // The bytes of the file wrapper when it is a regular file, else the
  // contents.
  [[nodiscard]] std::optional<std::string> regularFileContents() const;

  // A fresh attachment of the same class with its default state.
  virtual std::shared_ptr<TextAttachment> newOfSameClass() const { return std::make_shared<TextAttachment>(); }

  std::string className() const override { return kClassName; }
  std::vector<std::string> classHierarchy() const override { return {kClassName}; }
  void encode(KeyedArchiver& archiver) const override;

  static std::shared_ptr<Codable> decode(KeyedUnarchiver& unarchiver, Error* error);

 protected:
  // Reads the fields this class archives into `attachment`.
  [[nodiscard]] static bool decodeFields(KeyedUnarchiver& unarchiver, TextAttachment& attachment, Error* error);

 private:
  std::shared_ptr<FileWrapper> fileWrapper_;
  std::optional<Bytes> contents_;
  std::string fileType_;
};

using TextAttachmentPointer = std::shared_ptr<TextAttachment>;

}  // namespace qlt
