#pragma once

#include <exception>
#include <string>

#include "platform/foundation/error.h"

namespace qlt {

// The cloud error that a failure of libpqxx stands for: the server out of
// reach (network unavailable while connecting, network failure after),
// refused credentials (not authenticated), a full disk (quota exceeded),
// statements or values beyond the server's limits (limit exceeded), and
// anything else the server refused (service unavailable). Occurrences of
// `url` in the server's message are blanked out.
Error cloudErrorForPostgresFailure(const std::exception& failure, bool connecting, const std::string& url);

}  // namespace qlt
