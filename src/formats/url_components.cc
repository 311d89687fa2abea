#include "formats/url_components.h"

#include <cctype>
#include <cstring>

namespace qlt {

namespace {

bool isHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return (std::tolower(static_cast<unsigned char>(c)) - 'a') + 10;
}

// Unreserved and reserved characters; '%' is checked with its escape.
bool isURLCharacter(char c) {
  if (std::isalnum(static_cast<unsigned char>(c))) return true;
  return std::strchr("-._~:/?#[]@!$&'()*+,;=", c) != nullptr && c != '\0';
}

bool hasValidCharacters(std::string_view text) {
  bool inFragment = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])) return false;
      i += 2;
      continue;
    }
    if (!isURLCharacter(c)) return false;
    if (c == '#') {
      if (inFragment) return false;
      inFragment = true;
    }
  }
  return true;
}

bool isSchemeCharacter(char c, bool first) {
  if (std::isalpha(static_cast<unsigned char>(c))) return true;
  return !first && (std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.');
}

}  // namespace

std::optional<std::string> removingPercentEscapes(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      result += text[i];
      continue;
    }
    if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])) return std::nullopt;
    result += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
    i += 2;
  }
  return result;
}

std::optional<URLComponents> URLComponents::fromString(std::string_view text) {
  if (text.empty() || !hasValidCharacters(text)) return std::nullopt;
  URLComponents url;
  url.text_ = std::string(text);
  size_t position = 0;

  size_t colon = text.find(':');
  if (colon != std::string_view::npos && colon > 0 && text.find_first_of("/?#") > colon) {
    bool valid = true;
    for (size_t i = 0; i < colon && valid; ++i) valid = isSchemeCharacter(text[i], i == 0);
    // A first segment with a colon but no valid scheme cannot be a relative path either.
    if (!valid) return std::nullopt;
    url.scheme_ = std::string(text.substr(0, colon));
    position = colon + 1;
  }

  if (text.substr(position).starts_with("//")) {
    size_t start = position + 2;
    size_t end = text.find_first_of("/?#", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view authority = text.substr(start, end - start);
    size_t at = authority.rfind('@');
    size_t hostStart = at == std::string_view::npos ? 0 : at + 1;
    std::string_view hostAndPort = authority.substr(hostStart);
    size_t hostLength = hostAndPort.size();
    if (hostAndPort.starts_with('[')) {
      size_t close = hostAndPort.find(']');
      if (close == std::string_view::npos) return std::nullopt;
      hostLength = close + 1;
    } else if (size_t portColon = hostAndPort.rfind(':'); portColon != std::string_view::npos) {
      hostLength = portColon;
    }
    std::string_view rest = hostAndPort.substr(hostLength);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      for (char c : rest.substr(1))
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    }
    url.host_ = std::string(hostAndPort.substr(0, hostLength));
    url.hostOffset_ = start + hostStart;
    position = end;
  }

  size_t pathEnd = text.find_first_of("?#", position);
  if (pathEnd == std::string_view::npos) pathEnd = text.size();
  url.path_ = std::string(text.substr(position, pathEnd - position));
  position = pathEnd;
  if (position < text.size() && text[position] == '?') {
    size_t queryEnd = text.find('#', position);
    if (queryEnd == std::string_view::npos) queryEnd = text.size();
    url.query_ = std::string(text.substr(position + 1, queryEnd - position - 1));
    url.queryOffset_ = position;
    position = queryEnd;
  }
  if (position < text.size()) url.fragment_ = std::string(text.substr(position + 1));
  return url;
}

bool URLComponents::isFileURL() const {
  if (scheme_.size() != 4) return false;
  for (size_t i = 0; i < 4; ++i)
    if (std::tolower(static_cast<unsigned char>(scheme_[i])) != "file"[i]) return false;
  return true;
}

std::optional<size_t> URLComponents::hostOffset() const {
  if (host_.empty()) return std::nullopt;
  return hostOffset_;
}

std::optional<size_t> URLComponents::queryOffset() const {
  if (!query_) return std::nullopt;
  return queryOffset_;
}

std::vector<URLComponents::QueryItem> URLComponents::queryItems() const {
  std::vector<QueryItem> items;
  if (!query_) return items;
  std::string_view query = *query_;
  for (size_t start = 0; start <= query.size();) {
    size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    std::string_view item = query.substr(start, end - start);
    size_t equals = item.find('=');
    QueryItem parsed;
    std::string_view name = item.substr(0, equals);
    parsed.name = removingPercentEscapes(name).value_or(std::string(name));
    if (equals != std::string_view::npos) {
      std::string_view value = item.substr(equals + 1);
      parsed.value = removingPercentEscapes(value).value_or(std::string(value));
    }
    items.push_back(std::move(parsed));
    start = end + 1;
  }
  return items;
}

std::optional<URLComponents> URLComponents::withScheme(std::string_view scheme) const {
  std::string rest = scheme_.empty() ? text_ : text_.substr(scheme_.size() + 1);
  return fromString(std::string(scheme) + ":" + rest);
}

}  // namespace qlt
