#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"

namespace qlt::tool {

// One request to the host application's service, as a frame carries it:
// {"op": "materializeURL", "url": "..."} or
// {"op": "reimportItemsBelowItemWithIdentifier", "identifier": "..."}.
struct ServiceRequest {
  std::string op;
  std::string argument;
};

// Nullopt when the frame holds no request the service answers.
[[nodiscard]] std::optional<ServiceRequest> parseServiceRequest(std::string_view frame);

// The service's reply: an object holding "URL", "Success" or "Error" (an
// object with "domain", "code" and "description").
struct ServiceReply {
  nlohmann::json json;
  std::optional<Error> failure;  // what "Error" reports
};

// Nullopt, with the error, when the frame holds no such reply.
[[nodiscard]] std::optional<ServiceReply> parseServiceReply(std::string_view frame, Error* error = nullptr);

}  // namespace qlt::tool
