#include "model/folder.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/foundation/log.h"
#include "store/library_manager.h"

namespace qlt {

void Folder::signalFileProviderFolderDidChange() const {
  if (!libraryUsesFileProvider()) return;
  auto manager = LibraryManager::sharedManager();
  std::optional<FileProviderDomain> domain = manager ? manager->fileProviderDomain() : std::nullopt;
  if (!domain) return;
  FileProviderDomainManager::managerForDomain(*domain, manager->groupContainerPath())
      ->signalEnumerator(fileProviderItemIdentifier(), [](const Error* error) {
        if (error) log("Couldn't signal working set changed after fetch changes: %@", *error);
      });
}

}  // namespace qlt
