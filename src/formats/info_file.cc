#include "formats/info_file.h"

#include <cctype>

#include "platform/files/file_path.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/uniform_type.h"

namespace qlt {

std::string infoFileType() {
  std::string type(kProductIdentifierPrefix);
  for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return type + ".info";
}

InfoFile InfoFile::withFileURL(std::string fileURL, Error*) { return InfoFile(std::move(fileURL)); }

std::string InfoFile::welcomeFileSummary() {
  return localizedString("Useful information about Quillet's main features, and how to get started.");
}

std::string InfoFile::indexFileURL() const {
  return appendingPathComponent(appendingPathComponent(fileURL_, platformDirectory()), "index.html");
}

std::string InfoFile::darkStylesFileURL() const {
  return appendingPathComponent(appendingPathComponent(fileURL_, platformDirectory()), "dark.html");
}

}  // namespace qlt
