#pragma once

#include <optional>
#include <string>
#include <vector>

#include "formats/pasteboard.h"
#include "formats/url_components.h"
#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"

namespace qlt {

inline constexpr const char* kWebLinkFileExtension = "webloc";
inline constexpr const char* kWebLinkFileType = "com.apple.web-internet-location";

inline constexpr const char* kWebLinkFileErrorDomain = "QLTWebLinkFileErrorDomain";
inline constexpr long kWebLinkFileNoURLErrorCode = 10001;
inline constexpr long kWebLinkFileInvalidErrorCode = 10002;

// Web-link files bigger than this are refused unread.
inline constexpr uint64_t kWebLinkFileMaximumSize = 1 << 20;

// An internet-location file (".webloc"): an XML property list holding the
// address under "URL", plus "QLTRenameOnFirstLoad" when the item is to take
// the page's title once the link first loads.
class WebLinkFile {
 public:
  WebLinkFile() = default;

  // A web link read from the file at `path`.
  [[nodiscard]] static std::optional<WebLinkFile> withFileURL(const std::string& path, Error* error = nullptr);

  // Whether the scheme begins with "http" (as written, case-sensitive).
  static bool canInitWithURL(const URLComponents& url);
  // The host as a file name ("Untitled Web Link" without one), with the
  // extension "webloc".
  static std::string suggestedNameForURL(const URLComponents& url);
  // The address from the host on, without the query and without a lone "/"
  // after the host.
  static std::string summaryStringForURL(const URLComponents& url);
  // The distinct web addresses on `pasteboard`, cleaned for import; nullopt
  // when it offers attributed strings but gives none.
  [[nodiscard]] static std::optional<std::vector<URLComponents>> webLinkURLsOnPasteboard(const Pasteboard& pasteboard);

  [[nodiscard]] bool readFromURL(const std::string& path, Error* error = nullptr);
  [[nodiscard]] std::optional<Bytes> webLinkData(Error* error = nullptr) const;
  // Keeps the hidden-extension flag of the file it replaces; a new file gets
  // a hidden extension.
  [[nodiscard]] bool writeToURL(const std::string& path, Error* error = nullptr) const;

  // Empty without URL.
  std::string summaryString() const;

  const std::optional<URLComponents>& URL() const { return url_; }
  void setURL(std::optional<URLComponents> url) { url_ = std::move(url); }
  bool renameOnFirstLoad() const { return renameOnFirstLoad_; }
  void setRenameOnFirstLoad(bool rename) { renameOnFirstLoad_ = rename; }

 private:
  std::optional<URLComponents> url_;
  bool renameOnFirstLoad_ = false;
};

}  // namespace qlt
