// Search options as search groups keep them. Options read from an archive
// must archive again to an archive that reads back to the same options, and
// must turn into predicates without failing hard.
#include "fuzz_check.h"
#include "search/search_option.h"
#include "search/search_option_archive.h"

using namespace qlt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<std::vector<SearchOption>> options = unarchivedSearchOptions(Bytes(data, data + size));
  if (!options) return 0;
  std::optional<Bytes> archived = archivedSearchOptions(*options);
  if (!archived) return 0;
  std::optional<std::vector<SearchOption>> reread = unarchivedSearchOptions(*archived);
  FUZZ_CHECK(reread);
  std::optional<Bytes> rearchived = archivedSearchOptions(*reread);
  FUZZ_CHECK(rearchived && *rearchived == *archived);
  const SearchClock clock{Date(0)};
  for (const SearchOption& option : *options) (void)option.predicate(clock);
  return 0;
}
