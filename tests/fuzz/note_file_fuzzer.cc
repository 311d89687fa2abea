// Note packages: "NoteText", "NoteAttributes", the RTFD part "TXT.rtf" and
// attachment files. A note read from one must write a package that reads
// back to the same text.
#include "formats/note_file.h"
#include "fuzz_check.h"
#include "fuzz_package.h"
#include "platform/text/rtfd.h"

using namespace qlt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<FileWrapper> package = fuzzPackage(data, size, {"NoteText", "NoteAttributes", kRTFDTextFileName});
  std::unique_ptr<NoteFile> note = NoteFile::withFileWrapper(*package);
  if (!note) return 0;
  (void)note->noteTextSuitableForExport();
  std::unique_ptr<FileWrapper> written = note->fileWrapper();
  if (!written) return 0;
  std::unique_ptr<NoteFile> reread = NoteFile::withFileWrapper(*written);
  FUZZ_CHECK(reread);
  FUZZ_CHECK(reread->noteText().string() == note->noteText().string());
  FUZZ_CHECK(reread->showSmallImages() == note->showSmallImages());
  return 0;
}
