#pragma once

#include "formats/url_components.h"

namespace qlt {

// The address of a reader view: Firefox's "about:reader?url=<address>".
inline constexpr const char* kFirefoxReaderURLPrefix = "about:reader";

// The page address behind a reader view's address ("safari-reader:" becomes
// "http:", "about:reader" gives its "url" query item); every other URL,
// file URLs among them, is returned unchanged.
URLComponents URLCleanedForImport(const URLComponents& url);

}  // namespace qlt
