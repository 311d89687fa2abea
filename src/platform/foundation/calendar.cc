#include "platform/foundation/calendar.h"

#include <unicode/calendar.h>
#include <unicode/gregocal.h>
#include <unicode/timezone.h>

#include <memory>

namespace qlt {
namespace {

constexpr double kMillisecondsPerSecond = 1000.0;

std::unique_ptr<icu::Calendar> makeCalendar(const std::string& timeZone, Date date) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Calendar> calendar;
  if (timeZone.empty()) {
    calendar.reset(new icu::GregorianCalendar(status));
  } else {
    calendar.reset(new icu::GregorianCalendar(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(timeZone)),
                                              status));
  }
  if (U_FAILURE(status)) return nullptr;
  calendar->setTime(date.timeIntervalSince1970() * kMillisecondsPerSecond, status);
  return U_FAILURE(status) ? nullptr : std::move(calendar);
}

Date dateOf(const icu::Calendar& calendar, Date fallback) {
  UErrorCode status = U_ZERO_ERROR;
  UDate milliseconds = calendar.getTime(status);
  return U_FAILURE(status) ? fallback : Date::fromUnixTime(milliseconds / kMillisecondsPerSecond);
}

}  // namespace

Calendar Calendar::current() { return Calendar(std::string()); }

Calendar Calendar::inTimeZone(const std::string& identifier) { return Calendar(identifier); }

Date Calendar::startOfDay(Date date) const {
  auto calendar = makeCalendar(timeZone_, date);
  if (!calendar) return date;
  for (UCalendarDateFields field : {UCAL_HOUR_OF_DAY, UCAL_MINUTE, UCAL_SECOND, UCAL_MILLISECOND})
    calendar->set(field, 0);
  return dateOf(*calendar, date);
}

Date Calendar::adding(CalendarUnit unit, int amount, Date date) const {
  auto calendar = makeCalendar(timeZone_, date);
  if (!calendar) return date;
  UErrorCode status = U_ZERO_ERROR;
  UCalendarDateFields field = unit == CalendarUnit::Day ? UCAL_DATE : unit == CalendarUnit::Month ? UCAL_MONTH : UCAL_YEAR;
  calendar->add(field, amount, status);
  return U_FAILURE(status) ? date : dateOf(*calendar, date);
}

}  // namespace qlt
