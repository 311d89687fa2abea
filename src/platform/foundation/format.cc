#include "platform/foundation/format.h"

#include <cctype>
#include <cstdio>

namespace qlt {

std::string FormatArgument::formatDouble(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  // Prefer the shortest text that reads back as the same value.
  for (int precision = 1; precision <= 17; ++precision) {
    char shorter[64];
    std::snprintf(shorter, sizeof shorter, "%.*g", precision, value);
    if (std::strtod(shorter, nullptr) == value) return shorter;
  }
  return buffer;
}

std::string formatStringWithArguments(std::string_view format, const std::vector<FormatArgument>& arguments) {
  std::string out;
  out.reserve(format.size() + 16 * arguments.size());
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    if (format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    std::optional<int> precision;
    if (format[j] == '.') {
      size_t k = j + 1;
      int value = 0;
      while (k < format.size() && std::isdigit(static_cast<unsigned char>(format[k]))) value = value * 10 + (format[k++] - '0');
      precision = value;
      j = k;
    }
    while (j < format.size() && (format[j] == 'l' || format[j] == 'h' || format[j] == 'q' || format[j] == 'z')) ++j;
    if (j >= format.size()) {
      out.append(format.substr(i));
      break;
    }
    char conversion = format[j];
    static const std::string_view kConversions = "@sdiufgxX";
    if (kConversions.find(conversion) == std::string_view::npos || next >= arguments.size()) {
      out.append(format.substr(i, j - i + 1));
      i = j;
      continue;
    }
    const FormatArgument& argument = arguments[next++];
    if ((conversion == 'f' || conversion == 'g') && argument.number) {
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, conversion == 'f' ? "%.*f" : "%.*g", precision.value_or(6), *argument.number);
      out += buffer;
    } else if ((conversion == 'x' || conversion == 'X') && argument.number) {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, conversion == 'x' ? "%llx" : "%llX",
                    static_cast<unsigned long long>(static_cast<long long>(*argument.number)));
      out += buffer;
    } else {
      out += argument.text;
    }
    i = j;
  }
  return out;
}

}  // namespace qlt
