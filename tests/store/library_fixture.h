#pragma once

#include <memory>

#include "support/scoped_environment.h"
#include "support/scratch_directory.h"
#include "store/library.h"
#include "store/library_manager.h"

namespace qlt {

// A library manager loaded on a fresh group container.
class LibraryFixture {
 public:
  explicit LibraryFixture(std::shared_ptr<LibraryModelDelegate> model = nullptr)
      : container_("QLT_GROUP_CONTAINER", scratch.path().c_str()) {
    manager = std::make_shared<LibraryManager>(std::move(model));
    LibraryManager::setSharedManager(manager);
    manager->loadLibrary([this](std::shared_ptr<Library> loaded, const Error* error) {
      library = loaded;
      if (error) loadError = *error;
    });
  }
  ~LibraryFixture() { LibraryManager::setSharedManager(nullptr); }

  ManagedObjectContext& view() { return manager->container()->viewContext(); }

  ScratchDirectory scratch;
  std::shared_ptr<LibraryManager> manager;
  std::shared_ptr<Library> library;
  Error loadError;

 private:
  ScopedEnvironment container_;
};

}  // namespace qlt
