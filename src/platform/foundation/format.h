#pragma once

#include <concepts>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qlt {

// One argument of a printf-style format, already turned into text (and kept
// as a number when it is one, for "%f" and friends).
struct FormatArgument {
  std::string text;
  std::optional<double> number;

  FormatArgument(const std::string& value) : text(value) {}
  FormatArgument(std::string_view value) : text(value) {}
  FormatArgument(const char* value) : text(value ? value : "(null)") {}
  FormatArgument(bool value) : text(value ? "YES" : "NO") {}
  template <std::integral T>
    requires(!std::same_as<T, bool>)
  FormatArgument(T value) : text(std::to_string(value)), number(static_cast<double>(value)) {}
  template <std::floating_point T>
  FormatArgument(T value) : number(static_cast<double>(value)) {
    text = formatDouble(static_cast<double>(value));
  }
  // Anything with a description() (errors, dates, identifiers...).
  template <typename T>
    requires requires(const T& v) { { v.description() } -> std::convertible_to<std::string>; }
  FormatArgument(const T& value) : text(value.description()) {}

  static std::string formatDouble(double value);
};

// Formats like the platform's string formatting: "%@", "%s", "%d", "%i",
// "%ld", "%lu", "%lld", "%llu", "%u", "%f" with an optional precision such as
// "%.1f", and "%%". Arguments are consumed in order; a missing argument
// leaves the specifier as written.
std::string formatStringWithArguments(std::string_view format, const std::vector<FormatArgument>& arguments);

template <typename... Args>
std::string formatString(std::string_view format, const Args&... args) {
  return formatStringWithArguments(format, std::vector<FormatArgument>{FormatArgument(args)...});
}

}  // namespace qlt
