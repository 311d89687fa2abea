#include "platform/objectstore/key_path.h"

namespace qlt {

std::vector<std::string> splitKeyPath(const std::string& keyPath) {
  std::vector<std::string> keys;
  size_t start = 0;
  for (;;) {
    size_t dot = keyPath.find('.', start);
    keys.push_back(keyPath.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) return keys;
    start = dot + 1;
  }
}

}  // namespace qlt
