#pragma once

#include <compare>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace qlt {

// A point in time counted in seconds since 1 January 2001 00:00:00 UTC, the
// reference date of item versions, sync anchors and property-list dates.
class Date {
 public:
  // Seconds between the Unix epoch and the reference date.
  static constexpr double kUnixEpochOffset = 978307200.0;

  constexpr Date() = default;
  constexpr explicit Date(double secondsSinceReferenceDate) : seconds_(secondsSinceReferenceDate) {}

  static Date now();
  static constexpr Date distantPast() { return Date(-63114076800.0); }
  static constexpr Date distantFuture() { return Date(63113904000.0); }
  static constexpr Date fromUnixTime(double seconds) { return Date(seconds - kUnixEpochOffset); }
  static Date fromTimespec(const struct timespec& time);

  constexpr double timeIntervalSinceReferenceDate() const { return seconds_; }
  constexpr double timeIntervalSince1970() const { return seconds_ + kUnixEpochOffset; }
  struct timespec toTimespec() const;
  Date addingTimeInterval(double seconds) const { return Date(seconds_ + seconds); }
  double timeIntervalSince(const Date& other) const { return seconds_ - other.seconds_; }

  // Two dates match to the second when they lie less than 1.0 s apart.
  bool matchesToTheSecond(const Date& other) const;

  // ISO 8601 in UTC with the suffix Z: "2001-01-01T00:00:00Z".
  std::string iso8601() const;
  // Reads "YYYY-MM-DDTHH:MM:SS[.fff](Z|±HH:MM|±HHMM)".
  [[nodiscard]] static std::optional<Date> fromISO8601(std::string_view text);

  // The date in the local time zone, formatted by ICU with an explicit
  // pattern ("yyyy-MM-dd-HHmmss").
  std::string formattedLocal(const std::string& pattern) const;
  enum class Style { None, Short, Medium, Long, Full };
  // The date in the user's locale and time zone with the given styles.
  std::string formattedLocal(Style dateStyle, Style timeStyle) const;

  std::string description() const;

  constexpr auto operator<=>(const Date&) const = default;

 private:
  double seconds_ = 0;
};

}  // namespace qlt
