#include "platform/fileprovider/file_provider_domain.h"

#include <sys/stat.h>

#include <map>

#include "platform/files/file_path.h"
#include "platform/files/file_system.h"

namespace qlt {

std::shared_ptr<FileProviderDomainManager> FileProviderDomainManager::managerForDomain(
    const FileProviderDomain& domain, const std::string& groupContainerPath) {
  static auto& mutex = *new std::mutex;
  static auto& managers =
      *new std::map<std::pair<std::string, std::string>, std::shared_ptr<FileProviderDomainManager>>;
  std::lock_guard lock(mutex);
  auto& manager = managers[{groupContainerPath, domain.identifier}];
  if (!manager) manager = std::make_shared<FileProviderDomainManager>(domain, groupContainerPath);
  return manager;
}

void FileProviderDomainManager::addDomain(const FileProviderDomain& domain, const std::string& groupContainerPath) {
  auto manager = managerForDomain(domain, groupContainerPath);
  std::lock_guard lock(manager->mutex_);
  manager->removed_ = false;
}

void FileProviderDomainManager::removeDomain(const FileProviderDomain& domain,
                                             const std::string& groupContainerPath) {
  auto manager = managerForDomain(domain, groupContainerPath);
  std::lock_guard lock(manager->mutex_);
  manager->removed_ = true;
}

std::optional<Error> FileProviderDomainManager::removedDomainError() const {
  std::lock_guard lock(mutex_);
  if (!removed_) return std::nullopt;
  return fileProviderError(kFileProviderErrorProviderNotFound,
                           "The file provider domain “" + domain_.identifier + "” was removed.");
}

namespace {

// A domain identifier as one path component that stays in its folder.
std::string folderNameForDomain(const std::string& identifier) {
  std::string name = identifier.empty() ? "_" : identifier;
  for (char& c : name)
    if (c == '/' || c == '\0') c = '_';
  if (name[0] == '.') name[0] = '_';
  return name;
}

}  // namespace

std::string FileProviderDomainManager::temporaryDirectory(Error* error) const {
  std::string storage = appendingPathComponent(groupContainerPath_, "File Provider Storage");
  std::string path =
      appendingPathComponent(appendingPathComponent(storage, folderNameForDomain(domain_.identifier)), "Temporary");
  if (!isDirectory(path)) {
    if (!createDirectory(path, true, error)) return {};
  }
  chmod(path.c_str(), 0700);
  return path;
}

void FileProviderDomainManager::signalEnumerator(const std::string& containerIdentifier,
                                                 const Completion& completion) {
  if (std::optional<Error> error = removedDomainError()) {
    if (completion) completion(&*error);
    return;
  }
  SignalObserver observer;
  {
    std::lock_guard lock(mutex_);
    observer = observer_;
  }
  if (observer) observer(containerIdentifier);
  if (completion) completion(nullptr);
}

void FileProviderDomainManager::setSignalObserver(SignalObserver observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void FileProviderDomainManager::getUserVisibleURLForItemIdentifier(const std::string& itemIdentifier,
                                                                   const URLCompletion& completion) {
  std::optional<Error> error = removedDomainError();
  std::optional<std::string> url;
  if (!error) {
    UserVisibleURLResolver resolver;
    {
      std::lock_guard lock(mutex_);
      resolver = userVisibleURLResolver_;
    }
    Error failure = fileProviderErrorForNonExistentItem(itemIdentifier);
    if (resolver) url = resolver(itemIdentifier, &failure);
    if (!url) error = failure;
  }
  if (completion) completion(url, error ? &*error : nullptr);
}

void FileProviderDomainManager::setUserVisibleURLResolver(UserVisibleURLResolver resolver) {
  std::lock_guard lock(mutex_);
  userVisibleURLResolver_ = std::move(resolver);
}

void FileProviderDomainManager::reimportItemsBelowItemWithIdentifier(const std::string& itemIdentifier,
                                                                     const Completion& completion) {
  std::optional<Error> error = removedDomainError();
  if (!error) {
    ReimportHandler handler;
    {
      std::lock_guard lock(mutex_);
      handler = reimportHandler_;
    }
    Error failure;
    if (handler && !handler(itemIdentifier, &failure)) error = failure;
  }
  if (completion) completion(error ? &*error : nullptr);
}

void FileProviderDomainManager::setReimportHandler(ReimportHandler handler) {
  std::lock_guard lock(mutex_);
  reimportHandler_ = std::move(handler);
}

}  // namespace qlt
