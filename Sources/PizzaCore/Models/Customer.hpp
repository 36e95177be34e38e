#pragma once

#include <PizzaCore/Foundation/Record.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>

#include <string>

namespace pizzacore {

// A customer card. Telephones are compared through their phone key, never as typed;
// `notes` are the customer's usual notes, copied into a draft.
#define PIZZACORE_CUSTOMER_FIELDS(X)                                                                         \
    X(Uuid, id, Uuid::random())                                                                              \
    X(std::string, name)                                                                                     \
    X(std::string, phone)                                                                                    \
    X(std::string, address)                                                                                  \
    X(std::string, notes)

struct Customer {
    PIZZACORE_RECORD(Customer, PIZZACORE_CUSTOMER_FIELDS)
};

} // namespace pizzacore
