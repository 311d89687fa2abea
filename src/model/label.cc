#include "model/label.h"

#include "store/library/main_thread_notification.h"

namespace qlt {

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

}  // namespace qlt
