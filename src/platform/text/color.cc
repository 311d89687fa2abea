#include "platform/text/color.h"

#include <algorithm>
#include <cmath>

namespace qlt {

namespace {

double clampUnit(double value) { return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0; }

}  // namespace

Color Color::rgb(double red, double green, double blue, double alpha) {
  Color color;
  color.red_ = clampUnit(red);
  color.green_ = clampUnit(green);
  color.blue_ = clampUnit(blue);
  color.alpha_ = clampUnit(alpha);
  return color;
}

Color Color::textColor() {
  Color color = black();
  color.dynamic_ = Dynamic::TextColor;
  return color;
}

Color Color::textBackgroundColor() {
  Color color = white();
  color.dynamic_ = Dynamic::TextBackgroundColor;
  return color;
}

Color Color::fixed() const {
  switch (dynamic_) {
    case Dynamic::TextColor: return black();
    case Dynamic::TextBackgroundColor: return white();
    case Dynamic::None: break;
  }
  return *this;
}

bool Color::isApproximatelyEqual(const Color& other) const {
  Color a = fixed(), b = other.fixed();
  constexpr double kTolerance = 0.5 / 255.0;
  return std::fabs(a.red_ - b.red_) <= kTolerance && std::fabs(a.green_ - b.green_) <= kTolerance &&
         std::fabs(a.blue_ - b.blue_) <= kTolerance && std::fabs(a.alpha_ - b.alpha_) <= kTolerance;
}

PropertyList Color::propertyListRepresentation() const {
  Color value = fixed();
  return PropertyListDictionary{
      {"red", value.red_}, {"green", value.green_}, {"blue", value.blue_}, {"alpha", value.alpha_}};
}

std::optional<Color> Color::fromPropertyListRepresentation(const PropertyList& value) {
  if (!value.isDictionary()) return std::nullopt;
  auto component = [&](const char* key, double fallback) {
    const PropertyList* found = value.find(key);
    auto number = found ? found->numberValue() : std::nullopt;
    return number ? static_cast<double>(static_cast<float>(*number)) : fallback;
  };
  return rgb(component("red", 0), component("green", 0), component("blue", 0), component("alpha", 1));
}

}  // namespace qlt
