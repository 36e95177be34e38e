#pragma once

#include <PizzaCore/Foundation/Instant.hpp>
#include <PizzaCore/Foundation/Record.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Models/Catalog.hpp>
#include <PizzaCore/Models/Enumerations.hpp>
#include <PizzaCore/Models/Money.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pizzacore {

// One article line of a draft or order. It keeps copies of the product's name, category, price
// and tax rate as they were when the line was made.
#define PIZZACORE_LINE_FIELDS(X)                                                                             \
    X(std::optional<std::int64_t>, taxRate)                                                                  \
    X(Uuid, id, Uuid::random())                                                                              \
    X(Uuid, productID)                                                                                       \
    X(std::string, name)                                                                                     \
    X(Category, category, Category::pizza())                                                                 \
    X(Cents, cents, 0)                                                                                       \
    X(std::int64_t, quantity, 1)                                                                             \
    X(std::string, notes)

struct Line {
    PIZZACORE_RECORD(Line, PIZZACORE_LINE_FIELDS)

    // A line of one unit of the product, with a new identifier.
    static Line make(const Product& product);

    // `cents` × `quantity`. A product beyond the 64-bit range throws PCError "El importe supera
    // el límite admitido." instead of wrapping around.
    Cents total() const;
};

// The order being taken, and the frozen content of a confirmed order.
#define PIZZACORE_DRAFT_FIELDS(X)                                                                            \
    X(Uuid, id, Uuid::random())                                                                              \
    X(std::optional<Uuid>, customerID)                                                                       \
    X(std::string, name)                                                                                     \
    X(std::string, phone)                                                                                    \
    X(std::string, address)                                                                                  \
    X(std::string, customerNotes)                                                                            \
    X(std::string, notes)                                                                                    \
    X(Mode, mode, Mode::pickup)                                                                              \
    X(std::vector<Line>, lines)

struct Draft {
    PIZZACORE_RECORD(Draft, PIZZACORE_DRAFT_FIELDS)

    // The sum of the line totals, 0 without lines; checked like Line::total().
    Cents total() const;
};

// A confirmed order, numbered sequentially.
#define PIZZACORE_ORDER_FIELDS(X)                                                                            \
    X(Uuid, id, Uuid::random())                                                                              \
    X(std::int64_t, number, 0)                                                                               \
    X(Instant, created)                                                                                      \
    X(Uuid, sessionID)                                                                                       \
    X(Draft, draft)                                                                                          \
    X(Preparation, preparation, Preparation::preparing)                                                      \
    X(std::optional<std::string>, cancellationReason)                                                        \
    X(std::int64_t, printAttempts, 0)

struct Order {
    PIZZACORE_RECORD(Order, PIZZACORE_ORDER_FIELDS)

    // The total of its draft; checked like Line::total().
    Cents total() const { return draft.total(); }
};

// The payment of one order, taken in a cash session. `cents` equals the order total;
// `received` is what the customer handed over.
#define PIZZACORE_PAYMENT_FIELDS(X)                                                                          \
    X(Uuid, id, Uuid::random())                                                                              \
    X(Uuid, orderID)                                                                                         \
    X(Uuid, sessionID)                                                                                       \
    X(Instant, date)                                                                                         \
    X(PaymentMethod, method, PaymentMethod::cash)                                                            \
    X(Cents, cents, 0)                                                                                       \
    X(Cents, received, 0)

struct Payment {
    PIZZACORE_RECORD(Payment, PIZZACORE_PAYMENT_FIELDS)

    // `received` − `cents`, checked like Line::total().
    Cents change() const;
};

} // namespace pizzacore
