#pragma once

#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Foundation/Record.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Models/Money.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pizzacore {

// A menu category and the destination of its products' preparation tickets.
// `rawValue` is the name shown everywhere; `bar` sends its products to the bar ticket.
#define PIZZACORE_CATEGORY_FIELDS(X)                                                                         \
    X(std::string, id)                                                                                       \
    X(std::string, rawValue)                                                                                 \
    X(bool, bar, false)

struct Category {
    PIZZACORE_RECORD(Category, PIZZACORE_CATEGORY_FIELDS)

    // A new category with a fresh identifier (upper-case UUID text).
    static Category make(std::string name, bool bar);

    static Category pizza();
    static Category drink();
    static Category side();
    // The categories of a new document: pizza, drink, side.
    static std::vector<Category> initial();
};

// A catalogue product. `cents` is the final price, tax included; an inactive product stays in
// the catalogue but is not offered at the till.
#define PIZZACORE_PRODUCT_FIELDS(X)                                                                          \
    X(std::optional<std::int64_t>, taxRate)                                                                  \
    X(std::optional<Bytes>, image)                                                                           \
    X(Uuid, id, Uuid::random())                                                                              \
    X(std::string, name)                                                                                     \
    X(Category, category, Category::pizza())                                                                 \
    X(Cents, cents, 0)                                                                                       \
    X(bool, active, true)

struct Product {
    PIZZACORE_RECORD(Product, PIZZACORE_PRODUCT_FIELDS)
};

} // namespace pizzacore

template <>
struct std::hash<pizzacore::Category> {
    std::size_t operator()(const pizzacore::Category& category) const noexcept;
};
