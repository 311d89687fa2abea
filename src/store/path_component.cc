#include "store/path_component.h"

#include "platform/files/file_path.h"

namespace qlt {

bool checkPathComponent(std::string_view component, Error* error) {
  if (isValidFilename(component)) return true;
  setError(error, invalidFilenameError(component, "it is not a single path component"));
  return false;
}

std::optional<std::string> appendingCheckedPathComponent(std::string_view directory, std::string_view component,
                                                         Error* error) {
  if (!checkPathComponent(component, error)) return std::nullopt;
  return appendingPathComponent(directory, component);
}

}  // namespace qlt
