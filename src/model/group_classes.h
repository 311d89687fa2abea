#pragma once

namespace qlt {

// Gives the group entities that are not folders their classes (Group,
// Bundle, LibraryGroup, the special groups, SearchGroup). Like
// registerLibraryModelClasses, it must run before the library store is
// opened; safe to call again and from any thread.
void registerGroupClasses();

}  // namespace qlt
