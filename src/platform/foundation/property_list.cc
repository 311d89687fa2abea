#include "platform/foundation/property_list.h"

#include <cmath>
#include <cstdlib>

namespace qlt {

std::optional<double> PropertyList::numberValue() const {
  if (auto v = integer()) return static_cast<double>(*v);
  if (auto v = real()) return *v;
  if (auto v = boolean()) return *v ? 1.0 : 0.0;
  if (auto v = string()) {
    char* end = nullptr;
    double parsed = std::strtod(v->c_str(), &end);
    if (end != v->c_str()) return parsed;
  }
  return std::nullopt;
}

std::optional<int64_t> PropertyList::integerValue() const {
  if (auto v = integer()) return *v;
  auto number = numberValue();
  if (!number || !std::isfinite(*number) || std::fabs(*number) >= 9.2e18) return std::nullopt;
  return static_cast<int64_t>(*number);
}

bool PropertyList::boolValue() const {
  if (auto v = boolean()) return *v;
  if (auto v = string()) {
    if (v->empty()) return false;
    char first = (*v)[0];
    if (first == 'Y' || first == 'y' || first == 'T' || first == 't') return true;
    return std::atoi(v->c_str()) != 0;
  }
  auto number = numberValue();
  return number && *number != 0;
}

const PropertyList* PropertyList::find(const std::string& key) const {
  auto dict = dictionary();
  if (!dict) return nullptr;
  auto found = dict->find(key);
  return found == dict->end() ? nullptr : &found->second;
}

}  // namespace qlt
