#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/codable.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/files/file_wrapper.h"

namespace qlt {

inline constexpr const char* kArchiveFileExtension = "qltarchive";

inline constexpr const char* kArchiveFileErrorDomain = "QLTArchiveFileErrorDomain";
// Restoring the archive to a file failed.
inline constexpr long kArchiveFileRestoreErrorCode = 10001;
// Reading or writing the archive file threw.
inline constexpr long kArchiveFileExceptionErrorCode = 10002;

// A file, folder or package with the metadata a plain copy would lose
// (dates, hidden extension, classic type and creator codes), kept in memory
// and written as one keyed archive (".qltarchive") whose root is of class
// "QLTArchiveFile". Accessors are safe to call from any thread.
class ArchiveFile final : public Codable {
 public:
  static constexpr const char* kClassName = "QLTArchiveFile";

  ArchiveFile() = default;

  // A snapshot of the item at `path`, read in full at once.
  static std::shared_ptr<ArchiveFile> withURL(const std::string& path, Error* error = nullptr);
  // The archive stored in the file at `path`.
  static std::shared_ptr<ArchiveFile> archiveFromFileAtURL(const std::string& path, Error* error = nullptr);

  // Restores the snapshot at `path`, replacing what is there in one step; a
  // failure leaves no partial tree.
  [[nodiscard]] bool writeToURL(const std::string& path, Error* error = nullptr) const;
  [[nodiscard]] bool writeArchiveToURL(const std::string& path, Error* error = nullptr) const;

  std::shared_ptr<FileWrapper> dataWrapper() const;
  void setDataWrapper(std::shared_ptr<FileWrapper> wrapper);
  bool fileExtensionHidden() const;
  void setFileExtensionHidden(bool hidden);
  [[nodiscard]] std::optional<Date> originalDateCreated() const;
  void setOriginalDateCreated(std::optional<Date> date);
  [[nodiscard]] std::optional<Date> originalDateModified() const;
  void setOriginalDateModified(std::optional<Date> date);
  std::string originalFileExtension() const;
  void setOriginalFileExtension(std::string extension);
  [[nodiscard]] std::optional<uint32_t> fileTypeCode() const;
  void setFileTypeCode(std::optional<uint32_t> code);
  [[nodiscard]] std::optional<uint32_t> fileCreatorCode() const;
  void setFileCreatorCode(std::optional<uint32_t> code);

  std::string className() const override { return kClassName; }
  std::vector<std::string> classHierarchy() const override { return {kClassName, "NSObject"}; }
  bool supportsSecureCoding() const override { return true; }
  void encode(KeyedArchiver& archiver) const override;
  static std::shared_ptr<Codable> decode(KeyedUnarchiver& unarchiver, Error* error);

  // Adds this class and the file wrapper's to `registry`.
  static void registerClasses(CodableRegistry& registry);

 private:
  struct Values {
    std::shared_ptr<FileWrapper> dataWrapper;
    bool fileExtensionHidden = false;
    std::optional<Date> originalDateCreated;
    std::optional<Date> originalDateModified;
    std::string originalFileExtension;
    std::optional<uint32_t> fileTypeCode;
    std::optional<uint32_t> fileCreatorCode;
  };
  Values values() const;

  mutable std::mutex mutex_;
  Values values_;
};

}  // namespace qlt
