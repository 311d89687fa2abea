#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"

namespace qlt {

class KeyedArchiver;
class KeyedUnarchiver;

// A class of our own that travels in keyed archives.
class Codable {
 public:
  virtual ~Codable() = default;
  virtual std::string className() const = 0;
  // The class followed by its superclasses; NSObject closes the list even
  // when left out.
  virtual std::vector<std::string> classHierarchy() const { return {className()}; }
  virtual bool supportsSecureCoding() const { return true; }
  virtual void encode(KeyedArchiver& archiver) const = 0;
};

// Builds an object from the keys of its archived form; returns nullptr on
// failure, describing it through `error` when the unarchiver has not already
// recorded one.
using CodableFactory = std::function<std::shared_ptr<Codable>(KeyedUnarchiver& unarchiver, Error* error)>;

// Class name to factory. The global registry serves unarchivers that are not
// given one of their own.
class CodableRegistry {
 public:
  static CodableRegistry& global();

  void registerClass(const std::string& className, CodableFactory factory);
  [[nodiscard]] std::optional<CodableFactory> factory(const std::string& className) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, CodableFactory> factories_;
};

}  // namespace qlt
