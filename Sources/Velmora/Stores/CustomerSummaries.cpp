#include <Velmora/Stores/CustomerSummaries.hpp>

#include <PizzaCore/Models/PhoneKey.hpp>

namespace velmora {

CustomerSummaries::CustomerSummaries(const pizzacore::Database& db) {
    countAll(db);
}

void CustomerSummaries::countAll(const pizzacore::Database& db) {
    byCard_.clear();
    byPhoneKey_.clear();
    methods_.clear();
    shares_.clear();
    methods_.reserve(db.payments.size());
    for (const pizzacore::Payment& payment : db.payments)
        methods_.emplace(payment.orderID, payment.method);
    shares_.reserve(db.orders.size());
    for (const pizzacore::Order& order : db.orders) {
        Share share = shareOf(order);
        count(order.id, share, 1);
        shares_.insert_or_assign(order.id, std::move(share));
    }
    ordersVersion_.remember(db.orders);
    paymentsVersion_.remember(db.payments);
}

void CustomerSummaries::update(const pizzacore::Database& db) {
    if constexpr (RecordVersion<Orders>::exact && RecordVersion<Payments>::exact) {
        const ChangedSpan orders = ordersVersion_.spanTo(db.orders);
        const ChangedSpan payments = paymentsVersion_.spanTo(db.payments);
        // Payments are only ever added; one removed or changed (a restored backup) may change
        // which payment of an order came first, so everything is counted again then. So it is when
        // one id names several orders, which a shared tally by id cannot follow.
        bool exact = payments.onlyAppends(paymentsVersion_.size());
        const Orders& earlier = ordersVersion_.list();
        // The orders replaced leave their figures, counted with the payments known before.
        for (std::size_t at = orders.first; exact && at < orders.earlierEnd; ++at) {
            const auto share = shares_.find(earlier[at].id);
            if (share == shares_.end()) {
                exact = false;
                break;
            }
            count(share->first, share->second, -1);
            shares_.erase(share);
        }
        if (!exact) {
            countAll(db);
            return;
        }
        // A new first payment of an order still stored counts for it at once.
        for (std::size_t at = payments.first; at < payments.laterEnd; ++at) {
            const pizzacore::Payment& payment = db.payments[at];
            if (!methods_.emplace(payment.orderID, payment.method).second) continue;
            const auto share = shares_.find(payment.orderID);
            if (share == shares_.end() || share->second.cancelled) continue;
            if (Tally* tally = tallyOf(share->second))
                (payment.method == pizzacore::PaymentMethod::cash ? tally->cash : tally->card) += 1;
        }
        // The orders that replace them bring theirs, with the payments known now.
        for (std::size_t at = orders.first; at < orders.laterEnd; ++at) {
            const pizzacore::Order& order = db.orders[at];
            Share share = shareOf(order);
            if (!shares_.emplace(order.id, share).second) {
                countAll(db);
                return;
            }
            count(order.id, share, 1);
        }
        ordersVersion_.remember(db.orders);
        paymentsVersion_.remember(db.payments);
    } else {
        countAll(db);
    }
}

CustomerSummaries::Share CustomerSummaries::shareOf(const pizzacore::Order& order) {
    Share share;
    share.card = order.draft.customerID;
    if (!share.card) share.phoneKey = pizzacore::phoneKey(order.draft.phone);
    share.cancelled = order.preparation == pizzacore::Preparation::cancelled;
    return share;
}

CustomerSummaries::Tally* CustomerSummaries::tallyOf(const Share& share) {
    if (share.card) return &byCard_[*share.card];
    if (share.phoneKey.empty()) return nullptr;
    return &byPhoneKey_[share.phoneKey];
}

void CustomerSummaries::count(const pizzacore::Uuid& order, const Share& share, int step) {
    Tally* tally = tallyOf(share);
    if (!tally) return;
    const auto apply = [step](std::size_t& figure) { figure = step > 0 ? figure + 1 : figure - 1; };
    apply(tally->orders);
    if (share.cancelled) return;
    const auto method = methods_.find(order);
    if (method == methods_.end()) return;
    apply(method->second == pizzacore::PaymentMethod::cash ? tally->cash : tally->card);
}

CustomerSummaries::Summary CustomerSummaries::summary(const pizzacore::Customer& customer) const {
    Tally total;
    if (const auto linked = byCard_.find(customer.id); linked != byCard_.end()) total = linked->second;
    const std::string key = pizzacore::phoneKey(customer.phone);
    if (!key.empty()) {
        if (const auto walkIn = byPhoneKey_.find(key); walkIn != byPhoneKey_.end()) {
            total.orders += walkIn->second.orders;
            total.cash += walkIn->second.cash;
            total.card += walkIn->second.card;
        }
    }
    Summary result{total.orders, {}};
    if (total.cash == 0 && total.card == 0)
        result.usualPayment = "Sin datos";
    else if (total.cash == total.card)
        result.usualPayment = "Mixto";
    else
        result.usualPayment = total.cash > total.card ? "Efectivo" : "Tarjeta";
    return result;
}

} // namespace velmora
