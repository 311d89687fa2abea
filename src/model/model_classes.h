#pragma once

namespace qlt {

// Gives the library model's entities their classes: Item, Label and
// RootFolder here, Library and LibraryObject from the store layer. A
// coordinator keeps the class it first found for an entity, so this must
// run before the library store is opened. Safe to call again and from any
// thread.
void registerLibraryModelClasses();

}  // namespace qlt
