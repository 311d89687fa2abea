// RTFD packages: "TXT.rtf" and attachment files. A package written from
// what was read must read back, and a second round must keep the text.
#include "fuzz_check.h"
#include "fuzz_package.h"
#include "platform/text/rtfd.h"

using namespace qlt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<FileWrapper> package = fuzzPackage(data, size, {kRTFDTextFileName});
  std::optional<RTFReadResult> read = readRTFD(*package);
  if (!read) return 0;
  std::unique_ptr<FileWrapper> written = rtfdFileWrapper(read->text);
  if (!written) return 0;
  std::optional<RTFReadResult> reread = readRTFD(*written);
  FUZZ_CHECK(reread);
  std::unique_ptr<FileWrapper> rewritten = rtfdFileWrapper(reread->text);
  FUZZ_CHECK(rewritten);
  std::optional<RTFReadResult> third = readRTFD(*rewritten);
  FUZZ_CHECK(third && third->text.string() == reread->text.string());
  return 0;
}
