#pragma once

#include <string>
#include <string_view>

#include "platform/foundation/error.h"

struct sqlite3;

namespace qlt {

// Errors of SQLite carry its extended result code as their code and its
// message as their description; the statement, when known, is in the user
// info under kSQLiteSQLErrorKey.
inline constexpr const char* kSQLiteErrorDomain = "QLTSQLiteErrorDomain";
inline constexpr const char* kSQLiteSQLErrorKey = "QLTSQLiteSQL";

// The error `resultCode` reported with the connection's current message.
Error sqliteError(sqlite3* db, int resultCode, std::string_view sql = {});
Error sqliteError(int resultCode, const std::string& message, std::string_view sql = {});

// The primary result code (SQLITE_BUSY for SQLITE_BUSY_SNAPSHOT and so on)
// of an error of kSQLiteErrorDomain; 0 for errors of other domains.
int sqlitePrimaryResultCode(const Error& error);

}  // namespace qlt
