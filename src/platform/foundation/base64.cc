#include "platform/foundation/base64.h"

namespace qlt {
namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

std::string base64Encode(const Bytes& data) {
  std::string text;
  text.reserve((data.size() + 2) / 3 * 4);
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t chunk = uint32_t(data[i]) << 16;
    if (i + 1 < data.size()) chunk |= uint32_t(data[i + 1]) << 8;
    if (i + 2 < data.size()) chunk |= data[i + 2];
    text += kAlphabet[(chunk >> 18) & 63];
    text += kAlphabet[(chunk >> 12) & 63];
    text += i + 1 < data.size() ? kAlphabet[(chunk >> 6) & 63] : '=';
    text += i + 2 < data.size() ? kAlphabet[chunk & 63] : '=';
  }
  return text;
}

std::optional<Bytes> base64Decode(std::string_view text) {
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  if (text.size() % 4 == 1) return std::nullopt;
  Bytes data;
  data.reserve(text.size() * 3 / 4);
  uint32_t buffer = 0;
  int bits = 0;
  for (char c : text) {
    int value = valueOf(c);
    if (value < 0) return std::nullopt;
    buffer = (buffer << 6) | uint32_t(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      data.push_back(uint8_t((buffer >> bits) & 0xFF));
    }
  }
  return data;
}

}  // namespace qlt
