#include "Database.hpp"

namespace pizzacore {

std::optional<Payment> Database::paymentFor(const Order& order) const {
    for (const Payment& payment : payments)
        if (payment.orderID == order.id) return payment;
    return std::nullopt;
}

void Database::record(std::string action, std::string reference, Instant now) {
    audit.push_back(Audit{Uuid::random(), now, std::move(action), std::move(reference)});
}

} // namespace pizzacore
