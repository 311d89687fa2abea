#include "platform/files/file_wrapper_coding.h"

#include <cstdint>

#include "platform/foundation/date.h"
#include "platform/files/file_path.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"

namespace qlt {

namespace {

constexpr const char* kTypeKey = "type";
constexpr const char* kContentsKey = "contents";
constexpr const char* kDestinationKey = "destination";
constexpr const char* kChildrenKey = "children";
constexpr const char* kPermissionsKey = "posixPermissions";
constexpr const char* kCreationDateKey = "creationDate";
constexpr const char* kModificationDateKey = "modificationDate";
constexpr const char* kExtensionHiddenKey = "extensionHidden";
constexpr const char* kTypeCodeKey = "typeCode";
constexpr const char* kCreatorCodeKey = "creatorCode";

constexpr const char* kFileType = "file";
constexpr const char* kDirectoryType = "directory";
constexpr const char* kLinkType = "link";

// The name of a folder's custom icon file.
constexpr const char* kCustomIconName = "Icon\r";

bool fail(const std::string& description, Error* error) {
  Error failure(kCocoaErrorDomain, kCocoaCoderReadCorruptError, description);
  failure.setUserInfoValue("NSDebugDescription", description);
  setError(error, std::move(failure));
  return false;
}

std::shared_ptr<Codable> refuse(const std::string& description, Error* error) {
  fail(description, error);
  return nullptr;
}

std::optional<uint32_t> decodeCode(KeyedUnarchiver& coder, const char* key, Error* error) {
  auto value = coder.decodeInt64(key, error);
  if (!value) return std::nullopt;
  if (*value < 0 || *value > static_cast<int64_t>(UINT32_MAX)) {
    fail(std::string("The archive holds an invalid ") + key + ".", error);
    return std::nullopt;
  }
  return static_cast<uint32_t>(*value);
}

bool decodeAttributes(KeyedUnarchiver& coder, FileWrapper& wrapper, Error* error) {
  FileWrapper::Attributes& attributes = wrapper.attributes();
  if (coder.containsValue(kPermissionsKey)) {
    auto permissions = coder.decodeInt64(kPermissionsKey, error);
    if (!permissions) return false;
    if (*permissions < 0 || *permissions > 07777) return fail("The archive holds invalid permissions.", error);
    mode_t mode = static_cast<mode_t>(*permissions) & 0777;
    if (wrapper.isDirectory()) mode |= 0700;
    attributes.posixPermissions = mode;
  }
  if (coder.containsValue(kCreationDateKey)) {
    auto date = coder.decodeDate(kCreationDateKey, error);
    if (!date) return false;
    attributes.creationTime = date->toTimespec();
  }
  if (coder.containsValue(kModificationDateKey)) {
    auto date = coder.decodeDate(kModificationDateKey, error);
    if (!date) return false;
    attributes.modificationTime = date->toTimespec();
  }
  if (coder.containsValue(kExtensionHiddenKey)) {
    auto hidden = coder.decodeBool(kExtensionHiddenKey, error);
    if (!hidden) return false;
    attributes.extensionHidden = *hidden;
  }
  for (auto [key, code] :
       {std::pair{kTypeCodeKey, &attributes.typeCode}, std::pair{kCreatorCodeKey, &attributes.creatorCode}}) {
    if (!coder.containsValue(key)) continue;
    auto value = decodeCode(coder, key, error);
    if (!value) return false;
    *code = *value;
  }
  return true;
}

bool decodeChildren(KeyedUnarchiver& coder, FileWrapper& directory, Error* error) {
  if (!coder.containsValue(kChildrenKey)) return true;
  auto children =
      coder.decodeObjectOfClasses(kChildrenKey, {"NSDictionary", "NSString", FileWrapperCoding::kClassName}, error);
  if (!children) return false;
  if (children->isNil()) return true;
  const ArchiveDictionary* entries = children->dictionary();
  if (!entries) return fail("The archive holds a folder whose contents are not a dictionary.", error);
  for (const auto& [key, value] : entries->entries) {
    const std::string* name = key.string();
    auto coding = value.objectAs<FileWrapperCoding>();
    if (!name || !coding) return fail("The archive holds a folder entry that is not a named item.", error);
    if (!isValidFilename(*name))
      return fail("The archive names an item “" + *name + "” that does not lie inside its folder.", error);
    std::unique_ptr<FileWrapper> child = coding->takeWrapper();
    if (!child) return fail("The archive holds an item “" + *name + "” more than once.", error);
    if (directory.child(*name)) return fail("The archive names “" + *name + "” twice in one folder.", error);
    if (!directory.addChild(*name, std::move(child), error)) return false;
  }
  return true;
}

}  // namespace

void FileWrapperCoding::encode(KeyedArchiver& archiver) const {
  const FileWrapper& wrapper = *wrapper_;
  switch (wrapper.kind()) {
    case FileWrapper::Kind::RegularFile: {
      const std::string& contents = wrapper.regularFileContents();
      archiver.encodeString(kTypeKey, kFileType);
      archiver.encodeData(kContentsKey, Bytes(contents.begin(), contents.end()));
      break;
    }
    case FileWrapper::Kind::Directory: {
      archiver.encodeString(kTypeKey, kDirectoryType);
      ArchiveDictionary children;
      for (const auto& [name, child] : wrapper.children()) {
        if (name == kCustomIconName) continue;
        children.entries.emplace_back(ArchiveObject(name),
                                      ArchiveObject(std::make_shared<FileWrapperCoding>(owner_, child.get())));
      }
      archiver.encodeObject(kChildrenKey, ArchiveObject(std::move(children)));
      break;
    }
    case FileWrapper::Kind::SymbolicLink:
      archiver.encodeString(kTypeKey, kLinkType);
      archiver.encodeString(kDestinationKey, wrapper.symbolicLinkDestination());
      break;
  }
  const FileWrapper::Attributes& attributes = wrapper.attributes();
  if (attributes.posixPermissions) archiver.encodeInt64(kPermissionsKey, *attributes.posixPermissions);
  if (attributes.creationTime) archiver.encodeDate(kCreationDateKey, Date::fromTimespec(*attributes.creationTime));
  if (attributes.modificationTime)
    archiver.encodeDate(kModificationDateKey, Date::fromTimespec(*attributes.modificationTime));
  if (attributes.extensionHidden) archiver.encodeBool(kExtensionHiddenKey, true);
  if (attributes.typeCode) archiver.encodeInt64(kTypeCodeKey, attributes.typeCode);
  if (attributes.creatorCode) archiver.encodeInt64(kCreatorCodeKey, attributes.creatorCode);
}

std::unique_ptr<FileWrapper> FileWrapperCoding::takeWrapper() {
  wrapper_ = nullptr;
  return std::move(decoded_);
}

std::shared_ptr<Codable> FileWrapperCoding::decode(KeyedUnarchiver& coder, Error* error) {
  auto type = coder.decodeString(kTypeKey, error);
  if (!type) return nullptr;
  std::unique_ptr<FileWrapper> wrapper;
  if (*type == kFileType) {
    auto contents = coder.decodeData(kContentsKey, error);
    if (!contents) return nullptr;
    wrapper = FileWrapper::regularFile(std::string(contents->begin(), contents->end()));
  } else if (*type == kDirectoryType) {
    wrapper = FileWrapper::directory();
    if (!decodeChildren(coder, *wrapper, error)) return nullptr;
  } else if (*type == kLinkType) {
    auto destination = coder.decodeString(kDestinationKey, error);
    if (!destination) return nullptr;
    if (!isContainedLinkDestination(*destination))
      return refuse("The archive holds a link to “" + *destination + "”, outside its folder.", error);
    wrapper = FileWrapper::symbolicLink(std::move(*destination));
  } else {
    return refuse("The archive holds an item of unknown type “" + *type + "”.", error);
  }
  if (!decodeAttributes(coder, *wrapper, error)) return nullptr;
  return std::make_shared<FileWrapperCoding>(std::move(wrapper));
}

void FileWrapperCoding::registerClass(CodableRegistry& registry) { registry.registerClass(kClassName, decode); }

}  // namespace qlt
