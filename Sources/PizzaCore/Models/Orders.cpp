#include "Orders.hpp"

#include <PizzaCore/Foundation/PCError.hpp>

namespace pizzacore {
namespace {

// Amounts never wrap around: a result beyond the 64-bit range is refused.
[[noreturn]] void beyondLimit() {
    throw PCError::invalid("El importe supera el límite admitido.");
}

} // namespace

Line Line::make(const Product& product) {
    Line line;
    line.taxRate = product.taxRate;
    line.productID = product.id;
    line.name = product.name;
    line.category = product.category;
    line.cents = product.cents;
    return line;
}

Cents Line::total() const {
    Cents product = 0;
    if (__builtin_mul_overflow(cents, quantity, &product)) beyondLimit();
    return product;
}

Cents Draft::total() const {
    Cents sum = 0;
    for (const Line& line : lines)
        if (__builtin_add_overflow(sum, line.total(), &sum)) beyondLimit();
    return sum;
}

Cents Payment::change() const {
    Cents difference = 0;
    if (__builtin_sub_overflow(received, cents, &difference)) beyondLimit();
    return difference;
}

} // namespace pizzacore
