#include "platform/foundation/error.h"

#include <cstring>
#include <sstream>

namespace qlt {

Error::Error(std::string domain, long code, std::string localizedDescription)
    : domain_(std::move(domain)), code_(code), localizedDescription_(std::move(localizedDescription)) {}

std::string Error::localizedDescription() const {
  if (!localizedDescription_.empty()) return localizedDescription_;
  return "The operation couldn’t be completed. (" + domain_ + " error " + std::to_string(code_) + ".)";
}

void Error::setUserInfoValue(const std::string& key, std::any value) {
  if (key == kLocalizedDescriptionKey) {
    if (auto text = std::any_cast<std::string>(&value)) localizedDescription_ = *text;
    return;
  }
  userInfo_[key] = std::move(value);
}

const std::any* Error::userInfoValue(const std::string& key) const {
  auto found = userInfo_.find(key);
  return found == userInfo_.end() ? nullptr : &found->second;
}

std::optional<std::string> Error::userInfoString(const std::string& key) const {
  const std::any* value = userInfoValue(key);
  if (!value) return std::nullopt;
  if (auto text = std::any_cast<std::string>(value)) return *text;
  if (auto text = std::any_cast<const char*>(value)) return std::string(*text);
  return std::nullopt;
}

namespace {

std::string describeValue(const std::any& value) {
  if (auto v = std::any_cast<std::string>(&value)) return *v;
  if (auto v = std::any_cast<const char*>(&value)) return *v;
  if (auto v = std::any_cast<int>(&value)) return std::to_string(*v);
  if (auto v = std::any_cast<long>(&value)) return std::to_string(*v);
  if (auto v = std::any_cast<long long>(&value)) return std::to_string(*v);
  if (auto v = std::any_cast<unsigned long>(&value)) return std::to_string(*v);
  if (auto v = std::any_cast<double>(&value)) {
    std::ostringstream out;
    out << *v;
    return out.str();
  }
  if (auto v = std::any_cast<bool>(&value)) return *v ? "1" : "0";
  if (auto v = std::any_cast<Error>(&value)) return v->description();
  return std::string("<") + value.type().name() + ">";
}

}  // namespace

std::string Error::description() const {
  std::ostringstream out;
  out << "Error Domain=" << domain_ << " Code=" << code_ << " \"" << localizedDescription() << "\"";
  std::map<std::string, std::string> info;
  if (underlying_) info[kUnderlyingErrorKey] = underlying_->description();
  if (itemIdentifier_) info[kFileProviderErrorNonExistentItemIdentifierKey] = *itemIdentifier_;
  for (const auto& [key, value] : userInfo_) info[key] = describeValue(value);
  if (!info.empty()) {
    out << " UserInfo={";
    bool first = true;
    for (const auto& [key, value] : info) {
      out << (first ? "" : ", ") << key << "=" << value;
      first = false;
    }
    out << "}";
  }
  return out.str();
}

Error posixError(int errnum, const std::string& path) {
  Error error(kPOSIXErrorDomain, errnum, std::strerror(errnum));
  if (!path.empty()) error.setUserInfoValue(kFilePathErrorKey, path);
  return error;
}

Error fileProviderError(long code, const std::string& localizedDescription) {
  return Error(kFileProviderErrorDomain, code, localizedDescription);
}

Error fileProviderErrorForNonExistentItem(const std::string& identifier) {
  Error error(kFileProviderErrorDomain, kFileProviderErrorNoSuchItem, "The file doesn’t exist.");
  error.setItemIdentifier(identifier);
  return error;
}

Error userCancelledError() {
  return Error(kCocoaErrorDomain, kCocoaUserCancelledError, "The operation was cancelled.");
}

}  // namespace qlt
