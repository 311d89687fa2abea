#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"

namespace qlt {

// The service's names of the three containers that are not folders of
// their own identifier.
inline constexpr const char* kRootContainerItemIdentifier = "NSFileProviderRootContainerItemIdentifier";
inline constexpr const char* kTrashContainerItemIdentifier = "NSFileProviderTrashContainerItemIdentifier";
inline constexpr const char* kWorkingSetContainerItemIdentifier = "NSFileProviderWorkingSetContainerItemIdentifier";

// One tree the file-provider service shows: its identifier (the library it
// serves depends on it) and the name the file manager displays.
struct FileProviderDomain {
  std::string identifier;
  std::string displayName;
};

// Per-domain services of the file-provider service: a private temporary
// folder, the signalling of enumerators, where items are shown to the user
// and reimports. A domain is known from the first request for its manager
// until it is removed; the requests of a removed domain fail with
// kFileProviderErrorProviderNotFound until it is added again.
class FileProviderDomainManager {
 public:
  using SignalObserver = std::function<void(const std::string& containerIdentifier)>;
  using Completion = std::function<void(const Error* error)>;
  using URLCompletion = std::function<void(const std::optional<std::string>& url, const Error* error)>;

  // One manager per domain and group container, kept for the process.
  static std::shared_ptr<FileProviderDomainManager> managerForDomain(const FileProviderDomain& domain,
                                                                     const std::string& groupContainerPath);
  static void addDomain(const FileProviderDomain& domain, const std::string& groupContainerPath);
  static void removeDomain(const FileProviderDomain& domain, const std::string& groupContainerPath);

  const FileProviderDomain& domain() const { return domain_; }

  // "<group container>/File Provider Storage/<domain>/Temporary" (slashes
  // and a leading period of the identifier replaced by "_"), created
  // with mode 0700 when missing; empty with an error when it cannot be.
  std::string temporaryDirectory(Error* error = nullptr) const;

  // Tells the service that the contents of a container changed. The
  // completion runs on the caller's thread.
  void signalEnumerator(const std::string& containerIdentifier, const Completion& completion = {});
  // The service's side: hears every container signalled successfully.
  void setSignalObserver(SignalObserver observer);

  // Where the file manager shows an item: the installed resolver's answer
  // (none installed: the no-such-item error), on the caller's thread.
  using UserVisibleURLResolver = std::function<std::optional<std::string>(const std::string& itemIdentifier,
                                                                          Error* error)>;
  void getUserVisibleURLForItemIdentifier(const std::string& itemIdentifier, const URLCompletion& completion);
  void setUserVisibleURLResolver(UserVisibleURLResolver resolver);

  // Asks the service to import everything below an item again. The answer
  // comes from the installed handler (none: success), on the caller's
  // thread.
  using ReimportHandler = std::function<bool(const std::string& itemIdentifier, Error* error)>;
  void reimportItemsBelowItemWithIdentifier(const std::string& itemIdentifier, const Completion& completion);
  void setReimportHandler(ReimportHandler handler);

  FileProviderDomainManager(FileProviderDomain domain, std::string groupContainerPath)
      : domain_(std::move(domain)), groupContainerPath_(std::move(groupContainerPath)) {}

 private:
  // The error of every request while the domain is removed.
  [[nodiscard]] std::optional<Error> removedDomainError() const;

  FileProviderDomain domain_;
  std::string groupContainerPath_;
  mutable std::mutex mutex_;
  SignalObserver observer_;
  ReimportHandler reimportHandler_;
  UserVisibleURLResolver userVisibleURLResolver_;
  bool removed_ = false;
};

}  // namespace qlt
