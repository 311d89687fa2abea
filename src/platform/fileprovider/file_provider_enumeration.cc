#include "platform/fileprovider/file_provider_enumeration.h"

namespace qlt {
namespace {

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

}  // namespace

Bytes fileProviderInitialPageSortedByDate() { return bytesOf("NSFileProviderInitialPageSortedByDate"); }
Bytes fileProviderInitialPageSortedByName() { return bytesOf("NSFileProviderInitialPageSortedByName"); }

}  // namespace qlt
