#pragma once

#include <time.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/property_list.h"

namespace qlt {

// What is answered about one file when it is listed, read with one stat and
// one pass over its "user." extended attributes. A symbolic link is followed
// to the file it names; a dangling one does not exist.
struct FileSnapshot {
  bool exists = false;
  struct timespec modificationTime {};
  // Named without the "user." prefix, as platform/extended_attributes.h does.
  std::map<std::string, Bytes> extendedAttributes;

  // The attribute `name`, with or without its "user." prefix.
  [[nodiscard]] std::optional<Bytes> extendedAttribute(std::string_view name) const;
};

// Failures show only as a missing file or missing attributes.
FileSnapshot snapshotOfFile(const std::string& path);

}  // namespace qlt
