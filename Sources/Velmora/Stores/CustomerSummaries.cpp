#include <Velmora/Stores/CustomerSummaries.hpp>

#include <PizzaCore/Models/PhoneKey.hpp>

#include <algorithm>
#include <optional>
#include <utility>

namespace velmora {

CustomerSummaries::CustomerSummaries(const pizzacore::Database& db) {
    countAll(db);
}

void CustomerSummaries::countAll(const pizzacore::Database& db) {
    byCard_.clear();
    byPhoneKey_.clear();
    // The method of each order's first payment.
    std::unordered_map<pizzacore::Uuid, pizzacore::PaymentMethod> methods;
    methods.reserve(db.payments.size());
    for (const pizzacore::Payment& payment : db.payments)
        methods.emplace(payment.orderID, payment.method);
    shares_.clear();
    shares_.reserve(db.orders.size());
    for (const pizzacore::Order& order : db.orders) {
        const auto method = methods.find(order.id);
        shares_.push_back(
            shareOf(order, method == methods.end() ? std::nullopt : std::optional(method->second)));
        count(shares_.back(), 1);
    }
    ordersVersion_.remember(db.orders);
    paymentsVersion_.remember(db.payments);
}

void CustomerSummaries::update(const pizzacore::Database& db) {
    if (!follow(db)) countAll(db);
}

bool CustomerSummaries::follow(const pizzacore::Database& db) {
    if (!RecordVersion<Orders>::exact || !RecordVersion<Payments>::exact) return false;
    const ChangedSpan orders = ordersVersion_.spanTo(db.orders);
    const ChangedSpan payments = paymentsVersion_.spanTo(db.payments);
    // Payments are only ever added; one removed or replaced (a restored backup) may change which
    // payment of an order came first.
    if (!payments.onlyAppends(paymentsVersion_.size()) || orders.earlierEnd > shares_.size()) return false;
    const Orders& earlier = ordersVersion_.list();
    const auto firstPayment = [&](const pizzacore::Uuid& order) -> std::optional<pizzacore::PaymentMethod> {
        for (const pizzacore::Payment& payment : db.payments)
            if (payment.orderID == order) return payment.method;
        return std::nullopt;
    };

    // The orders replaced leave their figures and those replacing them bring theirs; an order
    // changed in place keeps its payment's method, a new one looks for its payment.
    std::vector<Share> replacing;
    replacing.reserve(orders.laterEnd - orders.first);
    for (std::size_t at = orders.first; at < orders.laterEnd; ++at) {
        const pizzacore::Order& order = db.orders[at];
        const bool same = at < orders.earlierEnd && earlier[at].id == order.id;
        replacing.push_back(shareOf(order, same ? shares_[at].method : firstPayment(order.id)));
    }
    for (std::size_t at = orders.first; at < orders.earlierEnd; ++at)
        count(shares_[at], -1);
    for (const Share& share : replacing)
        count(share, 1);
    const auto from = shares_.begin() + static_cast<std::ptrdiff_t>(orders.first);
    if (orders.keepsPositions()) {
        std::copy(replacing.begin(), replacing.end(), from);
    } else {
        shares_.erase(from, shares_.begin() + static_cast<std::ptrdiff_t>(orders.earlierEnd));
        shares_.insert(shares_.begin() + static_cast<std::ptrdiff_t>(orders.first), replacing.begin(),
                       replacing.end());
    }

    // A first payment of an order counted before counts for it now; the latest orders are the
    // ones paid, so the look-up starts from the end.
    for (std::size_t at = payments.first; at < payments.laterEnd; ++at) {
        const pizzacore::Payment& payment = db.payments[at];
        for (std::size_t position = db.orders.size(); position > 0; --position) {
            if (db.orders[position - 1].id != payment.orderID) continue;
            Share& share = shares_[position - 1];
            if (!share.method) {
                count(share, -1);
                share.method = payment.method;
                count(share, 1);
            }
            break;
        }
    }
    ordersVersion_.remember(db.orders);
    paymentsVersion_.remember(db.payments);
    return true;
}

CustomerSummaries::Share CustomerSummaries::shareOf(const pizzacore::Order& order,
                                                    std::optional<pizzacore::PaymentMethod> method) {
    Share share;
    if (order.draft.customerID) {
        share.tally = &byCard_[*order.draft.customerID];
    } else if (std::string key = pizzacore::phoneKey(order.draft.phone); !key.empty()) {
        share.tally = &byPhoneKey_[std::move(key)];
    }
    share.cancelled = order.preparation == pizzacore::Preparation::cancelled;
    share.method = method;
    return share;
}

void CustomerSummaries::count(const Share& share, int step) {
    if (!share.tally) return;
    const auto apply = [step](std::size_t& figure) { figure = step > 0 ? figure + 1 : figure - 1; };
    apply(share.tally->orders);
    if (share.cancelled || !share.method) return;
    apply(*share.method == pizzacore::PaymentMethod::cash ? share.tally->cash : share.tally->card);
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
