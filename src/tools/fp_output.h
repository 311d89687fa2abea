#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/foundation/error.h"
#include "platform/fileprovider/file_provider_item.h"
#include "platform/foundation/property_list.h"

namespace qlt::tool {

inline constexpr const char* kCommandLineErrorDomain = "QLTCommandLineErrorDomain";
inline constexpr long kBadArgumentErrorCode = 1;
inline constexpr long kTimedOutErrorCode = 2;
inline constexpr long kBadReplyErrorCode = 3;

Error badArgument(const std::string& description);

// Keeps a copy of standard error before the extension reopens it on its
// log file; errors are printed there.
void keepOriginalStandardError();

// One JSON object per line on standard output, flushed.
void printLine(const nlohmann::json& json);
// {"domain","code","description"} on the original standard error.
void printError(const Error& error);
// An error object, with whatever it was given beyond errorJSON(), likewise.
void printErrorLine(const nlohmann::json& json);
nlohmann::json errorJSON(const Error& error);

nlohmann::json descriptorJSON(const FileProviderItem& item);
nlohmann::json optionalDate(const std::optional<Date>& date);

// Page tokens travel as their JSON text; sync anchors as base 64.
nlohmann::json pageTokenJSON(const std::optional<Bytes>& token);
// A token given on the command line: a JSON object whose only keys are
// "foldersReturned" and "itemsReturned", unsigned integers.
[[nodiscard]] std::optional<Bytes> parsePageToken(const std::string& text, Error* error = nullptr);
[[nodiscard]] std::optional<Bytes> parseSyncAnchor(const std::string& text, Error* error = nullptr);

}  // namespace qlt::tool
