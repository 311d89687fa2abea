#pragma once

#include <memory>

#include "platform/objectstore/managed_object_model.h"

namespace qlt {

// Name of the changes database's model, and of its container.
inline constexpr const char* kLibraryChangesModelName = "LibraryChanges";

inline constexpr const char* kChangeSetEntityName = "ChangeSet";
inline constexpr const char* kChangeRecordEntityName = "ChangeRecord";
inline constexpr const char* kDeletedFileProviderItemEntityName = "DeletedFileProviderItem";
inline constexpr const char* kDeletedRecordEntityName = "DeletedRecord";

// Gives the entities of the changes model their classes (LibraryChangeSet
// and the others). libraryChangesModel() does it first, so any container
// built on that model finds them. Safe to call again and from any thread.
void registerLibraryChangesClasses();

// The data model of the changes database: change sets with their change
// records (an outbox of cloud record changes), and rows of deleted
// file-provider items and cloud records. Built on first use, once per
// process; safe to call from any thread.
std::shared_ptr<const ManagedObjectModel> libraryChangesModel();

}  // namespace qlt
