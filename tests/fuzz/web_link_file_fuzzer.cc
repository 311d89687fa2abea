// Web-link files (".webloc") as they arrive in the library. A link read from
// one must write a file that reads back to the same link, and its summary
// must be made without failing.
#include "formats/web_link_file.h"
#include "fuzz_check.h"
#include "fuzz_scratch.h"

using namespace qlt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = writeFuzzScratchFile("link.webloc", data, size);
  std::optional<WebLinkFile> link = WebLinkFile::withFileURL(path);
  if (!link) return 0;
  (void)link->summaryString();
  if (link->URL()) {
    (void)WebLinkFile::suggestedNameForURL(*link->URL());
    (void)WebLinkFile::canInitWithURL(*link->URL());
  }
  std::optional<Bytes> written = link->webLinkData();
  if (!written) return 0;  // no URL, or one that is not UTF-8
  std::string rewrittenPath = writeFuzzScratchFile("rewritten.webloc", written->data(), written->size());
  std::optional<WebLinkFile> reread = WebLinkFile::withFileURL(rewrittenPath);
  FUZZ_CHECK(reread);
  FUZZ_CHECK(reread->URL() == link->URL());
  FUZZ_CHECK(reread->renameOnFirstLoad() == link->renameOnFirstLoad());
  return 0;
}
