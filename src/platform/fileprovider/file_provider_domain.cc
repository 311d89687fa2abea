#include "platform/fileprovider/file_provider_domain.h"

#include <sys/stat.h>

#include <map>

#include "platform/files/file_path.h"
#include "platform/files/file_system.h"

namespace qlt {

std::shared_ptr<FileProviderDomainManager> FileProviderDomainManager::managerForDomain(
    const FileProviderDomain& domain, const std::string& groupContainerPath) {
  static std::mutex mutex;
  static std::map<std::pair<std::string, std::string>, std::shared_ptr<FileProviderDomainManager>> managers;
  std::lock_guard lock(mutex);
  auto& manager = managers[{groupContainerPath, domain.identifier}];
  if (!manager) manager = std::make_shared<FileProviderDomainManager>(domain, groupContainerPath);
  return manager;
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

void FileProviderDomainManager::signalEnumerator(const std::string& containerIdentifier) {
  SignalObserver observer;
  {
    std::lock_guard lock(mutex_);
    signalled_.push_back(containerIdentifier);
    observer = observer_;
  }
  if (observer) observer(containerIdentifier);
}

void FileProviderDomainManager::setSignalObserver(SignalObserver observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

std::vector<std::string> FileProviderDomainManager::signalledContainers() const {
  std::lock_guard lock(mutex_);
  return signalled_;
}

void FileProviderDomainManager::reimportItemsBelowItemWithIdentifier(
    const std::string& itemIdentifier, const std::function<void(const Error* error)>& completion) {
  ReimportHandler handler;
  {
    std::lock_guard lock(mutex_);
    handler = reimportHandler_;
  }
  std::optional<Error> error = handler ? handler(itemIdentifier) : std::nullopt;
  if (completion) completion(error ? &*error : nullptr);
}

void FileProviderDomainManager::setReimportHandler(ReimportHandler handler) {
  std::lock_guard lock(mutex_);
  reimportHandler_ = std::move(handler);
}

}  // namespace qlt
