#pragma once

#include <memory>

#include "store/library_model_delegate.h"

namespace qlt {

// Gives the library model's entities their classes (Item, Label and the
// folder classes here; Library and LibraryObject from the store layer). A
// coordinator keeps the class
// it first found for an entity, so this must run before the library store is
// opened. Safe to call again and from any thread.
void registerLibraryModelClasses();

// The folder and tag model's side of loading a library and merging history,
// for the library manager.
std::shared_ptr<LibraryModelDelegate> libraryModelDelegate();

}  // namespace qlt
