#include "tools/service_messages.h"

#include "tools/fp_output.h"

namespace qlt::tool {

namespace {

std::optional<std::string> stringAt(const nlohmann::json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

Error badReply(const std::string& description) {
  return Error(kCommandLineErrorDomain, kBadReplyErrorCode, description);
}

}  // namespace

std::optional<ServiceRequest> parseServiceRequest(std::string_view frame) {
  nlohmann::json request = nlohmann::json::parse(frame, nullptr, false);
  if (!request.is_object()) return std::nullopt;
  std::optional<std::string> op = stringAt(request, "op");
  const char* argumentKey = !op                                             ? nullptr
                            : *op == "materializeURL"                       ? "url"
                            : *op == "reimportItemsBelowItemWithIdentifier" ? "identifier"
                                                                             : nullptr;
  std::optional<std::string> argument = argumentKey ? stringAt(request, argumentKey) : std::nullopt;
  if (!argument) return std::nullopt;
  return ServiceRequest{*op, *argument};
}

std::optional<ServiceReply> parseServiceReply(std::string_view frame, Error* error) {
  nlohmann::json reply = nlohmann::json::parse(frame, nullptr, false);
  if (!reply.is_object()) {
    setError(error, badReply("The reply is not a JSON object."));
    return std::nullopt;
  }
  ServiceReply parsed{reply, std::nullopt};
  if (auto failure = reply.find("Error"); failure != reply.end()) {
    if (!failure->is_object()) {
      setError(error, badReply("The reply's \"Error\" is not an object."));
      return std::nullopt;
    }
    auto code = failure->find("code");
    parsed.failure = Error(stringAt(*failure, "domain").value_or(""),
                           code != failure->end() && code->is_number_integer() ? code->get<long>() : 0L,
                           stringAt(*failure, "description").value_or(""));
    return parsed;
  }
  if (!reply.contains("URL") && !reply.contains("Success")) {
    setError(error, badReply("The reply holds neither \"URL\" nor \"Success\"."));
    return std::nullopt;
  }
  return parsed;
}

}  // namespace qlt::tool
