#pragma once

#include <memory>

#include "store/library_model_constants.h"
#include "platform/objectstore/managed_object_model.h"

namespace qlt {

// The data model of the library database, named kLibraryContainerName, with
// the annotations of library_model_constants.h. Built on first use, once
// per process; safe to call from any thread.
std::shared_ptr<const ManagedObjectModel> libraryModel();

}  // namespace qlt
