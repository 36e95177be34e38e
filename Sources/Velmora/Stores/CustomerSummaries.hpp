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
    // Whose figures an order counts in, and whether its payment counts.
    struct Share {
        std::optional<pizzacore::Uuid> card;
        std::string phoneKey;
        bool cancelled = false;
    };

    void countAll(const pizzacore::Database& db);
    static Share shareOf(const pizzacore::Order& order);
    // The tally the order's figures go to, or null for an order of nobody.
    Tally* tallyOf(const Share& share);
    // Adds (`step` 1) or takes away (`step` -1) the order's figures.
    void count(const pizzacore::Uuid& order, const Share& share, int step);

    std::unordered_map<pizzacore::Uuid, Tally> byCard_;
    std::unordered_map<std::string, Tally> byPhoneKey_;
    // The method of each order's first payment.
    std::unordered_map<pizzacore::Uuid, pizzacore::PaymentMethod> methods_;
    // Each stored order's share, by id.
    std::unordered_map<pizzacore::Uuid, Share> shares_;
    RecordVersion<Orders> ordersVersion_;
    RecordVersion<Payments> paymentsVersion_;
};

} // namespace velmora
