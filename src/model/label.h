#pragma once

#include "store/library/library_object.h"

namespace qlt {

inline constexpr const char* kLabelColorDidChangeNotification = "QLTLabelColorDidChangeNotification";

// A colour as device-RGB components from 0 to 1.
struct RGBA {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;
  bool operator==(const RGBA&) const = default;
};

// A coloured label that items can carry (entity "Label").
class Label : public LibraryObject {
 public:
  // Built from the stored components on every call: the four values are
  // the colour, so there is nothing worth caching that could not go stale.
  RGBA color() const;
  // Stores the components, then posts kLabelColorDidChangeNotification on
  // the main queue with this label as the library manager's view context
  // sees it, when it is found there and still belongs to a library.
  void setColor(const RGBA& color);
};

}  // namespace qlt
