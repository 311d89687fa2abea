#include "platform/files/property_list_file.h"

#include "platform/files/file_system.h"

namespace qlt {

bool writePropertyListToFile(const PropertyList& value, const std::string& path, PropertyListFormat format,
                             Error* error) {
  auto bytes = serializePropertyList(value, format, error);
  if (!bytes) return false;
  return writeFileAtomically(path, std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
                             error);
}

std::optional<PropertyList> readPropertyListFromFile(const std::string& path, Error* error) {
  auto contents = readFile(path, error);
  if (!contents) return std::nullopt;
  auto value = parsePropertyList(reinterpret_cast<const uint8_t*>(contents->data()), contents->size(), error);
  if (!value && error) error->setUserInfoValue(kFilePathErrorKey, path);
  return value;
}

}  // namespace qlt
