#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/model_fixture.h"
#include "platform/foundation/calendar.h"
#include "platform/objectstore/managed_object_accessor.h"
#include "platform/objectstore/predicate_evaluation.h"
#include "search/search_option.h"

namespace qlt {

// A small library whose items differ in every property an option can test,
// and a fixed clock: 15 May 2026, noon in Paris.
class SearchLibraryFixture : public ::testing::Test, public ModelFixture {
 protected:
  SearchLibraryFixture() : clock{paris(2026, 5, 15, 12, 0), Calendar::inTimeZone("Europe/Paris")} {}

  static Date paris(int year, int month, int day, int hour, int minute) {
    Calendar calendar = Calendar::inTimeZone("Europe/Paris");
    // Noon UTC on the day is always that day in Paris.
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = 12;
    Date midday = Date::fromUnixTime(static_cast<double>(timegm(&tm)));
    return calendar.startOfDay(midday).addingTimeInterval(hour * 3600.0 + minute * 60.0);
  }

  ManagedObjectPtr insert(const char* entity, const std::string& name = {}) {
    ManagedObjectPtr object = context->insertNewObject(entity);
    if (!name.empty()) object->setValueForKey("name", name);
    return object;
  }

  ManagedObjectPtr item(const std::string& name, Date modified) {
    ManagedObjectPtr created = insert("Item", name);
    created->setValueForKey("filename", name);
    created->setValueForKey("dateModified", modified);
    created->setValueForKey("favorite", false);
    items[name] = created;
    return created;
  }

  // The names of the items `predicate` selects, in SQL and in memory; the
  // test fails when the two differ.
  std::set<std::string> selected(const PredicatePtr& predicate) {
    EXPECT_TRUE(predicate);
    if (!predicate) return {};
    FetchRequest request("Item");
    request.predicate = predicate;
    Error error;
    auto fetched = context->fetch(request, &error);
    EXPECT_TRUE(fetched) << error.description() << " in " << predicate->description();
    std::set<std::string> bySQL, inMemory;
    for (const ManagedObjectPtr& object : fetched.value_or(std::vector<ManagedObjectPtr>{}))
      bySQL.insert(*object->valueForKey("name").string());
    for (const auto& [name, object] : items)
      if (evaluate(*predicate, ManagedObjectAccessor(object))) inMemory.insert(name);
    EXPECT_EQ(bySQL, inMemory) << predicate->description();
    return bySQL;
  }
  std::set<std::string> selected(const SearchOption& option) { return selected(option.predicate(clock)); }

  SearchClock clock;
  std::map<std::string, ManagedObjectPtr> items;
};

}  // namespace qlt
