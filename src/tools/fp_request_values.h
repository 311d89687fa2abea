#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"

namespace qlt::tool {

// Values of the service's create and modify requests, read from the
// command line.

// An ISO 8601 date; `option` names the option in the error.
[[nodiscard]] std::optional<Date> parseDate(const std::string& text, const char* option, Error* error);
// Tag names separated by commas, as the service's tag data.
[[nodiscard]] std::optional<Bytes> tagDataFromNames(const std::string& text, Error* error);
// KEY=VALUE into `attributes`.
[[nodiscard]] bool addExtendedAttribute(const std::string& pair, std::map<std::string, Bytes>& attributes, Error* error);

// Contents as the service stages them: a copy of a file or directory in a
// place of its own, removed with this object. Anything else (a link, a
// pipe, a missing or unreadable file) is handed over as it is, for the
// extension to refuse.
struct StagedContents {
  std::optional<std::string> path;
  std::optional<std::string> directory;
  StagedContents() = default;
  StagedContents(const StagedContents&) = delete;
  StagedContents& operator=(const StagedContents&) = delete;
  ~StagedContents();
};
[[nodiscard]] bool stage(const std::string& source, StagedContents& staged, Error* error);

}  // namespace qlt::tool
