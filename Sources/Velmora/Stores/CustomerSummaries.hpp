#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Models/Customer.hpp>
#include <PizzaCore/Models/Database.hpp>
#include <Velmora/Stores/RecordVersions.hpp>
#endif

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmora {

// The number of orders and the usual payment of every card, with the same rules as
// Database::ordersFor and usualPaymentFor: an order belongs to the card it is linked to, or,
// linked to none, to the card with its telephone's key. Asking one card's figures costs two
// look-ups instead of a pass over the whole history.
//
// The figures are counted once from the whole history; after that, update() looks only at the
// orders and payments that changed (when the document's collections share their unchanged records;
// otherwise it counts everything again).
class CustomerSummaries {
public:
    struct Summary {
        std::size_t orders = 0;
        // "Efectivo", "Tarjeta", "Mixto" or "Sin datos".
        std::string usualPayment;
    };

    explicit CustomerSummaries(const pizzacore::Database& db);
    // Each order's share points into the tallies: a copy would point into the original's.
    CustomerSummaries(const CustomerSummaries&) = delete;
    CustomerSummaries& operator=(const CustomerSummaries&) = delete;

    // Brings the figures up to `db`, a later version of the document they were counted from.
    void update(const pizzacore::Database& db);

    Summary summary(const pizzacore::Customer& customer) const;

private:
    using Orders = decltype(pizzacore::Database::orders);
    using Payments = decltype(pizzacore::Database::payments);

    struct Tally {
        std::size_t orders = 0;
        std::size_t cash = 0;
        std::size_t card = 0;
    };
    // What one stored order adds to the figures.
    struct Share {
        // The tally of its card or of its telephone's key; null for an order of nobody. Tallies
        // are never removed, and a map keeps its elements in place, so the pointer stays good.
        Tally* tally = nullptr;
        bool cancelled = false;
        // The method of its first payment.
        std::optional<pizzacore::PaymentMethod> method;
    };

    void countAll(const pizzacore::Database& db);
    // Follows the change from the counted document to `db`; false when it cannot (payments
    // removed or replaced), and then nothing was changed.
    bool follow(const pizzacore::Database& db);
    Share shareOf(const pizzacore::Order& order, std::optional<pizzacore::PaymentMethod> method);
    // Adds (`step` 1) or takes away (`step` -1) the order's figures.
    static void count(const Share& share, int step);

    std::unordered_map<pizzacore::Uuid, Tally> byCard_;
    std::unordered_map<std::string, Tally> byPhoneKey_;
    // One per stored order, in stored order.
    std::vector<Share> shares_;
    RecordVersion<Orders> ordersVersion_;
    RecordVersion<Payments> paymentsVersion_;
};

} // namespace velmora
