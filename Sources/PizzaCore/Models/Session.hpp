#pragma once

#include <PizzaCore/Foundation/Instant.hpp>
#include <PizzaCore/Foundation/Record.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Models/Money.hpp>

#include <optional>
#include <string>

namespace pizzacore {

// A cash-register shift within a business day ("yyyy-MM-dd"). It is open while `closed` is
// absent; closing freezes the reason and the three totals.
#define PIZZACORE_SESSION_FIELDS(X)                                                                          \
    X(Uuid, id, Uuid::random())                                                                              \
    X(std::string, businessDay)                                                                              \
    X(Instant, opened)                                                                                       \
    X(Instant, scheduledEnd)                                                                                 \
    X(std::optional<Instant>, closed)                                                                        \
    X(std::optional<std::string>, reason)                                                                    \
    X(std::optional<Cents>, salesAtClose)                                                                    \
    X(std::optional<Cents>, receiptsAtClose)                                                                 \
    X(std::optional<Cents>, unpaidAtClose)

struct Session {
    PIZZACORE_RECORD(Session, PIZZACORE_SESSION_FIELDS)
};

} // namespace pizzacore
