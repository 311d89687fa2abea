#pragma once

#include <optional>

#include "platform/foundation/archive_object.h"
#include "platform/foundation/property_list.h"

namespace qlt {

// An RGB colour with alpha, components in 0…1, or one of the system's
// dynamic colours whose value follows the appearance (standard text colour,
// text background colour). Dynamic colours resolve to black and white, the
// light appearance, wherever a fixed value is needed.
class Color {
 public:
  enum class Dynamic { None, TextColor, TextBackgroundColor };

  Color() = default;
  static Color rgb(double red, double green, double blue, double alpha = 1.0);
  static Color white() { return rgb(1, 1, 1); }
  static Color black() { return rgb(0, 0, 0); }
  static Color textColor();
  static Color textBackgroundColor();

  Dynamic dynamic() const { return dynamic_; }
  bool isDynamic() const { return dynamic_ != Dynamic::None; }
  // The colour with a dynamic colour replaced by its fixed value.
  Color fixed() const;

  double red() const { return fixed().red_; }
  double green() const { return fixed().green_; }
  double blue() const { return fixed().blue_; }
  double alpha() const { return fixed().alpha_; }

  // Equal components within half a step of eight bits, dynamic colours
  // compared by their fixed values.
  bool isApproximatelyEqual(const Color& other) const;
  bool isWhite() const { return isApproximatelyEqual(white()); }
  bool isBlack() const { return isApproximatelyEqual(black()); }

  // {"red", "green", "blue", "alpha"}: doubles of the fixed value.
  PropertyList propertyListRepresentation() const;
  // Missing components read as 0 (alpha as 1); values are read as
  // single-precision numbers and clamped to 0…1.
  [[nodiscard]] static std::optional<Color> fromPropertyListRepresentation(const PropertyList& value);

  bool operator==(const Color&) const = default;

 private:
  Dynamic dynamic_ = Dynamic::None;
  double red_ = 0, green_ = 0, blue_ = 0, alpha_ = 1;
};

}  // namespace qlt
