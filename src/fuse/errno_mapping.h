#pragma once

#include "platform/foundation/error.h"

namespace qlt::fuse {

// The errno a program expects for an error of the extension.
int errnoFor(const Error& error);

}  // namespace qlt::fuse
