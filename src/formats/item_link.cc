#include "formats/item_link.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "formats/url_components.h"

namespace qlt {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool hasLinkSchemeAndHost(const URLComponents& url) {
  return equalsIgnoringCase(url.scheme(), kItemSharingLinkScheme) && equalsIgnoringCase(url.host(), kItemSharingLinkHost);
}

bool hasQueryItem(const URLComponents& url, const char* name) {
  for (const URLComponents::QueryItem& item : url.queryItems())
    if (item.name == name) return true;
  return false;
}

std::string percentEncoded(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += hex[c >> 4];
      encoded += hex[c & 15];
    }
  }
  return encoded;
}

// 8-4-4-4-12 hexadecimal digits.
bool isIdentifierText(std::string_view text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

Error malformed(const std::string& reason) {
  return Error(kItemLinkErrorDomain, kItemLinkMalformedErrorCode, "The link is not an item link: " + reason + ".");
}

}  // namespace

std::string itemLinkURL(const std::string& identifier) {
  return std::string(kItemSharingLinkScheme) + "://" + kItemSharingLinkHost + "?" + kItemSharingLinkQueryName + "=" +
         percentEncoded(identifier);
}

bool isItemLink(std::string_view text) {
  std::optional<URLComponents> url = URLComponents::fromString(text);
  return url && hasLinkSchemeAndHost(*url) && hasQueryItem(*url, kItemSharingLinkQueryName);
}

std::optional<std::string> fromItemIdentifier(std::string_view text) {
  std::optional<URLComponents> url = URLComponents::fromString(text);
  if (!url || !hasLinkSchemeAndHost(*url) || !hasQueryItem(*url, kItemSharingLinkQueryName)) return std::nullopt;
  std::optional<std::string> from;
  for (const URLComponents::QueryItem& item : url->queryItems())
    if (item.name == kItemSharingLinkFromQueryName) from = item.value;
  return from;
}

std::string URLWithFromItemIdentifier(std::string_view text, const std::string& identifier) {
  std::optional<URLComponents> url = URLComponents::fromString(text);
  if (!url || !hasLinkSchemeAndHost(*url) || !hasQueryItem(*url, kItemSharingLinkQueryName)) return std::string(text);
  std::string query;
  std::string_view rest = *url->query();
  for (size_t start = 0; start <= rest.size();) {
    size_t end = std::min(rest.find('&', start), rest.size());
    std::string_view part = rest.substr(start, end - start);
    std::string_view name = part.substr(0, part.find('='));
    if (!part.empty() && removingPercentEscapes(name) != std::optional<std::string>(kItemSharingLinkFromQueryName))
      query += (query.empty() ? "" : "&") + std::string(part);
    start = end + 1;
  }
  query += (query.empty() ? "" : "&") + std::string(kItemSharingLinkFromQueryName) + "=" + percentEncoded(identifier);
  std::string result = url->string().substr(0, *url->queryOffset()) + "?" + query;
  if (url->fragment()) result += "#" + *url->fragment();
  return result;
}

std::optional<std::string> linkedItemIdentifier(std::string_view text) {
  std::optional<URLComponents> url = URLComponents::fromString(text);
  if (!url) return std::nullopt;
  for (const URLComponents::QueryItem& item : url->queryItems())
    if (item.name == kItemSharingLinkQueryName) {
      if (!item.value || item.value->empty()) return std::nullopt;
      return item.value;
    }
  return std::nullopt;
}

std::optional<ItemLink> parseItemLink(std::string_view text, Error* error) {
  auto fail = [&](const std::string& reason) -> std::optional<ItemLink> {
    setError(error, malformed(reason));
    return std::nullopt;
  };
  std::optional<URLComponents> url = URLComponents::fromString(text);
  if (!url) return fail("it is not a URL");
  if (!equalsIgnoringCase(url->scheme(), kItemSharingLinkScheme))
    return fail("its scheme is not \"" + std::string(kItemSharingLinkScheme) + "\"");
  if (!equalsIgnoringCase(url->host(), kItemSharingLinkHost))
    return fail("its host is not \"" + std::string(kItemSharingLinkHost) + "\"");
  if (!url->query()) return fail("it names no item");
  if (!url->string().starts_with(url->scheme() + "://" + url->host() + "?"))
    return fail("it has a path, user or port");
  if (url->fragment()) return fail("it has a fragment");
  ItemLink link;
  bool sawItem = false;
  for (const URLComponents::QueryItem& item : url->queryItems()) {
    bool isItem = item.name == kItemSharingLinkQueryName;
    if (!isItem && item.name != kItemSharingLinkFromQueryName) return fail("it has the unknown part \"" + item.name + "\"");
    if (isItem ? sawItem : link.from.has_value()) return fail("it names \"" + item.name + "\" twice");
    if (!item.value || !isIdentifierText(*item.value))
      return fail("\"" + item.name + "\" is not an item identifier");
    if (isItem) {
      link.item = *item.value;
      sawItem = true;
    } else {
      link.from = *item.value;
    }
  }
  if (!sawItem) return fail("it names no item");
  return link;
}

}  // namespace qlt
