// Binary and XML property lists. Whatever parses must write again in both
// formats, and a written list must read back to the same bytes when
// written once more.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "platform/foundation/property_list_serialization.h"

using namespace qlt;

static void checkRoundTrip(const PropertyList& value, PropertyListFormat format) {
  auto written = serializePropertyList(value, format);
  if (!written) return;  // e.g. strings that are not valid UTF-8
  PropertyListFormat readFormat;
  auto reread = parsePropertyList(*written, nullptr, &readFormat);
  FUZZ_CHECK(reread);
  FUZZ_CHECK(readFormat == format);
  auto rewritten = serializePropertyList(*reread, format);
  FUZZ_CHECK(rewritten && *rewritten == *written);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto value = parsePropertyList(data, size);
  if (!value) return 0;
  checkRoundTrip(*value, PropertyListFormat::Binary);
  checkRoundTrip(*value, PropertyListFormat::XML);
  return 0;
}
