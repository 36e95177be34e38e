#include "BusinessDays.hpp"

#include <PizzaCore/Operations/BusinessClock.hpp>

#include <chrono>
#include <cstdio>

namespace velmora::admin {

namespace {

std::optional<std::chrono::year_month_day> parseDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    int fields[3] = {0, 0, 0};
    const std::size_t starts[3] = {0, 5, 8};
    const std::size_t lengths[3] = {4, 2, 2};
    for (int i = 0; i < 3; ++i)
        for (std::size_t k = starts[i]; k < starts[i] + lengths[i]; ++k) {
            const char c = text[k];
            if (c < '0' || c > '9') return std::nullopt;
            fields[i] = fields[i] * 10 + (c - '0');
        }
    const std::chrono::year_month_day date{std::chrono::year(fields[0]),
                                           std::chrono::month(static_cast<unsigned>(fields[1])),
                                           std::chrono::day(static_cast<unsigned>(fields[2]))};
    if (!date.ok()) return std::nullopt;
    return date;
}

std::string dayText(std::chrono::year_month_day date) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return buffer;
}

} // namespace

bool isDaySpec(std::string_view text) {
    return text == "hoy" || text == "ayer" || parseDate(text).has_value();
}

std::string resolveDay(const std::optional<std::string>& typed, pizzacore::Instant now,
                       const pizzacore::Settings& settings) {
    if (typed && *typed != "hoy" && *typed != "ayer") return *typed;
    const std::string today = pizzacore::BusinessClock::day(now, settings);
    if (!typed || *typed == "hoy") return today;
    // Business days are named by the local date on which they began, so the one before today
    // is the previous calendar date, however long the night of a clock change was.
    const std::optional<std::chrono::year_month_day> date = parseDate(today);
    if (!date) return today;
    return dayText(std::chrono::sys_days(*date) - std::chrono::days(1));
}

} // namespace velmora::admin
