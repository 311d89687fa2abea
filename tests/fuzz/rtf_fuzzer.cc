// RTF from outside (imports, pasteboards, RTFD packages). Text read from it
// must write RTF that reads back to the same characters, and writing that
// again must give the same RTF.
#include <string_view>

#include "fuzz_check.h"
#include "platform/text/rtf.h"

using namespace qlt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<RTFReadResult> read = readRTF(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!read) return 0;
  std::string written = rtfFromAttributedString(read->text);
  std::optional<RTFReadResult> reread = readRTF(written);
  FUZZ_CHECK(reread);
  FUZZ_CHECK(reread->text.string() == read->text.string());
  FUZZ_CHECK(rtfFromAttributedString(reread->text) == written);
  return 0;
}
