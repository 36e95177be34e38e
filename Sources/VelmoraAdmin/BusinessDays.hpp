#pragma once

#include <PizzaCore/Foundation/Instant.hpp>
#include <PizzaCore/Models/Settings.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace velmora::admin {

// How a business day is named on the command line: "yyyy-MM-dd" (an existing Gregorian date),
// "hoy" for the business day running now, or "ayer" for the one before it.
bool isDaySpec(std::string_view text);

// The business day that a valid typed text names; none means today. "Today" is the business clock's day
// of `now` under the document's closing time and time zone, so at 01:30 with the usual 04:00
// closing it is still the day that began the evening before.
std::string resolveDay(const std::optional<std::string>& typed, pizzacore::Instant now,
                       const pizzacore::Settings& settings);

} // namespace velmora::admin
