#include <algorithm>
#include <mutex>

#include "platform/foundation/format.h"
#include "platform/objectstore/managed_object_accessor.h"
#include "platform/objectstore/context_save.h"
#include "platform/objectstore/fault_batch.h"
#include "platform/objectstore/key_path.h"
#include "platform/objectstore/managed_object_context.h"
#include "platform/foundation/contract.h"
#include "platform/objectstore/predicate_sql.h"
#include "platform/sqlite/database.h"

namespace qlt {


namespace {

// Up to this many changed objects a fetch writes them inside a savepoint,
// queries, and rolls back, so that SQL answers exactly as if they were
// saved; beyond it the changed objects are judged in memory.
constexpr size_t kMaxChangesWrittenForFetch = 2000;

struct SortKeySQL {
  std::string expression;
  AttributeType type = AttributeType::Integer64;
};

// One fetched object before paging: its ID and the values it sorts by.
struct Candidate {
  ObjectID id;
  std::vector<Value> sortValues;
};

const char* collationFor(SortDescriptor::Comparison comparison) {
  switch (comparison) {
    case SortDescriptor::Comparison::CaseInsensitive:
      return " COLLATE QLT_NOCASE";
    case SortDescriptor::Comparison::LocalizedStandard:
      return " COLLATE QLT_LOCALIZED_STANDARD";
    case SortDescriptor::Comparison::Plain:
      break;
  }
  return "";
}

Error fetchError(const std::string& description) {
  return Error(kCocoaErrorDomain, kPersistentStoreOperationError, description);
}

}  // namespace

class ContextFetch {
 public:
  ContextFetch(ManagedObjectContext& context, const FetchRequest& request)
      : context_(context), coordinator_(*context.coordinator_), request_(request) {}

  std::optional<FetchResult> run(Error* error);

 private:
  bool prepare(Error* error);
  bool resolveSortKey(const SortDescriptor& descriptor, Error* error);
  std::string fromWhere() const;
  bool bindAll(Statement& statement, int* index, Error* error) const;
  bool fetchFromStore(std::vector<Candidate>* candidates, bool skipChanged, bool paged, Error* error);
  void addPendingObjects(std::vector<Candidate>* candidates) const;
  void sortAndPage(std::vector<Candidate>* candidates) const;
  bool rowsOnlyFromStore() const;
  bool queryStore(std::vector<Candidate>* candidates, int64_t* count, Error* error);
  // Dictionaries of aggregates over plain attributes are computed by SQL.
  bool aggregatesInSQL() const;
  bool aggregateFromStore(Error* error);
  bool queryAsIfSaved(std::vector<Candidate>* candidates, int64_t* count);
  std::optional<int64_t> countFromStore(Error* error);
  bool objectsFor(const std::vector<Candidate>& candidates, std::vector<ManagedObjectPtr>* objects, Error* error);
  // Objects straight from the store, their rows read by the query itself.
  bool objectsFromStore(std::vector<ManagedObjectPtr>* objects, Error* error);
  bool dictionariesFor(const std::vector<Candidate>& candidates, FetchResult* result, Error* error);

  ManagedObjectContext& context_;
  StoreCoordinator& coordinator_;
  const FetchRequest& request_;
  const EntityDescription* entity_ = nullptr;
  std::vector<int64_t> entityCodes_;  // empty: every row of the table
  SQLFragment fragment_;
  std::vector<SortKeySQL> sortKeys_;
  std::vector<std::string> sortJoins_;
  std::optional<std::map<std::string, Value>> aggregates_;
};

bool ContextFetch::prepare(Error* error) {
  entity_ = coordinator_.model().entity(request_.entityName);
  if (!entity_) {
    setError(error, fetchError(formatString("No entity named %@ in the model.", request_.entityName)));
    return false;
  }
  if (!(request_.includesSubentities && entity_->superentity() == nullptr)) {
    std::vector<std::string> names =
        request_.includesSubentities ? entity_->selfAndDescendantNames() : std::vector<std::string>{entity_->name()};
    for (const std::string& name : names)
      if (auto code = coordinator_.store().entityCode(name)) entityCodes_.push_back(*code);
  }
  if (request_.predicate &&
      !compileToSQL(*request_.predicate, entity_->name(), coordinator_.mapper(), &fragment_, error))
    return false;
  for (const SortDescriptor& descriptor : request_.sortDescriptors)
    if (!resolveSortKey(descriptor, error)) return false;
  if (request_.offset < 0 || request_.limit < 0 || request_.batchSize < 0) {
    setError(error, fetchError("Fetch offsets, limits and batch sizes cannot be negative."));
    return false;
  }
  return true;
}

bool ContextFetch::resolveSortKey(const SortDescriptor& descriptor, Error* error) {
  std::vector<std::string> keys = splitKeyPath(descriptor.key);
  const EntityDescription* entity = entity_;
  std::string alias = kSQLRootAlias;
  const StoreSchema& schema = coordinator_.store().schema();
  for (size_t i = 0; i < keys.size(); ++i) {
    const PropertyDescription* property = entity->property(keys[i]);
    bool last = i + 1 == keys.size();
    if (!property || property->isTransient()) break;
    if (property->isAttribute()) {
      if (!last) break;
      auto attribute = static_cast<const AttributeDescription*>(property);
      std::string expression = alias + "." + StoreSchema::quote(schema.columnName(*attribute));
      if (attribute->type() == AttributeType::String) expression += collationFor(descriptor.comparison);
      sortKeys_.push_back({expression, attribute->type()});
      return true;
    }
    auto relationship = static_cast<const RelationshipDescription*>(property);
    if (relationship->isToMany()) break;
    std::string column = alias + "." + StoreSchema::quote(schema.foreignKeyColumn(*relationship));
    if (last) {
      sortKeys_.push_back({column, AttributeType::Integer64});
      return true;
    }
    std::string next = "s" + std::to_string(sortJoins_.size() + 1);
    sortJoins_.push_back("LEFT JOIN " + StoreSchema::quote(schema.tableName(relationship->destinationEntity().rootEntity())) +
                         " " + next + " ON " + next + ".\"_pk\" = " + column);
    alias = next;
    entity = &relationship->destinationEntity();
  }
  setError(error, fetchError(formatString("Cannot sort %@ by %@.", entity_->name(), descriptor.key)));
  return false;
}

std::string ContextFetch::fromWhere() const {
  std::string sql = " FROM " + StoreSchema::quote(coordinator_.store().schema().tableName(entity_->rootEntity())) +
                    " " + kSQLRootAlias;
  for (const std::string& join : fragment_.joins) sql += " " + join;
  for (const std::string& join : sortJoins_) sql += " " + join;
  std::vector<std::string> conditions;
  if (!entityCodes_.empty()) {
    std::string codes;
    for (int64_t code : entityCodes_) codes += (codes.empty() ? "" : ",") + std::to_string(code);
    conditions.push_back(std::string(kSQLRootAlias) + ".\"_entity\" IN (" + codes + ")");
  }
  if (request_.predicate) conditions.push_back("(" + fragment_.where + ")");
  for (size_t i = 0; i < conditions.size(); ++i) sql += (i ? " AND " : " WHERE ") + conditions[i];
  return sql;
}

bool ContextFetch::bindAll(Statement& statement, int* index, Error* error) const {
  for (const Value& parameter : fragment_.parameters)
    if (!StoreCoordinator::bindValue(statement, (*index)++, parameter, error)) return false;
  return true;
}

bool ContextFetch::rowsOnlyFromStore() const {
  return !context_.hasChanges();
}

bool ContextFetch::fetchFromStore(std::vector<Candidate>* candidates, bool skipChanged, bool paged, Error* error) {
  // Rows of an entity without subentities need not name their entity, and
  // a page straight from the store needs no sort values: leaving them out
  // lets SQLite answer from an index alone.
  bool selectEntity = !entity_->subentities().empty();
  bool selectSortValues = !paged;
  std::string sql = "SELECT " + std::string(kSQLRootAlias) + ".\"_pk\"";
  if (selectEntity) sql += std::string(", ") + kSQLRootAlias + ".\"_entity\"";
  if (selectSortValues)
    for (const SortKeySQL& key : sortKeys_) sql += ", " + key.expression;
  sql += fromWhere() + " ORDER BY ";
  for (size_t i = 0; i < request_.sortDescriptors.size(); ++i)
    sql += sortKeys_[i].expression + (request_.sortDescriptors[i].ascending ? " ASC, " : " DESC, ");
  sql += std::string(kSQLRootAlias) + ".\"_pk\"";
  if (paged) sql += " LIMIT ? OFFSET ?";

  std::lock_guard lock(coordinator_.mutex());
  auto statement = coordinator_.store().database().cachedStatement(sql, error);
  if (!statement) return false;
  int index = 1;
  if (!bindAll(*statement, &index, error)) return false;
  if (paged) {
    if (!statement->bindInt64(index++, request_.limit > 0 ? request_.limit : -1, error) ||
        !statement->bindInt64(index++, request_.offset, error))
      return false;
  }
  const InternedString& store = coordinator_.storeIdentifier();
  InternedString entityName = entity_->name();
  int firstSortColumn = selectEntity ? 2 : 1;
  while (statement->step(error)) {
    std::optional<ObjectID> id;
    if (selectEntity)
      id = coordinator_.objectID(statement->columnInt64(1), statement->columnInt64(0));
    else
      id = ObjectID{store, entityName, statement->columnInt64(0)};
    if (!id) continue;
    if (skipChanged) {
      ManagedObjectPtr object = context_.registeredObject(*id);
      if (object && object->hasChanges()) continue;
    }
    Candidate candidate{std::move(*id), {}};
    if (selectSortValues)
      for (size_t i = 0; i < sortKeys_.size(); ++i)
        candidate.sortValues.push_back(
            StoreCoordinator::columnValue(*statement, static_cast<int>(i) + firstSortColumn, sortKeys_[i].type));
    candidates->push_back(std::move(candidate));
  }
  return !statement->failed();
}

void ContextFetch::addPendingObjects(std::vector<Candidate>* candidates) const {
  for (const ManagedObjectPtr& object : context_.changedObjects()) {
    if (object->isDeleted()) continue;
    const EntityDescription& entity = object->entity();
    if (request_.includesSubentities ? !entity.isKindOfEntity(*entity_) : &entity != entity_) continue;
    if (request_.predicate && !evaluate(*request_.predicate, ManagedObjectAccessor(object))) continue;
    Candidate candidate{object->objectID(), {}};
    for (const SortDescriptor& descriptor : request_.sortDescriptors)
      candidate.sortValues.push_back(object->valueForKeyPath(descriptor.key));
    candidates->push_back(std::move(candidate));
  }
}

void ContextFetch::sortAndPage(std::vector<Candidate>* candidates) const {
  const auto& descriptors = request_.sortDescriptors;
  std::stable_sort(candidates->begin(), candidates->end(), [&](const Candidate& a, const Candidate& b) {
    for (size_t i = 0; i < descriptors.size(); ++i) {
      int order = compareForSort(a.sortValues[i], b.sortValues[i], descriptors[i].comparison);
      if (order) return descriptors[i].ascending ? order < 0 : order > 0;
    }
    return a.id.primaryKey < b.id.primaryKey;
  });
  size_t offset = std::min(candidates->size(), static_cast<size_t>(request_.offset));
  candidates->erase(candidates->begin(), candidates->begin() + static_cast<std::ptrdiff_t>(offset));
  if (request_.limit > 0 && candidates->size() > static_cast<size_t>(request_.limit))
    candidates->resize(static_cast<size_t>(request_.limit));
}

std::optional<int64_t> ContextFetch::countFromStore(Error* error) {
  std::string sql = "SELECT COUNT(*)" + fromWhere();
  std::lock_guard lock(coordinator_.mutex());
  auto statement = coordinator_.store().database().cachedStatement(sql, error);
  if (!statement) return std::nullopt;
  int index = 1;
  if (!bindAll(*statement, &index, error)) return std::nullopt;
  if (!statement->step(error)) return std::nullopt;
  int64_t count = std::max<int64_t>(0, statement->columnInt64(0) - request_.offset);
  return request_.limit > 0 ? std::min(count, request_.limit) : count;
}

bool ContextFetch::objectsFor(const std::vector<Candidate>& candidates, std::vector<ManagedObjectPtr>* objects,
                              Error* error) {
  size_t batch = request_.batchSize > 0 ? static_cast<size_t>(request_.batchSize) : candidates.size();
  objects->reserve(candidates.size());
  for (size_t start = 0; start < candidates.size(); start += std::max<size_t>(batch, 1)) {
    size_t end = std::min(candidates.size(), start + std::max<size_t>(batch, 1));
    std::vector<ObjectID> toRead;
    for (size_t i = start; i < end; ++i) {
      ManagedObjectPtr object = context_.registeredObject(candidates[i].id);
      if (!object || object->isFault()) toRead.push_back(candidates[i].id);
    }
    if (start == 0 || toRead.empty()) {
      std::map<ObjectID, StoredRow> rows;
      {
        std::lock_guard lock(coordinator_.mutex());
        if (!coordinator_.readRows(toRead, &rows, error)) return false;
      }
      for (size_t i = start; i < end; ++i) {
        auto found = rows.find(candidates[i].id);
        ManagedObjectPtr object = found != rows.end() ? context_.registerRow(std::move(found->second))
                                                      : context_.objectWithID(candidates[i].id);
        if (object) objects->push_back(std::move(object));
      }
      continue;
    }
    auto faults = std::make_shared<FaultBatch>();
    faults->ids = toRead;
    for (size_t i = start; i < end; ++i) {
      ManagedObjectPtr object = context_.objectWithID(candidates[i].id);
      if (!object) continue;
      if (object->isFault()) object->batch_ = faults;
      objects->push_back(std::move(object));
    }
  }
  return true;
}

bool ContextFetch::dictionariesFor(const std::vector<Candidate>& candidates, FetchResult* result, Error* error) {
  std::vector<ManagedObjectPtr> objects;
  if (!objectsFor(candidates, &objects, error)) return false;
  if (!request_.propertiesToFetch.empty() || request_.aggregates.empty()) {
    for (const ManagedObjectPtr& object : objects) {
      std::map<std::string, Value> dictionary;
      if (request_.propertiesToFetch.empty()) {
        for (const AttributeDescription* attribute : object->entity().allAttributes())
          dictionary[attribute->name()] = object->valueForKey(attribute->name());
      }
      for (const std::string& key : request_.propertiesToFetch) dictionary[key] = object->valueForKeyPath(key);
      result->dictionaries.push_back(std::move(dictionary));
    }
    return true;
  }
  std::map<std::string, Value> dictionary;
  for (const ExpressionDescription& aggregate : request_.aggregates) {
    double sum = 0;
    int64_t integerSum = 0, count = 0;
    bool allIntegers = true;
    std::optional<Value> minimum, maximum;
    for (const ManagedObjectPtr& object : objects) {
      Value value = object->valueForKeyPath(aggregate.keyPath);
      if (value.isNull()) continue;
      ++count;
      if (auto number = value.numberValue()) {
        sum += *number;
        if (value.integer()) integerSum += *value.integer(); else allIntegers = false;
      }
      if (!minimum || compareForSort(value, *minimum, SortDescriptor::Comparison::Plain) < 0) minimum = value;
      if (!maximum || compareForSort(value, *maximum, SortDescriptor::Comparison::Plain) > 0) maximum = value;
    }
    Value answer;
    if (aggregate.function == "sum")
      answer = allIntegers ? Value(integerSum) : Value(sum);
    else if (aggregate.function == "count")
      answer = Value(count);
    else if (aggregate.function == "average")
      answer = count ? Value(sum / static_cast<double>(count)) : Value();
    else if (aggregate.function == "min")
      answer = minimum.value_or(Value());
    else if (aggregate.function == "max")
      answer = maximum.value_or(Value());
    else {
      setError(error, fetchError(formatString("Unknown aggregate function %@.", aggregate.function)));
      return false;
    }
    dictionary[aggregate.name] = answer;
  }
  result->dictionaries.push_back(std::move(dictionary));
  return true;
}

bool ContextFetch::aggregatesInSQL() const {
  if (request_.resultType != FetchRequest::ResultType::Dictionaries || request_.aggregates.empty() ||
      !request_.propertiesToFetch.empty() || request_.offset > 0 || request_.limit > 0)
    return false;
  for (const ExpressionDescription& aggregate : request_.aggregates) {
    const AttributeDescription* attribute = entity_->attribute(aggregate.keyPath);
    if (!attribute || attribute->isTransient()) return false;
  }
  return true;
}

bool ContextFetch::aggregateFromStore(Error* error) {
  static const std::map<std::string, std::string> functions = {
      {"sum", "SUM"}, {"count", "COUNT"}, {"min", "MIN"}, {"max", "MAX"}, {"average", "AVG"}};
  std::string sql = "SELECT ";
  std::vector<const AttributeDescription*> attributes;
  for (const ExpressionDescription& aggregate : request_.aggregates) {
    auto function = functions.find(aggregate.function);
    if (function == functions.end()) {
      setError(error, fetchError(formatString("Unknown aggregate function %@.", aggregate.function)));
      return false;
    }
    const AttributeDescription* attribute = entity_->attribute(aggregate.keyPath);
    attributes.push_back(attribute);
    sql += (attributes.size() > 1 ? ", " : "") + function->second + "(" + kSQLRootAlias + "." +
           StoreSchema::quote(coordinator_.store().schema().columnName(*attribute)) + ")";
  }
  sql += fromWhere();
  std::lock_guard lock(coordinator_.mutex());
  auto statement = coordinator_.store().database().cachedStatement(sql, error);
  if (!statement) return false;
  int index = 1;
  if (!bindAll(*statement, &index, error) || !statement->step(error)) return false;
  std::map<std::string, Value> row;
  for (size_t i = 0; i < attributes.size(); ++i) {
    const std::string& function = request_.aggregates[i].function;
    int column = static_cast<int>(i);
    Value value;
    if (function == "count")
      value = Value(static_cast<int64_t>(statement->columnInt64(column)));
    else if (function == "average")
      value = statement->isNull(column) ? Value() : Value(statement->columnDouble(column));
    else if (function == "sum" && statement->isNull(column))
      value = Value(static_cast<int64_t>(0));
    else if (function == "sum")
      value = statement->columnType(column) == Statement::ColumnType::Integer
                  ? Value(static_cast<int64_t>(statement->columnInt64(column)))
                  : Value(statement->columnDouble(column));
    else
      value = StoreCoordinator::columnValue(*statement, column, attributes[i]->type());
    row[request_.aggregates[i].name] = value;
  }
  aggregates_ = std::move(row);
  return true;
}

bool ContextFetch::queryStore(std::vector<Candidate>* candidates, int64_t* count, Error* error) {
  if (aggregatesInSQL()) return aggregateFromStore(error);
  if (request_.resultType == FetchRequest::ResultType::Count) {
    auto counted = countFromStore(error);
    if (counted) *count = *counted;
    return counted.has_value();
  }
  return fetchFromStore(candidates, false, true, error);
}

bool ContextFetch::queryAsIfSaved(std::vector<Candidate>* candidates, int64_t* count) {
  if (context_.changedObjects().size() > kMaxChangesWrittenForFetch) return false;
  std::lock_guard lock(coordinator_.mutex());
  Database& database = coordinator_.store().database();
  if (!database.execute("SAVEPOINT qlt_fetch")) return false;
  bool answered = ContextSave(context_).writeScratch(nullptr) && queryStore(candidates, count, nullptr);
  bool undone = database.execute("ROLLBACK TO qlt_fetch; RELEASE qlt_fetch");
  if (!undone) {
    // Nothing of the scratch writes may survive: end the transaction.
    (void)database.execute("ROLLBACK");  // the fetch fails either way
    answered = false;
  }
  if (!answered) {
    candidates->clear();
    *count = -1;
    aggregates_.reset();
  }
  return answered;
}

bool ContextFetch::objectsFromStore(std::vector<ManagedObjectPtr>* objects, Error* error) {
  std::string table = coordinator_.store().schema().tableName(entity_->rootEntity());
  std::string sql = "SELECT " + std::string(kSQLRootAlias) + ".*" + fromWhere() + " ORDER BY ";
  for (size_t i = 0; i < request_.sortDescriptors.size(); ++i)
    sql += sortKeys_[i].expression + (request_.sortDescriptors[i].ascending ? " ASC, " : " DESC, ");
  sql += std::string(kSQLRootAlias) + ".\"_pk\" LIMIT ? OFFSET ?";
  std::vector<ManagedObjectPtr> filled;
  {
    std::lock_guard lock(coordinator_.mutex());
    auto statement = coordinator_.store().database().cachedStatement(sql, error);
    if (!statement) return false;
    int index = 1;
    if (!bindAll(*statement, &index, error) ||
        !statement->bindInt64(index++, request_.limit > 0 ? request_.limit : -1, error) ||
        !statement->bindInt64(index++, request_.offset, error))
      return false;
    StoredRow row;
    while (statement->step(error)) {
      if (!coordinator_.decodeRow(*statement, table, &row)) continue;
      bool wasFilled = false;
      ManagedObjectPtr object = context_.adoptRow(row, &wasFilled);
      if (!object) continue;
      if (wasFilled) filled.push_back(object);
      objects->push_back(std::move(object));
    }
    if (statement->failed()) return false;
  }
  // Hooks may use the store, so they run once the query is done.
  for (const ManagedObjectPtr& object : filled) object->awakeFromFetch();
  return true;
}

std::optional<FetchResult> ContextFetch::run(Error* error) {
  if (!prepare(error)) return std::nullopt;
  FetchResult result;
  if (request_.resultType == FetchRequest::ResultType::Objects && request_.batchSize == 0 && rowsOnlyFromStore()) {
    if (!objectsFromStore(&result.objects, error)) return std::nullopt;
    return result;
  }
  std::vector<Candidate> candidates;
  int64_t count = -1;  // set by count queries
  if (rowsOnlyFromStore()) {
    if (!queryStore(&candidates, &count, error)) return std::nullopt;
  } else if (!queryAsIfSaved(&candidates, &count)) {
    if (!fetchFromStore(&candidates, true, false, error)) return std::nullopt;
    addPendingObjects(&candidates);
    sortAndPage(&candidates);
  }
  switch (request_.resultType) {
    case FetchRequest::ResultType::Count:
      result.count = count >= 0 ? count : static_cast<int64_t>(candidates.size());
      break;
    case FetchRequest::ResultType::ObjectIDs:
      for (Candidate& candidate : candidates) result.objectIDs.push_back(std::move(candidate.id));
      break;
    case FetchRequest::ResultType::Objects:
      if (!objectsFor(candidates, &result.objects, error)) return std::nullopt;
      break;
    case FetchRequest::ResultType::Dictionaries:
      if (aggregates_)
        result.dictionaries.push_back(std::move(*aggregates_));
      else if (!dictionariesFor(candidates, &result, error))
        return std::nullopt;
      break;
  }
  return result;
}

std::optional<FetchResult> ManagedObjectContext::execute(const FetchRequest& request, Error* error) {
  QLT_REQUIRE(isInsideQueue(), "inside the context's queue");
  return ContextFetch(*this, request).run(error);
}

std::optional<std::vector<ManagedObjectPtr>> ManagedObjectContext::fetch(const FetchRequest& request, Error* error) {
  FetchRequest objects = request;
  objects.resultType = FetchRequest::ResultType::Objects;
  auto result = execute(objects, error);
  if (!result) return std::nullopt;
  return std::move(result->objects);
}

std::optional<std::vector<ObjectID>> ManagedObjectContext::fetchObjectIDs(const FetchRequest& request, Error* error) {
  FetchRequest ids = request;
  ids.resultType = FetchRequest::ResultType::ObjectIDs;
  auto result = execute(ids, error);
  if (!result) return std::nullopt;
  return std::move(result->objectIDs);
}

std::optional<int64_t> ManagedObjectContext::count(const FetchRequest& request, Error* error) {
  FetchRequest count = request;
  count.resultType = FetchRequest::ResultType::Count;
  auto result = execute(count, error);
  if (!result) return std::nullopt;
  return result->count;
}

}  // namespace qlt
