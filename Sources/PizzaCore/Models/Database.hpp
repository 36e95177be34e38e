#pragma once

#include <PizzaCore/Fiscal/FiscalModels.hpp>
#include <PizzaCore/Foundation/Record.hpp>
#include <PizzaCore/Models/Audit.hpp>
#include <PizzaCore/Models/Catalog.hpp>
#include <PizzaCore/Models/Customer.hpp>
#include <PizzaCore/Models/Orders.hpp>
#include <PizzaCore/Models/Session.hpp>
#include <PizzaCore/Models/Settings.hpp>

#include <cstdint>
#include <optional>
#include <vector>

namespace pizzacore {

// The whole state of one restaurant as a single value: copied, changed and replaced as a whole.
// Orders are kept in confirmation order, sessions in opening order, audit entries oldest first.
#define PIZZACORE_DATABASE_FIELDS(X)                                                                         \
    X(std::optional<FiscalState>, fiscal)                                                                    \
    X(std::vector<Category>, categories, Category::initial())                                                \
    X(std::int64_t, schemaVersion, 1)                                                                        \
    X(std::vector<Customer>, customers)                                                                      \
    X(std::vector<Product>, products)                                                                        \
    X(std::vector<Order>, orders)                                                                            \
    X(std::vector<Payment>, payments)                                                                        \
    X(std::vector<Session>, sessions)                                                                        \
    X(Settings, settings)                                                                                    \
    X(Draft, draft)                                                                                          \
    X(std::int64_t, nextNumber, 1)                                                                           \
    X(std::vector<Audit>, audit)

struct Database {
    PIZZACORE_RECORD(Database, PIZZACORE_DATABASE_FIELDS)

    // Operations that change the document check everything first, then change it, then append
    // their audit entry; a refusal throws PCError and leaves the document as it was. Operations
    // that need the current time take it as their last argument, so that the caller's clock
    // decides every instant.

    // The first payment registered for the order, if any.
    std::optional<Payment> paymentFor(const Order& order) const;

    // Audit trail: appends one entry (new id, `now`, action, reference). Never fails.
    void record(std::string action, std::string reference, Instant now);

    // Fiscal archive.

    // Cash sessions.
};

} // namespace pizzacore
