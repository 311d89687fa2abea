#include "model/sort_descriptor_archive.h"

#include <algorithm>
#include <mutex>

#include "platform/foundation/codable.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"

namespace qlt {
namespace {

constexpr const char* kClassName = "NSSortDescriptor";
constexpr const char* kKeyKey = "NSKey";
constexpr const char* kAscendingKey = "NSAscending";
constexpr const char* kSelectorKey = "NSSelector";

std::nullptr_t refuse(const std::string& description, Error* error) {
  setError(error, Error(kCocoaErrorDomain, kCocoaCoderReadCorruptError, description));
  return nullptr;
}

class SortDescriptorCoding : public Codable {
 public:
  explicit SortDescriptorCoding(SortDescriptor descriptor) : descriptor_(std::move(descriptor)) {}

  std::string className() const override { return kClassName; }
  void encode(KeyedArchiver& archiver) const override {
    archiver.encodeString(kKeyKey, descriptor_.key);
    archiver.encodeBool(kAscendingKey, descriptor_.ascending);
    archiver.encodeString(kSelectorKey, comparisonSelector(descriptor_.comparison));
  }
  const SortDescriptor& descriptor() const { return descriptor_; }

  static std::shared_ptr<Codable> decode(KeyedUnarchiver& coder, Error* error) {
    auto key = coder.decodeString(kKeyKey, error);
    if (!key) return nullptr;
    if (key->empty()) return refuse("A sort descriptor has no key.", error);
    SortDescriptor descriptor{*key};
    if (coder.containsValue(kAscendingKey)) {
      auto ascending = coder.decodeBool(kAscendingKey, error);
      if (!ascending) return nullptr;
      descriptor.ascending = *ascending;
    }
    if (coder.containsValue(kSelectorKey)) {
      auto selector = coder.decodeString(kSelectorKey, error);
      if (!selector) return nullptr;
      auto comparison = comparisonForSelector(*selector);
      if (!comparison) return refuse("A sort descriptor names an unknown comparison.", error);
      descriptor.comparison = *comparison;
    }
    return std::make_shared<SortDescriptorCoding>(std::move(descriptor));
  }

 private:
  SortDescriptor descriptor_;
};

void registerSortDescriptorCoding() {
  static std::once_flag registered;
  std::call_once(registered, [] { CodableRegistry::global().registerClass(kClassName, SortDescriptorCoding::decode); });
}

}  // namespace

const char* comparisonSelector(SortDescriptor::Comparison comparison) {
  switch (comparison) {
    case SortDescriptor::Comparison::CaseInsensitive:
      return "caseInsensitiveCompare:";
    case SortDescriptor::Comparison::LocalizedStandard:
      return "localizedStandardCompare:";
    case SortDescriptor::Comparison::Plain:
      break;
  }
  return "compare:";
}

std::optional<SortDescriptor::Comparison> comparisonForSelector(const std::string& selector) {
  if (selector == "compare:" || selector == "localizedCompare:") return SortDescriptor::Comparison::Plain;
  if (selector == "caseInsensitiveCompare:" || selector == "localizedCaseInsensitiveCompare:")
    return SortDescriptor::Comparison::CaseInsensitive;
  if (selector == "localizedStandardCompare:") return SortDescriptor::Comparison::LocalizedStandard;
  return std::nullopt;
}

bool sameSortDescriptors(const std::vector<SortDescriptor>& a, const std::vector<SortDescriptor>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const SortDescriptor& x, const SortDescriptor& y) {
    return x.key == y.key && x.ascending == y.ascending && x.comparison == y.comparison;
  });
}

std::optional<Bytes> archivedSortDescriptors(const std::vector<SortDescriptor>& descriptors, Error* error) {
  std::vector<ArchiveObject> elements;
  elements.reserve(descriptors.size());
  for (const SortDescriptor& descriptor : descriptors)
    elements.emplace_back(std::static_pointer_cast<Codable>(std::make_shared<SortDescriptorCoding>(descriptor)));
  return KeyedArchiver::archivedData(ArchiveObject::array(std::move(elements)), true, error);
}

std::optional<std::vector<SortDescriptor>> unarchivedSortDescriptors(const Bytes& data, Error* error) {
  registerSortDescriptorCoding();
  // The classes a secure unarchiver allows anyway, plus the descriptors.
  static const ClassNameSet allowed{"NSArray", "NSDictionary", "NSSet",  "NSString", "NSNumber",
                                    "NSDate",  "NSData",       "NSNull", kClassName};
  auto root = KeyedUnarchiver::unarchivedObject(data, allowed, error);
  if (!root) return std::nullopt;
  const ArchiveArray* array = root->array();
  if (!array) {
    refuse("The archive holds no array of sort descriptors.", error);
    return std::nullopt;
  }
  std::vector<SortDescriptor> descriptors;
  for (const ArchiveObject& element : array->elements) {
    auto coding = element.objectAs<SortDescriptorCoding>();
    if (!coding) {
      refuse("The archive holds something other than a sort descriptor.", error);
      return std::nullopt;
    }
    descriptors.push_back(coding->descriptor());
  }
  return descriptors;
}

}  // namespace qlt
