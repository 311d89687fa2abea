#include <charconv>
#include <vector>

#include "platform/fileprovider/file_provider_domain.h"
#include "store/library_model_constants.h"
#include "store/library_object.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

constexpr char kSeparator = '|';

std::vector<std::string> components(const std::string& identifier) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t end = identifier.find(kSeparator, start);
    parts.push_back(identifier.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

}  // namespace

std::string LibraryObject::fileProviderIdentifierForEntity(const std::string& entityName,
                                                           const std::string& libraryObjectIdentifier,
                                                           int64_t fileProviderIdentifierVersion) {
  std::string identifier = entityName + kSeparator + libraryObjectIdentifier;
  if (fileProviderIdentifierVersion > 0) identifier += kSeparator + std::to_string(fileProviderIdentifierVersion);
  return identifier;
}

std::optional<std::string> LibraryObject::libraryObjectIdentifierFromFileProviderIdentifier(
    const std::string& identifier) {
  if (identifier == kRootContainerItemIdentifier) return kRootFolderIdentifier;
  if (identifier == kTrashContainerItemIdentifier) return kTrashFolderIdentifier;
  std::vector<std::string> parts = components(identifier);
  if (parts.size() < 2) return std::nullopt;
  return parts[1];
}

std::string LibraryObject::entityNameFromFileProviderIdentifier(const std::string& identifier) {
  if (identifier == kRootContainerItemIdentifier) return kRootFolderEntityName;
  if (identifier == kTrashContainerItemIdentifier) return kTrashFolderEntityName;
  return components(identifier).front();
}

int64_t LibraryObject::versionFromFileProviderIdentifier(const std::string& identifier) {
  std::vector<std::string> parts = components(identifier);
  if (parts.size() < 3) return 0;
  // The integer value of the leading digits, as a number scanner reads it;
  // anything unreadable is 0.
  const std::string& last = parts.back();
  const char* begin = last.data();
  const char* end = last.data() + last.size();
  while (begin != end && (*begin == ' ' || *begin == '+')) ++begin;
  int64_t version = 0;
  auto [next, error] = std::from_chars(begin, end, version);
  (void)next;
  return error == std::errc() ? version : 0;
}

LibraryObject::Ptr LibraryObject::libraryObjectFromFileProviderIdentifier(const std::string& identifier,
                                                                          ManagedObjectContext& context) {
  std::optional<std::string> objectIdentifier = libraryObjectIdentifierFromFileProviderIdentifier(identifier);
  if (!objectIdentifier) return nullptr;
  Ptr object = libraryObject(context, entityNameFromFileProviderIdentifier(identifier), *objectIdentifier);
  if (!object) return nullptr;
  if (object->entity().name() == kItemEntityName) {
    Value current = object->valueForKey("fileProviderIdentifierVersion");
    int64_t version = static_cast<int64_t>(current.numberValue().value_or(0));
    if (version != versionFromFileProviderIdentifier(identifier)) return nullptr;
  }
  return object;
}

std::string LibraryObject::fileProviderItemIdentifier() const {
  const std::string& entityName = entity().name();
  if (entityName == kRootFolderEntityName) return kRootContainerItemIdentifier;
  if (entityName == kTrashFolderEntityName) return kTrashContainerItemIdentifier;
  return fileProviderIdentifierForEntity(entityName, identifier(), 0);
}

}  // namespace qlt
