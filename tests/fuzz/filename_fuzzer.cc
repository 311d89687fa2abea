// File names and paths that come from outside: item names, note titles,
// paths inside packages and archives, file URLs, link destinations and info
// files. Names made from any text must be safe path components; paths
// must not lead out of the folders they are meant to stay in.
#include "formats/info_file.h"
#include "fuzz_check.h"
#include "platform/files/file_path.h"
#include "util/filename_rules.h"

using namespace qlt;

static void checkNames(const std::string& text) {
  std::string sanitized = stringSanitizedForFileName(text);
  if (!sanitized.empty()) {
    FUZZ_CHECK(isValidFilename(sanitized));
    FUZZ_CHECK(stringSanitizedForFileName(sanitized) == sanitized);
  }
  for (bool truncateToPeriod : {false, true}) {
    std::string generated = generateFilenameTruncatingToPeriod(text, truncateToPeriod);
    FUZZ_CHECK(generated.empty() || isValidFilename(generated));
  }
  int candidates = 0;
  std::string unique = uniqueFilename(text, [&](const std::string&) { return ++candidates <= 3; });
  FUZZ_CHECK(unique.empty() == sanitized.empty());
  FUZZ_CHECK(unique.empty() || isValidFilename(unique));
  FUZZ_CHECK(isEqualToFilename(text, text));
}

static void checkPaths(const std::string& path) {
  const std::string base = "/library/folder";
  std::string standardized = standardizingPath(path);
  FUZZ_CHECK(standardizingPath(standardized) == standardized);
  if (std::optional<std::string> inside = pathInside(base, path)) FUZZ_CHECK(isDescendant(*inside, base));
  if (isContainedLinkDestination(path)) {
    std::string resolved = standardizingPath(base + "/" + path);
    FUZZ_CHECK(resolved == base || isDescendant(resolved, base));
  }
  if (!path.empty() && path.front() == '/' && path.find('\0') == std::string::npos) {
    std::optional<std::string> fromURL = pathFromFileURL(fileURLFromPath(path));
    FUZZ_CHECK(fromURL && *fromURL == standardized);
  }
  (void)pathFromFileURL(path);
  (void)appendingPathExtension(deletingPathExtension(path), pathExtension(path));
  (void)deletingLastPathComponent(path);
  FUZZ_CHECK(lastPathComponent(InfoFile(path).indexFileURL()) == "index.html");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  checkNames(text);
  checkPaths(text);
  return 0;
}
