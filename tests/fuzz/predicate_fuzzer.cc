// The predicate language, as search fields and smart groups take it. A
// parsed predicate must print a format that parses to a predicate printing
// the same format, and must evaluate against an object without failing.
#include "fuzz_check.h"
#include "platform/objectstore/predicate.h"
#include "platform/objectstore/predicate_evaluation.h"

using namespace qlt;

namespace {

// An object with one attribute of each kind the library stores.
class SampleObject final : public ObjectAccessor {
 public:
  ObjectID objectID() const override { return {}; }
  Value valueForKey(const std::string& key) const override {
    if (key == "name") return Value("Résumé.txt");
    if (key == "rating") return Value(3);
    if (key == "size") return Value(2.5);
    if (key == "flagged") return Value(true);
    if (key == "dateModified") return Value(Date(1000));
    if (key == "tags") return Value(ValueList{Value("red"), Value("blue")});
    return Value();
  }
  const ObjectAccessor* objectForID(const ObjectID&) const override { return this; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view format(reinterpret_cast<const char*>(data), size);
  std::vector<Value> arguments{Value("name"), Value(7), Value(1.5), Value("text"), Value(ValueList{Value(1)})};
  PredicatePtr predicate = Predicate::withFormat(format, arguments);
  if (!predicate) return 0;
  (void)evaluate(*predicate, SampleObject());

  std::string description = predicate->description();
  PredicatePtr reread = Predicate::withFormat(description);
  FUZZ_CHECK(reread);
  FUZZ_CHECK(reread->description() == description);
  return 0;
}
