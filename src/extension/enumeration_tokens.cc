#include "extension/enumeration_tokens.h"

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"

namespace qlt {
namespace {

constexpr const char* kFoldersReturnedKey = "foldersReturned";
constexpr const char* kItemsReturnedKey = "itemsReturned";

uint64_t unsignedValue(const nlohmann::json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end()) return 0;
  if (found->is_number_unsigned()) return found->get<uint64_t>();
  if (found->is_number_integer()) return static_cast<uint64_t>(std::max<int64_t>(0, found->get<int64_t>()));
  if (found->is_number_float()) {
    double value = found->get<double>();
    // Converting a double outside the range of uint64_t is undefined.
    constexpr double kTwoToThe64 = 18446744073709551616.0;
    if (!(value > 0)) return 0;
    if (value >= kTwoToThe64) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(value);
  }
  return 0;
}

}  // namespace

Bytes syncAnchorForDate(const std::optional<Date>& date) {
  return archivedNumber(date ? date->timeIntervalSinceReferenceDate() : 0.0).value_or(Bytes{});
}

std::optional<Date> dateFromSyncAnchor(const Bytes& anchor) {
  std::optional<ArchiveObject> number = KeyedUnarchiver::unarchivedObject(anchor, {"NSNumber"});
  if (!number) return std::nullopt;
  if (const double* real = number->real()) return Date(*real);
  if (const int64_t* integer = number->integer()) return Date(static_cast<double>(*integer));
  return std::nullopt;
}

Bytes pageTokenForOffsets(uint64_t foldersReturned, uint64_t itemsReturned) {
  nlohmann::json token = {{kFoldersReturnedKey, foldersReturned}, {kItemsReturnedKey, itemsReturned}};
  std::string dumped = token.dump();
  return Bytes(dumped.begin(), dumped.end());
}

std::optional<PageOffsets> offsetsFromPageToken(const Bytes& token) {
  nlohmann::json parsed = nlohmann::json::parse(token.begin(), token.end(), nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) return std::nullopt;
  return PageOffsets{unsignedValue(parsed, kFoldersReturnedKey), unsignedValue(parsed, kItemsReturnedKey)};
}

}  // namespace qlt
