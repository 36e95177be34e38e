#include "Orders.hpp"

namespace pizzacore {

Line Line::make(const Product& product) {
    Line line;
    line.taxRate = product.taxRate;
    line.productID = product.id;
    line.name = product.name;
    line.category = product.category;
    line.cents = product.cents;
    return line;
}

Cents Draft::total() const {
    Cents sum = 0;
    for (const Line& line : lines)
        sum += line.total();
    return sum;
}

} // namespace pizzacore
