// What the service socket's frames carry: requests the service reads and
// replies the command line reads. Neither may throw or crash; a request
// that reads, written again, reads as the same request.
#include <nlohmann/json.hpp>

#include <string_view>

#include "fuzz_check.h"
#include "tools/service_messages.h"

using namespace qlt;
using namespace qlt::tool;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view frame(reinterpret_cast<const char*>(data), size);
  if (std::optional<ServiceRequest> request = parseServiceRequest(frame)) {
    const char* key = request->op == "materializeURL" ? "url" : "identifier";
    nlohmann::json written{{"op", request->op}, {key, request->argument}};
    std::optional<ServiceRequest> again = parseServiceRequest(written.dump());
    FUZZ_CHECK(again && again->op == request->op && again->argument == request->argument);
  }
  Error error;
  std::optional<ServiceReply> reply = parseServiceReply(frame, &error);
  FUZZ_CHECK(reply || !error.domain().empty());
  if (reply) FUZZ_CHECK(reply->json.is_object());
  return 0;
}
