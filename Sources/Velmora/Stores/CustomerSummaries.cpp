#include <Velmora/Stores/CustomerSummaries.hpp>

#include <PizzaCore/Models/PhoneKey.hpp>

namespace velmora {

CustomerSummaries::CustomerSummaries(const pizzacore::Database& db) {
    // The method of each order's first payment.
    std::unordered_map<pizzacore::Uuid, pizzacore::PaymentMethod> methods;
    methods.reserve(db.payments.size());
    for (const pizzacore::Payment& payment : db.payments)
        methods.emplace(payment.orderID, payment.method);

    for (const pizzacore::Order& order : db.orders) {
        Tally* tally = nullptr;
        if (order.draft.customerID) {
            tally = &byCard_[*order.draft.customerID];
        } else {
            std::string key = pizzacore::phoneKey(order.draft.phone);
            if (key.empty()) continue;
            tally = &byPhoneKey_[std::move(key)];
        }
        tally->orders += 1;
        if (order.preparation == pizzacore::Preparation::cancelled) continue;
        const auto method = methods.find(order.id);
        if (method == methods.end()) continue;
        (method->second == pizzacore::PaymentMethod::cash ? tally->cash : tally->card) += 1;
    }
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
