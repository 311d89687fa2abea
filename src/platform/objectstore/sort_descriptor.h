#pragma once

#include <string>
#include <vector>

#include "platform/objectstore/value.h"

namespace qlt {

// One key of a fetch's order. `key` may be a key path through to-one
// relationships.
struct SortDescriptor {
  enum class Comparison {
    Plain,              // numbers by value, strings by code point
    CaseInsensitive,    // strings ignoring case
    LocalizedStandard,  // the file manager's order (digits as numbers)
  };
  std::string key;
  bool ascending = true;
  Comparison comparison = Comparison::Plain;

  static SortDescriptor localizedStandard(std::string key, bool ascending = true) {
    return {std::move(key), ascending, Comparison::LocalizedStandard};
  }
};

// Orders two values as the store's SQL does: nil first, then numbers (and
// Booleans and dates) by value, then strings under `comparison`, then data.
int compareForSort(const Value& lhs, const Value& rhs, SortDescriptor::Comparison comparison);

}  // namespace qlt
