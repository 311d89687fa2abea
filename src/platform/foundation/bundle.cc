#include "platform/foundation/bundle.h"

#include <mutex>

namespace qlt {
namespace {
std::mutex& bundleMutex() {
  static std::mutex mutex;
  return mutex;
}
std::string& bundleIdentifier() {
  static std::string identifier = kExtensionBundleIdentifier;
  return identifier;
}
}  // namespace

std::string mainBundleIdentifier() {
  std::lock_guard lock(bundleMutex());
  return bundleIdentifier();
}

void setMainBundleIdentifier(std::string identifier) {
  std::lock_guard lock(bundleMutex());
  bundleIdentifier() = std::move(identifier);
}

}  // namespace qlt
