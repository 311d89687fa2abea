// Sync anchors and item versions: archived numbers of seconds. A date read
// from one must give an anchor that reads back to the same date.
#include <cstring>

#include "extension/enumeration_tokens.h"
#include "fuzz_check.h"

using namespace qlt;

static bool sameSeconds(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0 || (a != a && b != b); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<Date> date = dateFromSyncAnchor(Bytes(data, data + size));
  if (!date) return 0;
  Bytes anchor = syncAnchorForDate(date);
  FUZZ_CHECK(!anchor.empty());
  std::optional<Date> reread = dateFromSyncAnchor(anchor);
  FUZZ_CHECK(reread);
  FUZZ_CHECK(sameSeconds(reread->timeIntervalSinceReferenceDate(), date->timeIntervalSinceReferenceDate()));
  return 0;
}
