#pragma once

#include <string>

namespace qlt {

// `name` inside the shared library manager's library package; empty when
// there is no shared manager.
std::string sharedLibraryPackagePath(const std::string& name);

}  // namespace qlt
