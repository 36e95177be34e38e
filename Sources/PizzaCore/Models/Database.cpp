#include "Database.hpp"

namespace pizzacore {

std::optional<Payment> Database::paymentFor(const Order& order) const {
    for (const Payment& payment : payments)
        if (payment.orderID == order.id) return payment;
    return std::nullopt;
}

} // namespace pizzacore
