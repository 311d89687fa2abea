#include "formats/url_cleaned_for_import.h"

namespace qlt {

URLComponents URLCleanedForImport(const URLComponents& url) {
  if (url.isFileURL()) return url;
  if (url.scheme() == "safari-reader") {
    if (auto cleaned = url.withScheme("http")) return *cleaned;
    return url;
  }
  if (url.scheme() == "about" && url.path() == "reader") {
    for (const URLComponents::QueryItem& item : url.queryItems()) {
      if (item.name != "url") continue;
      if (!item.value) break;
      if (auto page = URLComponents::fromString(*item.value)) return *page;
      break;
    }
  }
  return url;
}

}  // namespace qlt
