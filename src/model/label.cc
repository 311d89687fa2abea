#include "model/label.h"

#include <array>

#include "platform/foundation/localized_strings.h"
#include "store/main_thread_notification.h"

namespace qlt {
namespace {

constexpr int64_t kLastColorType = static_cast<int64_t>(LabelColorType::Gray);

}  // namespace

std::optional<RGBA> Label::standardColorForColorType(int64_t colorType) {
  static constexpr std::array<RGBA, 7> kColors{{
      {1.0, 0.231, 0.188, 1},    // red
      {1.0, 0.584, 0.0, 1},      // orange
      {1.0, 0.8, 0.0, 1},        // yellow
      {0.298, 0.851, 0.392, 1},  // green
      {0.0, 0.478, 1.0, 1},      // blue
      {0.686, 0.322, 0.871, 1},  // purple
      {0.557, 0.557, 0.576, 1},  // gray
  }};
  if (colorType < 1 || colorType > kLastColorType) return std::nullopt;
  return kColors[static_cast<size_t>(colorType - 1)];
}

std::optional<std::string> Label::localizedNameForColorType(int64_t colorType) {
  static constexpr std::array<const char*, 8> kNames{"Custom", "Red",  "Orange", "Yellow",
                                                     "Green",  "Blue", "Purple", "Gray"};
  if (colorType < 0 || colorType > kLastColorType) return std::nullopt;
  return localizedString(kNames[static_cast<size_t>(colorType)]);
}

RGBA Label::color() const {
  auto component = [this](const char* key, double fallback) {
    Value value = valueForKey(key);
    return value.real() ? *value.real() : fallback;
  };
  return RGBA{component("red", 0), component("green", 0), component("blue", 0), component("alpha", 1)};
}

void Label::setColor(const RGBA& color) {
  setValueForKey("red", color.red);
  setValueForKey("green", color.green);
  setValueForKey("blue", color.blue);
  setValueForKey("alpha", color.alpha);
  postWithMainThreadObject(kLabelColorDidChangeNotification, objectID(),
                           [](const ManagedObject& label) { return !label.valueForKey("library").isNull(); });
}

int64_t Label::colorType() const {
  Value value = valueForKey("colorType");
  return value.integer() ? *value.integer() : 0;
}

void Label::setColorType(int64_t type) {
  int64_t current = colorType();
  setValueForKey("colorType", type);
  if (type == current) return;
  if (auto standard = standardColorForColorType(type)) setColor(*standard);
}

void Label::awakeFromInsert() {
  Group::awakeFromInsert();
  setValueForKey("colorType", static_cast<int64_t>(defaultColorType()));
}

}  // namespace qlt
