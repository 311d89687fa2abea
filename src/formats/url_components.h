#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qlt {

// An absolute or relative URL split into its parts (RFC 3986). Only text
// made of URL characters and well-formed percent escapes parses; the parts
// keep their escapes.
class URLComponents {
 public:
  struct QueryItem {
    std::string name;
    std::optional<std::string> value;
  };

  // Empty text is no URL.
  [[nodiscard]] static std::optional<URLComponents> fromString(std::string_view text);

  const std::string& string() const { return text_; }
  // Empty when absent.
  const std::string& scheme() const { return scheme_; }
  const std::string& host() const { return host_; }
  const std::string& path() const { return path_; }
  const std::optional<std::string>& query() const { return query_; }
  const std::optional<std::string>& fragment() const { return fragment_; }
  bool isFileURL() const;

  // The byte offset of the host in string(), when there is a host.
  [[nodiscard]] std::optional<size_t> hostOffset() const;
  // The offset of the "?" that opens the query, when there is one.
  [[nodiscard]] std::optional<size_t> queryOffset() const;

  // Names and values with their escapes decoded ("+" stays as it is).
  std::vector<QueryItem> queryItems() const;

  // The same URL under another scheme.
  [[nodiscard]] std::optional<URLComponents> withScheme(std::string_view scheme) const;

  bool operator==(const URLComponents& other) const { return text_ == other.text_; }
  bool operator<(const URLComponents& other) const { return text_ < other.text_; }

 private:
  std::string text_;
  std::string scheme_;
  std::string host_;
  size_t hostOffset_ = 0;
  std::string path_;
  std::optional<std::string> query_;
  size_t queryOffset_ = 0;
  std::optional<std::string> fragment_;
};

// `text` with its percent escapes decoded; nullopt for a malformed escape.
[[nodiscard]] std::optional<std::string> removingPercentEscapes(std::string_view text);

}  // namespace qlt
