#include "platform/foundation/date.h"

#include <unicode/datefmt.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

namespace qlt {

Date Date::now() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  return fromUnixTime(std::chrono::duration<double>(since).count());
}

Date Date::fromTimespec(const struct timespec& time) {
  return fromUnixTime(static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9);
}

namespace {

// Seconds since 1970 within the dates the system can represent: dates read
// from outside may be anything, NaN and infinities included.
double representableUnixTime(const Date& date) {
  double unix = date.timeIntervalSince1970();
  if (std::isnan(unix)) return 0;
  return std::clamp(unix, Date::distantPast().timeIntervalSince1970(), Date::distantFuture().timeIntervalSince1970());
}

}  // namespace

struct timespec Date::toTimespec() const {
  double unix = representableUnixTime(*this);
  double whole = std::floor(unix);
  struct timespec time {};
  time.tv_sec = static_cast<time_t>(whole);
  time.tv_nsec = static_cast<long>(std::llround((unix - whole) * 1e9));
  if (time.tv_nsec >= 1000000000L) {
    time.tv_sec += 1;
    time.tv_nsec -= 1000000000L;
  }
  return time;
}

bool Date::matchesToTheSecond(const Date& other) const { return std::fabs(seconds_ - other.seconds_) < 1.0; }

std::string Date::iso8601() const {
  time_t seconds = static_cast<time_t>(std::floor(representableUnixTime(*this)));
  struct tm parts {};
  gmtime_r(&seconds, &parts);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return buffer;
}

namespace {

bool readDigits(std::string_view text, size_t& at, int count, int& value) {
  value = 0;
  for (int i = 0; i < count; ++i, ++at) {
    if (at >= text.size() || text[at] < '0' || text[at] > '9') return false;
    value = value * 10 + (text[at] - '0');
  }
  return true;
}

bool expect(std::string_view text, size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

}  // namespace

std::optional<Date> Date::fromISO8601(std::string_view text) {
  size_t at = 0;
  int year, month, day, hour, minute, second;
  if (!readDigits(text, at, 4, year) || !expect(text, at, '-') || !readDigits(text, at, 2, month) ||
      !expect(text, at, '-') || !readDigits(text, at, 2, day) || !expect(text, at, 'T') ||
      !readDigits(text, at, 2, hour) || !expect(text, at, ':') || !readDigits(text, at, 2, minute) ||
      !expect(text, at, ':') || !readDigits(text, at, 2, second))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
  double fraction = 0;
  if (at < text.size() && text[at] == '.') {
    ++at;
    double scale = 0.1;
    size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      fraction += (text[at++] - '0') * scale;
      scale /= 10;
    }
    if (at == start) return std::nullopt;
  }
  int offsetSeconds = 0;
  if (at < text.size() && text[at] == 'Z') {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    int sign = text[at++] == '-' ? -1 : 1;
    int hours, minutes;
    if (!readDigits(text, at, 2, hours)) return std::nullopt;
    if (at < text.size() && text[at] == ':') ++at;
    if (!readDigits(text, at, 2, minutes)) return std::nullopt;
    offsetSeconds = sign * (hours * 3600 + minutes * 60);
  } else {
    return std::nullopt;
  }
  if (at != text.size()) return std::nullopt;
  struct tm parts {};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  time_t unix = timegm(&parts);
  return fromUnixTime(static_cast<double>(unix) - offsetSeconds + fraction);
}

namespace {

icu::DateFormat::EStyle icuStyle(Date::Style style) {
  switch (style) {
    case Date::Style::None: return icu::DateFormat::kNone;
    case Date::Style::Short: return icu::DateFormat::kShort;
    case Date::Style::Medium: return icu::DateFormat::kMedium;
    case Date::Style::Long: return icu::DateFormat::kLong;
    case Date::Style::Full: return icu::DateFormat::kFull;
  }
  return icu::DateFormat::kNone;
}

std::string formatWith(icu::DateFormat* formatter, double seconds) {
  if (!formatter) return {};
  icu::UnicodeString text;
  formatter->format(static_cast<UDate>((seconds + Date::kUnixEpochOffset) * 1000.0), text);
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace

std::string Date::formattedLocal(const std::string& pattern) const {
  UErrorCode status = U_ZERO_ERROR;
  icu::SimpleDateFormat formatter(icu::UnicodeString::fromUTF8(pattern), status);
  if (U_FAILURE(status)) return {};
  return formatWith(&formatter, seconds_);
}

std::string Date::formattedLocal(Style dateStyle, Style timeStyle) const {
  std::unique_ptr<icu::DateFormat> formatter(
      icu::DateFormat::createDateTimeInstance(icuStyle(dateStyle), icuStyle(timeStyle)));
  return formatWith(formatter.get(), seconds_);
}

std::string Date::description() const {
  double since1970 = std::floor(timeIntervalSince1970());
  // Beyond what time_t and gmtime_r can express (about 31 million years
  // either way is safe), and for NaN, the seconds themselves.
  if (!(std::fabs(since1970) < 1e15)) {
    char number[64];
    std::snprintf(number, sizeof number, "%g seconds since 2001-01-01 00:00:00 +0000", seconds_);
    return number;
  }
  time_t seconds = static_cast<time_t>(since1970);
  struct tm parts {};
  gmtime_r(&seconds, &parts);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d +0000", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return buffer;
}

}  // namespace qlt
