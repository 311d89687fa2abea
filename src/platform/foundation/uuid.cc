#include "platform/foundation/uuid.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <mutex>
#include <random>

namespace qlt {

std::string newUUIDString() {
  static auto& mutex = *new std::mutex;
  static auto& generator = *new std::mt19937_64{std::random_device{}()};
  std::array<uint8_t, 16> bytes;
  {
    std::lock_guard lock(mutex);
    uint64_t high = generator(), low = generator();
    for (int i = 0; i < 8; ++i) {
      bytes[i] = static_cast<uint8_t>(high >> (8 * i));
      bytes[8 + i] = static_cast<uint8_t>(low >> (8 * i));
    }
  }
  bytes[6] = (bytes[6] & 0x0F) | 0x40;
  bytes[8] = (bytes[8] & 0x3F) | 0x80;
  static const char* kDigits = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

bool isUUIDString(std::string_view text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    if (hyphen ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

}  // namespace qlt
