#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "extension/file_provider_extension.h"
#include "platform/fileprovider/file_provider_item.h"
#include "platform/foundation/error.h"

namespace qlt::fuse {

// The requests the file-provider service makes of the extension, made and
// waited for one at a time: the mount asks nothing of the library but
// these.
class ServiceClient {
 public:
  static constexpr std::chrono::seconds kRequestTimeout{180};

  explicit ServiceClient(std::shared_ptr<FileProviderExtension> extension) : extension_(std::move(extension)) {}

  // The descriptor of one item or container.
  [[nodiscard]] FileProviderItemPtr item(const std::string& identifier, Error* error = nullptr) const;
  // Every child of a container, page after page.
  [[nodiscard]] std::optional<std::vector<FileProviderItemPtr>> children(const std::string& container,
                                                                         Error* error = nullptr) const;
  struct Contents {
    std::string path;  // a copy handed out to the service
    FileProviderItemPtr item;
  };
  [[nodiscard]] std::optional<Contents> contents(const std::string& identifier, Error* error = nullptr) const;

  struct Changes {
    std::vector<FileProviderItemPtr> updated;
    std::vector<std::string> deleted;
    Bytes anchor;
  };
  // Every change of the working set since `anchor`, all batches of one
  // enumeration.
  [[nodiscard]] std::optional<Changes> changesSince(const Bytes& anchor, Error* error = nullptr) const;
  [[nodiscard]] std::optional<Bytes> currentAnchor(Error* error = nullptr) const;

  // The requests that change the library. `contents`: where new contents
  // were staged. Each answers the object as it now is (null when a create
  // made nothing), or the error.
  [[nodiscard]] FileProviderItemPtr create(FileProviderItemPtr itemTemplate, uint64_t fields,
                                           const std::optional<std::string>& contents, Error* error = nullptr) const;
  [[nodiscard]] FileProviderItemPtr modify(FileProviderItemPtr item, uint64_t changedFields,
                                           const std::optional<std::string>& contents, Error* error = nullptr) const;
  [[nodiscard]] bool remove(const std::string& identifier, bool recursive, Error* error = nullptr) const;

  FileProviderExtension& extension() const { return *extension_; }

 private:
  std::shared_ptr<FileProviderExtension> extension_;
};

}  // namespace qlt::fuse
