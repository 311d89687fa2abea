#include "formats/web_link_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>

#include "formats/url_cleaned_for_import.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_error.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/files/file_system_calls.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/property_list_serialization.h"
#include "platform/foundation/string_comparison.h"
#include "util/filename_rules.h"

namespace qlt {

namespace {

constexpr const char* kURLKey = "URL";
constexpr const char* kRenameOnFirstLoadKey = "QLTRenameOnFirstLoad";

Error webLinkError(long code, const char* message) {
  return Error(kWebLinkFileErrorDomain, code, localizedString(message));
}

Error noURLError() { return webLinkError(kWebLinkFileNoURLErrorCode, "No URL."); }
Error invalidFileError() { return webLinkError(kWebLinkFileInvalidErrorCode, "The file is not a valid webloc file."); }

bool writeFileContents(const std::string& path, const Bytes& data, Error* error) {
  FileSystemCalls& calls = FileSystemCalls::current();
  int fd = calls.openForWriting(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    setError(error, fileWriteError(errno, path));
    return false;
  }
  size_t done = 0;
  int failure = 0;
  while (done < data.size()) {
    ssize_t written = calls.write(fd, data.data() + done, data.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) {
      failure = errno;
      break;
    }
    done += static_cast<size_t>(written);
  }
  if (::close(fd) != 0 && failure == 0) failure = errno;
  if (failure) {
    setError(error, fileWriteError(failure, path));
    return false;
  }
  return true;
}

// Decodes one code point of UTF-8 at `i`, advancing past it; ill-formed
// bytes read as one U+FFFD each.
char32_t nextCodePoint(std::string_view text, size_t& i) {
  unsigned char lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
  if (extra < 0 || i + static_cast<size_t>(extra) > text.size()) return 0xFFFD;
  char32_t value = lead & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    unsigned char next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0) != 0x80) return 0xFFFD;
    value = value << 6 | (next & 0x3F);
    ++i;
  }
  return value;
}

bool isWhitespaceOrNewline(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool containsWhitespaceOrNewline(std::string_view text) {
  for (size_t i = 0; i < text.size();)
    if (isWhitespaceOrNewline(nextCodePoint(text, i))) return true;
  return false;
}

// The URL of one link that covers all of `text`, if there is one.
std::optional<URLComponents> linkCoveringText(const AttributedText& text) {
  size_t length = utf16Length(text.string());
  std::optional<std::string> link;
  size_t covered = 0;
  for (const TextRun& run : text.runs) {
    if (!run.link) continue;
    if (!link) {
      link = run.link;
      covered = utf16Length(run.text);
    } else if (*run.link == *link) {
      covered += utf16Length(run.text);
    }
  }
  if (!link || covered != length) return std::nullopt;
  return URLComponents::fromString(*link);
}

}  // namespace

std::optional<WebLinkFile> WebLinkFile::withFileURL(const std::string& path, Error* error) {
  WebLinkFile file;
  if (!file.readFromURL(path, error)) return std::nullopt;
  return file;
}

bool WebLinkFile::canInitWithURL(const URLComponents& url) { return url.scheme().starts_with("http"); }

std::string WebLinkFile::suggestedNameForURL(const URLComponents& url) {
  std::string name = stringSanitizedForFileName(url.host());
  if (name.empty()) name = localizedString("Untitled Web Link");
  return stringSanitizedForFileName(appendingPathExtension(name, kWebLinkFileExtension));
}

std::string WebLinkFile::summaryStringForURL(const URLComponents& url) {
  std::string summary = url.string();
  auto hostOffset = url.hostOffset();
  if (!hostOffset) return summary;
  size_t end = url.queryOffset().value_or(summary.size());
  summary = summary.substr(*hostOffset, end - *hostOffset);
  if (summary.size() == url.host().size() + 1 && summary.ends_with('/')) summary.pop_back();
  return summary;
}

std::optional<std::vector<URLComponents>> WebLinkFile::webLinkURLsOnPasteboard(const Pasteboard& pasteboard) {
  std::map<std::string, URLComponents> found;
  auto consider = [&found](const std::optional<URLComponents>& candidate) {
    if (!candidate) return;
    URLComponents cleaned = URLCleanedForImport(*candidate);
    if (canInitWithURL(cleaned)) found.emplace(cleaned.string(), cleaned);
  };

  for (const URLComponents& url : pasteboard.urls) consider(url);
  consider(pasteboard.url);
  if (pasteboard.attributedStrings) {
    if (pasteboard.attributedStrings->empty()) return std::nullopt;
    const AttributedText& first = pasteboard.attributedStrings->front();
    std::string text = first.string();
    if ((text.starts_with("http") || text.starts_with(kFirefoxReaderURLPrefix)) &&
        !containsWhitespaceOrNewline(text)) {
      consider(URLComponents::fromString(text));
    } else if (!text.empty()) {
      consider(linkCoveringText(first));
    }
  }
  if (pasteboard.webURLsWithTitles) {
    const PropertyListArray* lists = pasteboard.webURLsWithTitles->array();
    const PropertyListArray* addresses = lists && !lists->empty() ? lists->front().array() : nullptr;
    if (addresses) {
      for (const PropertyList& address : *addresses)
        if (address.string()) consider(URLComponents::fromString(*address.string()));
    }
  }

  std::vector<URLComponents> result;
  result.reserve(found.size());
  for (auto& [text, url] : found) result.push_back(std::move(url));
  return result;
}

bool WebLinkFile::readFromURL(const std::string& path, Error* error) {
  // Pipes and devices would block or never end.
  std::error_code failure;
  auto status = std::filesystem::status(path, failure);
  if (!failure && status.type() != std::filesystem::file_type::regular &&
      status.type() != std::filesystem::file_type::directory) {
    setError(error, invalidFileError());
    return false;
  }
  auto size = fileSize(path, error);
  if (!size) return false;
  if (*size > kWebLinkFileMaximumSize) {
    setError(error, invalidFileError());
    return false;
  }
  auto contents = readFile(path, error);
  if (!contents) return false;
  auto list = parsePropertyList(reinterpret_cast<const uint8_t*>(contents->data()), contents->size(), error);
  if (!list) return false;
  if (!list->isDictionary()) {
    setError(error, invalidFileError());
    return false;
  }
  const PropertyList* address = list->find(kURLKey);
  if (!address) {
    setError(error, noURLError());
    return false;
  }
  const PropertyList* rename = list->find(kRenameOnFirstLoadKey);
  if (!address->isString() || (rename && !rename->isBoolean() && !rename->isNumber() && !rename->isString())) {
    setError(error, invalidFileError());
    return false;
  }
  url_ = URLComponents::fromString(*address->string());
  renameOnFirstLoad_ = rename && rename->boolValue();
  return true;
}

std::optional<Bytes> WebLinkFile::webLinkData(Error* error) const {
  if (!url_) {
    setError(error, noURLError());
    return std::nullopt;
  }
  PropertyListDictionary dictionary;
  dictionary[kURLKey] = url_->string();
  if (renameOnFirstLoad_) dictionary[kRenameOnFirstLoadKey] = true;
  return serializePropertyList(PropertyList(std::move(dictionary)), PropertyListFormat::XML, error);
}

bool WebLinkFile::writeToURL(const std::string& path, Error* error) const {
  bool extensionHidden = true;
  if (auto attributes = attributesOfItem(path)) extensionHidden = attributes->extensionHidden;
  auto data = webLinkData(error);
  if (!data || !writeFileContents(path, *data, error)) return false;
  (void)setExtensionHidden(path, extensionHidden);  // a display flag: the file is written
  return true;
}

std::string WebLinkFile::summaryString() const { return url_ ? summaryStringForURL(*url_) : std::string(); }

}  // namespace qlt
