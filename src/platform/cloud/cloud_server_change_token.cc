#include "platform/cloud/cloud_server_change_token.h"

#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"

namespace qlt {

namespace {
constexpr const char* kDataKey = "ChangeTokenData";
}

void ServerChangeToken::encode(KeyedArchiver& archiver) const { archiver.encodeData(kDataKey, data); }

ServerChangeToken changeTokenForPosition(int64_t position) {
  std::string text = std::to_string(position);
  return ServerChangeToken(Bytes(text.begin(), text.end()));
}

std::optional<int64_t> positionOfChangeToken(const ServerChangeToken& token) {
  if (token.data.empty() || token.data.size() > 19) return std::nullopt;
  int64_t position = 0;
  for (uint8_t byte : token.data) {
    if (byte < '0' || byte > '9') return std::nullopt;
    position = position * 10 + (byte - '0');
  }
  return position;
}

std::shared_ptr<Codable> decodeServerChangeToken(KeyedUnarchiver& coder, Error* error) {
  auto data = coder.decodeData(kDataKey, error);
  if (!data) return nullptr;
  return std::make_shared<ServerChangeToken>(std::move(*data));
}

}  // namespace qlt
