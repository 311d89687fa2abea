// Archive files (".qltarchive"): a keyed archive of a file tree with its
// metadata. Whatever reads must restore strictly inside the place it is
// restored to, and must archive again to an archive that reads back.
#include <filesystem>

#include "formats/archive_file.h"
#include "fuzz_check.h"
#include "fuzz_scratch.h"

using namespace qlt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = writeFuzzScratchFile("input.qltarchive", data, size);
  std::shared_ptr<ArchiveFile> archive = ArchiveFile::archiveFromFileAtURL(path);
  if (!archive) return 0;

  std::filesystem::path restoreFolder = fuzzScratchDirectory() / "restored";
  std::filesystem::create_directory(restoreFolder);
  std::string restored = (restoreFolder / "item").string();
  if (archive->writeToURL(restored)) {
    std::string rearchivedPath = (fuzzScratchDirectory() / "rearchived.qltarchive").string();
    std::shared_ptr<ArchiveFile> snapshot = ArchiveFile::withURL(restored);
    FUZZ_CHECK(snapshot);
    FUZZ_CHECK(snapshot->writeArchiveToURL(rearchivedPath));
    FUZZ_CHECK(ArchiveFile::archiveFromFileAtURL(rearchivedPath));
  }
  // Nothing may land beside the restored item.
  size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(restoreFolder)) entries += entry.path().filename() == "item" ? 0 : 1;
  FUZZ_CHECK(entries == 0);
  std::filesystem::remove_all(restoreFolder);
  return 0;
}
