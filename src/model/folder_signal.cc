#include "model/folder.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "store/library_manager.h"

namespace qlt {

void Folder::signalFileProviderFolderDidChange() const {
  auto manager = LibraryManager::sharedManager();
  std::optional<FileProviderDomain> domain = manager ? manager->fileProviderDomain() : std::nullopt;
  if (!domain) return;
  FileProviderDomainManager::managerForDomain(*domain, manager->groupContainerPath())
      ->signalEnumerator(fileProviderItemIdentifier());
}

}  // namespace qlt
