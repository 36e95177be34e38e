#pragma once

#include <PizzaCore/Foundation/Instant.hpp>
#include <PizzaCore/Foundation/Record.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>

#include <string>

namespace pizzacore {

// One entry of the audit trail: what was done (`action`), when, and to what (`reference`).
#define PIZZACORE_AUDIT_FIELDS(X)                                                                            \
    X(Uuid, id, Uuid::random())                                                                              \
    X(Instant, date)                                                                                         \
    X(std::string, action)                                                                                   \
    X(std::string, reference)

struct Audit {
    PIZZACORE_RECORD(Audit, PIZZACORE_AUDIT_FIELDS)
};

} // namespace pizzacore
