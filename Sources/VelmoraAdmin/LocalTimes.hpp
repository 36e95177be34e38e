#pragma once

#include <PizzaCore/Foundation/Instant.hpp>

#include <memory>
#include <string>
#include <string_view>

namespace velmora::admin {

// Instants written as the restaurant's wall clock reads them, in the business time zone of the
// document. One writer serves every row of a listing; seconds are truncated, never rounded up
// into the next minute.
class LocalTimes {
public:
    // `zone` is the document's time-zone identifier; an unknown one falls back to the computer's
    // zone, as the business clock does.
    explicit LocalTimes(std::string_view zone);
    ~LocalTimes();
    LocalTimes(const LocalTimes&) = delete;
    LocalTimes& operator=(const LocalTimes&) = delete;

    // For programs: "2026-03-09T21:15:03+01:00", ISO 8601 with the zone's offset at that moment.
    std::string iso(pizzacore::Instant instant) const;
    // For people: "2026-03-09 21:15".
    std::string dateTime(pizzacore::Instant instant) const;
    // For people: "21:15".
    std::string time(pizzacore::Instant instant) const;

private:
    struct Fields;
    // The wall-clock fields; false for an instant outside the calendar's range.
    bool fields(pizzacore::Instant instant, Fields& out) const;

    struct Calendar;
    std::unique_ptr<Calendar> calendar_;
};

} // namespace velmora::admin
