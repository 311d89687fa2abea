#pragma once

#include <memory>
#include <string>

#include "platform/foundation/date.h"

namespace qlt {

enum class CalendarUnit { Day, Month, Year };

// Gregorian calendar arithmetic in one time zone.
class Calendar {
 public:
  // The user's time zone.
  static Calendar current();
  // A time zone named by its Olson identifier ("Europe/Paris"); an unknown
  // identifier gives UTC.
  static Calendar inTimeZone(const std::string& identifier);

  // Midnight at the start of the day holding `date`.
  Date startOfDay(Date date) const;
  // `date` moved by `amount` units; months and years keep the time of day
  // and clamp the day to the length of the month reached.
  Date adding(CalendarUnit unit, int amount, Date date) const;

 private:
  explicit Calendar(std::string timeZone) : timeZone_(std::move(timeZone)) {}

  std::string timeZone_;  // empty: the user's
};

}  // namespace qlt
