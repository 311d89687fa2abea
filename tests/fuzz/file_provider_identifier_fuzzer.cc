// File-provider identifiers: "<Entity>|<identifier>[|<version>]". The parts
// read from any identifier must make an identifier that reads back to them.
#include <algorithm>

#include "fuzz_check.h"
#include "store/library_object.h"

using namespace qlt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string identifier(reinterpret_cast<const char*>(data), size);
  std::string entity = LibraryObject::entityNameFromFileProviderIdentifier(identifier);
  int64_t version = LibraryObject::versionFromFileProviderIdentifier(identifier);
  std::optional<std::string> object = LibraryObject::libraryObjectIdentifierFromFileProviderIdentifier(identifier);
  if (!object) return 0;

  std::string made = LibraryObject::fileProviderIdentifierForEntity(entity, *object, version);
  FUZZ_CHECK(LibraryObject::entityNameFromFileProviderIdentifier(made) == entity);
  FUZZ_CHECK(LibraryObject::libraryObjectIdentifierFromFileProviderIdentifier(made) == object);
  FUZZ_CHECK(LibraryObject::versionFromFileProviderIdentifier(made) == std::max<int64_t>(version, 0));
  return 0;
}
