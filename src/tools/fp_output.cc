#include "tools/fp_output.h"

#include <unistd.h>

#include <iostream>

#include "extension/file_provider_enumerator.h"
#include "platform/foundation/base64.h"

namespace qlt::tool {

namespace {

std::FILE* errorStream = stderr;

nlohmann::json optionalText(const std::string& text) { return text.empty() ? nlohmann::json() : nlohmann::json(text); }

template <class T>
nlohmann::json optionalNumber(const std::optional<T>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json();
}

}  // namespace

Error badArgument(const std::string& description) {
  return Error(kCommandLineErrorDomain, kBadArgumentErrorCode, description);
}

void keepOriginalStandardError() {
  if (errorStream != stderr) return;
  int fd = ::dup(STDERR_FILENO);
  if (fd < 0) return;
  if (std::FILE* stream = ::fdopen(fd, "w"))
    errorStream = stream;
  else
    ::close(fd);
}

void printLine(const nlohmann::json& json) {
  std::cout << json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  std::cout.flush();
}

nlohmann::json errorJSON(const Error& error) {
  return {{"domain", error.domain()}, {"code", error.code()}, {"description", error.localizedDescription()}};
}

void printError(const Error& error) { printErrorLine(errorJSON(error)); }

void printErrorLine(const nlohmann::json& json) {
  std::string text = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  std::fputs(text.c_str(), errorStream);
  std::fflush(errorStream);
}

nlohmann::json optionalDate(const std::optional<Date>& date) {
  return date ? nlohmann::json(date->iso8601()) : nlohmann::json();
}

nlohmann::json descriptorJSON(const FileProviderItem& item) {
  // Filled key by key: an initializer list would copy every value once more.
  nlohmann::json attributes = nlohmann::json::object();
  for (const auto& [name, value] : item.extendedAttributes()) attributes[name] = base64Encode(value);
  FileProviderItemVersion version = item.itemVersion();
  std::optional<Bytes> tags = item.tagData();
  nlohmann::json json = nlohmann::json::object();
  json["itemIdentifier"] = item.itemIdentifier();
  json["parentItemIdentifier"] = optionalText(item.parentItemIdentifier());
  json["filename"] = item.filename();
  json["contentType"] = optionalText(item.contentType());
  json["documentSize"] = optionalNumber(item.documentSize());
  json["childItemCount"] = optionalNumber(item.childItemCount());
  json["creationDate"] = optionalDate(item.creationDate());
  json["contentModificationDate"] = optionalDate(item.contentModificationDate());
  json["lastUsedDate"] = optionalDate(item.lastUsedDate());
  json["capabilities"] = item.capabilities();
  json["fileSystemFlags"] = item.fileSystemFlags();
  nlohmann::json versions = nlohmann::json::object();
  versions["content"] = base64Encode(version.contentVersion);
  versions["metadata"] = base64Encode(version.metadataVersion);
  json["itemVersion"] = std::move(versions);
  json["extendedAttributes"] = std::move(attributes);
  json["tagData"] = tags ? nlohmann::json(base64Encode(*tags)) : nlohmann::json();
  json["isShared"] = item.isShared();
  json["isSharedByCurrentUser"] = item.isSharedByCurrentUser();
  json["isUploaded"] = item.isUploaded();
  json["isUploading"] = item.isUploading();
  json["isDownloaded"] = item.isDownloaded();
  json["isDownloading"] = item.isDownloading();
  json["isMostRecentVersionDownloaded"] = item.isMostRecentVersionDownloaded();
  return json;
}

nlohmann::json pageTokenJSON(const std::optional<Bytes>& token) {
  if (!token) return nullptr;
  return std::string(token->begin(), token->end());
}

std::optional<Bytes> parsePageToken(const std::string& text, Error* error) {
  nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  bool valid = json.is_object() && !json.empty();
  if (valid) {
    for (const auto& [key, value] : json.items()) {
      if ((key != "foldersReturned" && key != "itemsReturned") || !value.is_number_unsigned()) valid = false;
    }
  }
  if (!valid) {
    setError(error, badArgument("Malformed page token \"" + text +
                                "\": expected a JSON object with the unsigned integers "
                                "\"foldersReturned\" and \"itemsReturned\"."));
    return std::nullopt;
  }
  return pageTokenForOffsets(json.value("foldersReturned", uint64_t{0}), json.value("itemsReturned", uint64_t{0}));
}

std::optional<Bytes> parseSyncAnchor(const std::string& text, Error* error) {
  std::optional<Bytes> anchor = base64Decode(text);
  if (!anchor) {
    setError(error, badArgument("Malformed sync anchor \"" + text + "\": not base 64."));
    return std::nullopt;
  }
  if (!dateFromSyncAnchor(*anchor)) {
    setError(error, badArgument("Malformed sync anchor \"" + text + "\": not an archived date."));
    return std::nullopt;
  }
  return anchor;
}

}  // namespace qlt::tool
