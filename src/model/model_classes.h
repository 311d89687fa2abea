#pragma once

namespace qlt {

// Gives the library model's entities their classes (Item, Label and the
// folder classes here; Library and LibraryObject from the store layer) and
// installs the library manager's folder hooks. A coordinator keeps the class
// it first found for an entity, so this must run before the library store is
// opened. Safe to call again and from any thread.
void registerLibraryModelClasses();

}  // namespace qlt
