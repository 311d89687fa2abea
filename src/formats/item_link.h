#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"

namespace qlt {

// Links that name an item: quillet://link?item=I, or with "&from=J" when
// the link was placed in the item J.
inline constexpr const char* kItemSharingLinkScheme = "quillet";
inline constexpr const char* kItemSharingLinkHost = "link";
inline constexpr const char* kItemSharingLinkQueryName = "item";
inline constexpr const char* kItemSharingLinkFromQueryName = "from";
// Standard defaults: share an item as its name and link.
inline constexpr const char* kItemSharingIncludeItemLinkKey = "QLTItemSharingIncludeItemLink";

inline constexpr const char* kItemLinkErrorDomain = "QLTItemLinkErrorDomain";
inline constexpr long kItemLinkMalformedErrorCode = 10001;
inline constexpr long kItemLinkNoSuchItemErrorCode = 10002;

std::string itemLinkURL(const std::string& identifier);
// The scheme is the link scheme, the host "link", and some query item is
// named "item".
bool isItemLink(std::string_view url);
// For a URL of the link scheme and host with an "item" query item: the
// last "from" value.
std::optional<std::string> fromItemIdentifier(std::string_view url);
// An item link with every "from" removed and one "from" = `identifier`
// appended; any other URL unchanged.
std::string URLWithFromItemIdentifier(std::string_view url, const std::string& identifier);
// The value of the first query item named "item", whatever the scheme;
// nothing when it has no value or there is none.
std::optional<std::string> linkedItemIdentifier(std::string_view url);

// A link that comes from outside, read strictly: the link scheme and host,
// no user, port, path or fragment, exactly one "item" and at most one
// "from", nothing else, and each value an item identifier (UUID text).
struct ItemLink {
  std::string item;
  std::optional<std::string> from;
};
[[nodiscard]] std::optional<ItemLink> parseItemLink(std::string_view url, Error* error = nullptr);

}  // namespace qlt
