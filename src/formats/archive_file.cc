#include "formats/archive_file.h"

#include <exception>

#include "platform/files/file_wrapper_coding.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"
#include "platform/foundation/localized_strings.h"

namespace qlt {

namespace {

constexpr const char* kDataWrapperKey = "dataWrapper";
constexpr const char* kFileExtensionHiddenKey = "fileExtensionHidden";
constexpr const char* kOriginalFileExtensionKey = "originalFileExtension";
constexpr const char* kOriginalDateCreatedKey = "originalDateCreated";
constexpr const char* kOriginalDateModifiedKey = "originalDateModified";
constexpr const char* kFileTypeCodeKey = "fileTypeCode";
constexpr const char* kFileCreatorCodeKey = "fileCreatorCode";

std::shared_ptr<Codable> refuse(const std::string& description, Error* error) {
  Error failure(kCocoaErrorDomain, kCocoaCoderReadCorruptError, description);
  failure.setUserInfoValue("NSDebugDescription", description);
  setError(error, std::move(failure));
  return nullptr;
}

Error exceptionError(const char* format, const std::string& path, const std::exception& exception) {
  Error error(kArchiveFileErrorDomain, kArchiveFileExceptionErrorCode, localizedFormat(format, path, exception.what()));
  error.setUserInfoValue(kURLErrorKey, fileURLFromPath(path));
  return error;
}

ArchiveObject optionalNumber(const std::optional<uint32_t>& value) {
  if (!value) return ArchiveObject();
  return ArchiveObject(static_cast<long long>(*value));
}

ArchiveObject optionalDate(const std::optional<Date>& value) {
  if (!value) return ArchiveObject();
  return ArchiveObject(*value);
}

// Reads an optional key of one class; a missing key reads as nil.
std::optional<ArchiveObject> decodeOptional(KeyedUnarchiver& coder, const char* key, const char* className,
                                            Error* error) {
  if (!coder.containsValue(key)) return ArchiveObject();
  return coder.decodeObjectOfClasses(key, {className}, error);
}

bool decodeCode(KeyedUnarchiver& coder, const char* key, std::optional<uint32_t>& code, Error* error) {
  auto value = decodeOptional(coder, key, "NSNumber", error);
  if (!value) return false;
  if (value->isNil()) return true;
  const int64_t* integer = value->integer();
  if (!integer || *integer < 0 || *integer > static_cast<int64_t>(UINT32_MAX)) {
    refuse(std::string("The archive holds an invalid ") + key + ".", error);
    return false;
  }
  code = static_cast<uint32_t>(*integer);
  return true;
}

bool decodeDate(KeyedUnarchiver& coder, const char* key, std::optional<Date>& date, Error* error) {
  auto value = decodeOptional(coder, key, "NSDate", error);
  if (!value) return false;
  if (const Date* found = value->date()) date = *found;
  return true;
}

}  // namespace

ArchiveFile::Values ArchiveFile::values() const {
  std::lock_guard lock(mutex_);
  return values_;
}

std::shared_ptr<FileWrapper> ArchiveFile::dataWrapper() const {
  std::lock_guard lock(mutex_);
  return values_.dataWrapper;
}

void ArchiveFile::setDataWrapper(std::shared_ptr<FileWrapper> wrapper) {
  std::lock_guard lock(mutex_);
  values_.dataWrapper = std::move(wrapper);
}

bool ArchiveFile::fileExtensionHidden() const {
  std::lock_guard lock(mutex_);
  return values_.fileExtensionHidden;
}

void ArchiveFile::setFileExtensionHidden(bool hidden) {
  std::lock_guard lock(mutex_);
  values_.fileExtensionHidden = hidden;
}

std::optional<Date> ArchiveFile::originalDateCreated() const {
  std::lock_guard lock(mutex_);
  return values_.originalDateCreated;
}

void ArchiveFile::setOriginalDateCreated(std::optional<Date> date) {
  std::lock_guard lock(mutex_);
  values_.originalDateCreated = date;
}

std::optional<Date> ArchiveFile::originalDateModified() const {
  std::lock_guard lock(mutex_);
  return values_.originalDateModified;
}

void ArchiveFile::setOriginalDateModified(std::optional<Date> date) {
  std::lock_guard lock(mutex_);
  values_.originalDateModified = date;
}

std::string ArchiveFile::originalFileExtension() const {
  std::lock_guard lock(mutex_);
  return values_.originalFileExtension;
}

void ArchiveFile::setOriginalFileExtension(std::string extension) {
  std::lock_guard lock(mutex_);
  values_.originalFileExtension = std::move(extension);
}

std::optional<uint32_t> ArchiveFile::fileTypeCode() const {
  std::lock_guard lock(mutex_);
  return values_.fileTypeCode;
}

void ArchiveFile::setFileTypeCode(std::optional<uint32_t> code) {
  std::lock_guard lock(mutex_);
  values_.fileTypeCode = code;
}

std::optional<uint32_t> ArchiveFile::fileCreatorCode() const {
  std::lock_guard lock(mutex_);
  return values_.fileCreatorCode;
}

void ArchiveFile::setFileCreatorCode(std::optional<uint32_t> code) {
  std::lock_guard lock(mutex_);
  values_.fileCreatorCode = code;
}

std::shared_ptr<ArchiveFile> ArchiveFile::withURL(const std::string& path, Error* error) {
  if (!attributesOfItem(path, error)) return nullptr;
  std::shared_ptr<FileWrapper> wrapper = FileWrapper::readFromPath(path, error);
  if (!wrapper) return nullptr;
  // The root is never a link: reading follows one there, and the wrapper
  // keeps the attributes of the item it leads to.
  const FileWrapper::Attributes& attributes = wrapper->attributes();
  auto archive = std::make_shared<ArchiveFile>();
  Values& values = archive->values_;
  values.originalFileExtension = pathExtension(path);
  values.fileExtensionHidden = attributes.extensionHidden;
  if (attributes.creationTime) values.originalDateCreated = Date::fromTimespec(*attributes.creationTime);
  if (attributes.modificationTime) values.originalDateModified = Date::fromTimespec(*attributes.modificationTime);
  values.fileTypeCode = attributes.typeCode;
  values.fileCreatorCode = attributes.creatorCode;
  values.dataWrapper = std::move(wrapper);
  return archive;
}

void ArchiveFile::encode(KeyedArchiver& archiver) const {
  Values values = this->values();
  ArchiveObject wrapper;
  if (values.dataWrapper) {
    const FileWrapper* root = values.dataWrapper.get();
    wrapper = ArchiveObject(std::make_shared<FileWrapperCoding>(values.dataWrapper, root));
  }
  archiver.encodeObject(kDataWrapperKey, wrapper);
  archiver.encodeBool(kFileExtensionHiddenKey, values.fileExtensionHidden);
  archiver.encodeString(kOriginalFileExtensionKey, values.originalFileExtension);
  archiver.encodeObject(kOriginalDateCreatedKey, optionalDate(values.originalDateCreated));
  archiver.encodeObject(kOriginalDateModifiedKey, optionalDate(values.originalDateModified));
  archiver.encodeObject(kFileTypeCodeKey, optionalNumber(values.fileTypeCode));
  archiver.encodeObject(kFileCreatorCodeKey, optionalNumber(values.fileCreatorCode));
}

std::shared_ptr<Codable> ArchiveFile::decode(KeyedUnarchiver& coder, Error* error) {
  auto coding = coder.decodeObjectOfClass<FileWrapperCoding>(kDataWrapperKey, FileWrapperCoding::kClassName, error);
  if (!coding) return nullptr;
  std::shared_ptr<FileWrapper> wrapper = *coding ? (*coding)->takeWrapper() : nullptr;
  if (!wrapper) return refuse("The archive holds no file.", error);
  if (wrapper->isSymbolicLink()) return refuse("The archive holds a link instead of a file or folder.", error);

  auto archive = std::make_shared<ArchiveFile>();
  Values& values = archive->values_;
  values.dataWrapper = std::move(wrapper);
  if (coder.containsValue(kFileExtensionHiddenKey)) {
    auto hidden = coder.decodeBool(kFileExtensionHiddenKey, error);
    if (!hidden) return nullptr;
    values.fileExtensionHidden = *hidden;
  }
  auto extension = decodeOptional(coder, kOriginalFileExtensionKey, "NSString", error);
  if (!extension) return nullptr;
  if (const std::string* text = extension->string()) values.originalFileExtension = *text;
  if (!decodeDate(coder, kOriginalDateCreatedKey, values.originalDateCreated, error) ||
      !decodeDate(coder, kOriginalDateModifiedKey, values.originalDateModified, error) ||
      !decodeCode(coder, kFileTypeCodeKey, values.fileTypeCode, error) ||
      !decodeCode(coder, kFileCreatorCodeKey, values.fileCreatorCode, error))
    return nullptr;
  return archive;
}

void ArchiveFile::registerClasses(CodableRegistry& registry) {
  registry.registerClass(kClassName, decode);
  FileWrapperCoding::registerClass(registry);
}

bool ArchiveFile::writeArchiveToURL(const std::string& path, Error* error) const {
  try {
    auto snapshot = std::make_shared<ArchiveFile>();
    snapshot->values_ = values();
    auto data = KeyedArchiver::archivedData(ArchiveObject(std::static_pointer_cast<Codable>(snapshot)), true, error);
    if (!data) return false;
    return writeFileAtomically(path, std::string_view(reinterpret_cast<const char*>(data->data()), data->size()),
                               error);
  } catch (const std::exception& exception) {
    setError(error, exceptionError("An exception occurred writing %@: %@", path, exception));
    return false;
  }
}

std::shared_ptr<ArchiveFile> ArchiveFile::archiveFromFileAtURL(const std::string& path, Error* error) {
  static std::once_flag registered;
  std::call_once(registered, [] { registerClasses(CodableRegistry::global()); });
  try {
    auto contents = readFile(path, error);
    if (!contents) return nullptr;
    Bytes bytes(contents->begin(), contents->end());
    contents.reset();
    auto root = KeyedUnarchiver::unarchivedObject(bytes, {kClassName}, error);
    if (!root) return nullptr;
    auto archive = root->objectAs<ArchiveFile>();
    if (!archive) refuse("The archive holds no archive file.", error);
    return archive;
  } catch (const std::exception& exception) {
    setError(error, exceptionError("An exception occurred reading %@: %@", path, exception));
    return nullptr;
  }
}

bool ArchiveFile::writeToURL(const std::string& path, Error* error) const {
  Values values = this->values();
  // A link at the top would resolve beside the destination, not inside it.
  if (!values.dataWrapper || values.dataWrapper->isSymbolicLink() || !values.dataWrapper->writeToPath(path, true)) {
    setError(error,
             Error(kArchiveFileErrorDomain, kArchiveFileRestoreErrorCode, localizedString("Unable to restore file.")));
    return false;
  }
  // Attributes are restored as far as the file system allows; the contents
  // are what counts.
  if (values.originalDateCreated) (void)setCreationTime(path, values.originalDateCreated->toTimespec());
  if (values.originalDateModified) (void)setModificationTime(path, values.originalDateModified->toTimespec());
  (void)setExtensionHidden(path, values.fileExtensionHidden);
  if (values.fileTypeCode.value_or(0) > 0 || values.fileCreatorCode.value_or(0) > 0) {
    (void)setTypeCode(path, values.fileTypeCode.value_or(0));
    (void)setCreatorCode(path, values.fileCreatorCode.value_or(0));
  }
  return true;
}

}  // namespace qlt
