// The controller's order follow-up: the payment, preparation and cancellation started from the
// order detail. Every rule lives in the core operation; these only read what the operator typed,
// run the operation in one transaction and report a refusal.

#include <Velmora/Stores/AppStore.hpp>

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Models/Money.hpp>

#include <optional>
#include <string>

namespace velmora {

bool AppStore::payOrder(const pizzacore::Uuid& orderID, pizzacore::PaymentMethod method,
                        const QString& received) {
    std::optional<pizzacore::Cents> amount;
    // Card always charges the total; an empty cash field means the exact amount.
    if (method == pizzacore::PaymentMethod::cash && !received.isEmpty()) {
        try {
            amount = pizzacore::Money::parse(received.toStdString());
        } catch (const pizzacore::PCError& error) {
            setMessage(QString::fromStdString(error.message()));
            return false;
        }
    }
    const auto paid = [&] {
        for (const pizzacore::Payment& payment : db().payments)
            if (payment.orderID == orderID) return true;
        return false;
    };
    // Paying an order already paid succeeds and leaves it as it was: no new payment to announce.
    const bool before = paid();
    const pizzacore::Instant now = clock_.now();
    const Outcome outcome = transact([&](pizzacore::Database& db) { db.pay(orderID, method, amount, now); });
    if (!outcome)
        setMessage(outcome.failure);
    else if (!before && paid())
        emit paymentRegistered(orderID);
    return outcome.ok;
}

bool AppStore::prepareOrder(const pizzacore::Uuid& orderID, pizzacore::Preparation state) {
    const pizzacore::Instant now = clock_.now();
    const Outcome outcome = transact([&](pizzacore::Database& db) { db.prepare(orderID, state, now); });
    if (!outcome) setMessage(outcome.failure);
    return outcome.ok;
}

bool AppStore::cancelOrder(const pizzacore::Uuid& orderID, const QString& reason) {
    const std::string typed = reason.toStdString();
    const pizzacore::Instant now = clock_.now();
    const Outcome outcome = transact([&](pizzacore::Database& db) { db.cancel(orderID, typed, now); });
    if (!outcome) setMessage(outcome.failure);
    return outcome.ok;
}

} // namespace velmora
