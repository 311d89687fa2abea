// Finder tag data: file-provider tag data or a Finder tag list. Tags read
// from either must archive as tag data that reads back to the same tags.
#include "fuzz_check.h"
#include "model/tag_data.h"

using namespace qlt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes bytes(data, data + size);
  std::optional<std::vector<std::string>> names = tagNamesFromTagData(bytes);
  std::optional<std::vector<int64_t>> colors = tagLabelColorsFromTagData(bytes);
  if (!names || !colors || names->size() != colors->size()) return 0;

  std::vector<TagDataEntry> entries;
  for (size_t i = 0; i < names->size(); ++i) entries.push_back({(*names)[i], (*colors)[i]});
  std::optional<Bytes> archived = fileProviderTagData(entries);
  if (!archived) return 0;  // a name that is not UTF-8
  FUZZ_CHECK(tagNamesFromTagData(*archived) == names);
  FUZZ_CHECK(tagLabelColorsFromTagData(*archived) == colors);
  (void)finderTagListData(entries);
  return 0;
}
