// Page tokens come back from the service as it was given them, or made up.
#include "extension/enumeration_tokens.h"
#include "fuzz_check.h"

using namespace qlt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<PageOffsets> offsets = offsetsFromPageToken(Bytes(data, data + size));
  if (!offsets) return 0;
  std::optional<PageOffsets> reread =
      offsetsFromPageToken(pageTokenForOffsets(offsets->foldersReturned, offsets->itemsReturned));
  FUZZ_CHECK(reread && *reread == *offsets);
  return 0;
}
