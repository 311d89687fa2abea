#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/objectstore/predicate.h"
#include "platform/objectstore/sort_descriptor.h"

namespace qlt {

// An aggregate column of a dictionary fetch: `function` over `keyPath`
// ("sum", "count", "min", "max" or "average"), reported under `name`.
struct ExpressionDescription {
  std::string name;
  std::string function;
  std::string keyPath;
};

// What a fetch asks for. The context answers as if its unsaved changes had
// been saved (see ManagedObjectContext::execute).
struct FetchRequest {
  enum class ResultType { Objects, ObjectIDs, Count, Dictionaries };

  explicit FetchRequest(std::string entityName) : entityName(std::move(entityName)) {}

  std::string entityName;
  bool includesSubentities = true;
  PredicatePtr predicate;  // null: every object
  std::vector<SortDescriptor> sortDescriptors;
  int64_t offset = 0;
  int64_t limit = 0;  // 0: no limit
  // Objects beyond the first batch come back as faults that load
  // `batchSize` rows at a time when the first of them is touched. 0: all
  // rows are loaded at once.
  int64_t batchSize = 0;
  ResultType resultType = ResultType::Objects;
  // Dictionaries: attribute names (to-one relationships give the object
  // ID) and aggregates. With only aggregates, one dictionary for all rows.
  std::vector<std::string> propertiesToFetch;
  std::vector<ExpressionDescription> aggregates;
};

// The answer of ManagedObjectContext::execute; only the member of the
// request's result type is filled.
class ManagedObject;
struct FetchResult {
  std::vector<std::shared_ptr<ManagedObject>> objects;
  std::vector<ObjectID> objectIDs;
  int64_t count = 0;
  std::vector<std::map<std::string, Value>> dictionaries;
};

}  // namespace qlt
