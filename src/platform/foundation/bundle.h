#pragma once

#include <string>

namespace qlt {

// The identifier of the running program, as other processes see it (the
// author of its database transactions, its key in shared bookkeeping).
// Programs set it once at start; the default is the extension's.
inline constexpr const char* kExtensionBundleIdentifier = "com.quillet.fileprovider";

std::string mainBundleIdentifier();
void setMainBundleIdentifier(std::string identifier);

}  // namespace qlt
