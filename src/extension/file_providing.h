#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/error.h"

namespace qlt {

inline constexpr const char* kFileProvidingInterfaceName = "QLTFileProviding";

// A reply dictionary of the host application's service: "URL" or
// "Success" on success, "Error" on failure.
struct FileProvidingReply {
  std::optional<std::string> url;
  std::optional<bool> success;
  std::optional<Error> error;
};

// What the extension offers the host application on a service connection.
class FileProviding {
 public:
  using Reply = std::function<void(const FileProvidingReply& reply)>;
  virtual ~FileProviding() = default;
  // Makes the contents of a file of the domain local.
  virtual void materializeURL(const std::string& url, Reply reply) = 0;
  virtual void reimportItemsBelowItemWithIdentifier(const std::string& identifier, Reply reply) = 0;
};

}  // namespace qlt
