#include "platform/cloud/postgres_cloud_errors.h"

#include <pqxx/except>

#include "platform/cloud/cloud_error.h"

namespace qlt {
namespace {

std::string firstLine(std::string text, const std::string& url) {
  if (!url.empty()) {
    for (size_t found = text.find(url); found != std::string::npos; found = text.find(url, found))
      text.replace(found, url.size(), "(the cloud URL)");
  }
  if (size_t end = text.find('\n'); end != std::string::npos) text.resize(end);
  return text;
}

long codeForSQLState(const std::string& state) {
  if (state.rfind("28", 0) == 0) return kCloudErrorNotAuthenticated;
  if (state == "53100") return kCloudErrorQuotaExceeded;
  if (state.rfind("54", 0) == 0) return kCloudErrorLimitExceeded;
  if (state.rfind("08", 0) == 0) return kCloudErrorNetworkFailure;
  return kCloudErrorServiceUnavailable;
}

}  // namespace

Error cloudErrorForPostgresFailure(const std::exception& failure, bool connecting, const std::string& url) {
  std::string message = firstLine(failure.what(), url);
  long code = kCloudErrorServiceUnavailable;
  if (auto sql = dynamic_cast<const pqxx::sql_error*>(&failure)) {
    code = codeForSQLState(sql->sqlstate());
  } else if (dynamic_cast<const pqxx::broken_connection*>(&failure)) {
    bool refused = message.find("authentication failed") != std::string::npos ||
                   message.find("password") != std::string::npos ||
                   message.find("role \"") != std::string::npos;
    code = refused ? kCloudErrorNotAuthenticated
                   : (connecting ? kCloudErrorNetworkUnavailable : kCloudErrorNetworkFailure);
  } else if (dynamic_cast<const pqxx::in_doubt_error*>(&failure)) {
    code = kCloudErrorNetworkFailure;
  }
  return cloudError(code, "The cloud server failed: " + message);
}

}  // namespace qlt
