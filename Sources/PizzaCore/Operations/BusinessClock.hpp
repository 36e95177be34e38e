#pragma once

#include <PizzaCore/Foundation/Instant.hpp>
#include <PizzaCore/Models/Settings.hpp>

#include <string>
#include <string_view>

namespace pizzacore::BusinessClock {

// The business clock: which business day an instant belongs to, and when the next closing time
// falls. A business day runs from one closing time (`Settings::closingHour`:`closingMinute`:00
// local time in `Settings::timeZone`) to the next, and is named by the local date on which it
// began. The functions are pure: they build the Gregorian calendar of the business zone on each
// call and never read the system clock. A zone name that is not a known zone identifier falls
// back to the computer's zone, without an error.

// Whether `name` is a zone identifier of the time-zone database (for example "Europe/Madrid").
bool isKnownTimeZone(std::string_view name);

// The instant at which the local clock reads the closing time on the local date that contains
// `instant`. A closing time skipped by a clock change gives the next instant that exists; one
// that occurs twice gives the first occurrence.
Instant boundary(Instant instant, const Settings& settings);

// The first closing instant strictly after `instant`.
Instant next(Instant instant, const Settings& settings);

// The business day of `instant` as "yyyy-MM-dd": its local date, or the day before when it lies
// before that date's closing time.
std::string day(Instant instant, const Settings& settings);

} // namespace pizzacore::BusinessClock
