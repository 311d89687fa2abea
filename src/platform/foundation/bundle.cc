#include "platform/foundation/bundle.h"

#include <mutex>

namespace qlt {
namespace {
std::mutex& bundleMutex() {
  static auto& mutex = *new std::mutex;
  return mutex;
}
std::string& bundleIdentifier() {
  static auto& identifier = *new std::string(kExtensionBundleIdentifier);
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
