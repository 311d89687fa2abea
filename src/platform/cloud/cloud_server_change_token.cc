#include "platform/cloud/cloud_server_change_token.h"

#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"

namespace qlt {

namespace {
constexpr const char* kDataKey = "ChangeTokenData";
}

void ServerChangeToken::encode(KeyedArchiver& archiver) const { archiver.encodeData(kDataKey, data); }

std::shared_ptr<Codable> decodeServerChangeToken(KeyedUnarchiver& coder, Error* error) {
  auto data = coder.decodeData(kDataKey, error);
  if (!data) return nullptr;
  return std::make_shared<ServerChangeToken>(std::move(*data));
}

}  // namespace qlt
