// Customer cards: saving a card, the three-field search of the customers screen, a card's order
// history and its usual payment method. Telephones are compared through their phone key only.

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Foundation/Text.hpp>
#include <PizzaCore/Foundation/TextCompare.hpp>
#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Models/PhoneKey.hpp>

#include <algorithm>
#include <unordered_map>
#include <utility>

namespace pizzacore {
namespace {

// Whether the order was taken for the card: through its link when the draft has one, otherwise
// through the telephone. `cardKey` is the phone key of the card's telephone.
bool belongsTo(const Order& order, const Customer& customer, const std::string& cardKey) {
    if (order.draft.customerID) return *order.draft.customerID == customer.id;
    if (cardKey.empty()) return false;
    const std::string key = phoneKey(order.draft.phone);
    return !key.empty() && key == cardKey;
}

} // namespace

void Database::saveCustomer(const Customer& customer, Instant now) {
    const std::string key = phoneKey(customer.phone);
    if (isBlank(customer.name) || key.size() < 7 || key.size() > 15)
        throw PCError::invalid("Indica nombre y un teléfono válido (7–15 cifras).");
    for (const Customer& other : customers)
        if (other.id != customer.id && phoneKey(other.phone) == key)
            throw PCError::invalid("Ese teléfono ya pertenece a otro cliente.");

    // Stored as given: nothing is trimmed or normalised. The card may be one of this document's
    // own, which storing it may release: its id is taken first.
    const std::string reference = customer.id.text();
    const auto stored = std::find_if(customers.begin(), customers.end(),
                                     [&](const Customer& c) { return c.id == customer.id; });
    if (stored != customers.end())
        customers.replace(stored.index(), customer);
    else
        customers.push_back(customer);
    record("Guardar cliente", reference, now);
}

bool Database::changesCardAddress(const Draft& draft) const {
    if (!draft.customerID || isBlank(draft.address)) return false;
    const auto card = std::find_if(customers.begin(), customers.end(),
                                   [&](const Customer& c) { return c.id == *draft.customerID; });
    return card != customers.end() && card->address != draft.address;
}

std::optional<Customer> Database::cardKeptOnConfirm(const Draft& draft, bool updateAddress) const {
    if (!settings.savesCardOnConfirm()) return std::nullopt;
    Customer card;
    if (draft.customerID) {
        if (!updateAddress || !changesCardAddress(draft)) return std::nullopt;
        card = *std::find_if(customers.begin(), customers.end(),
                             [&](const Customer& c) { return c.id == *draft.customerID; });
        card.address = draft.address;
    } else {
        card.name = draft.name;
        card.phone = draft.phone;
        card.address = draft.address;
        card.notes = draft.customerNotes;
    }
    // The same checks as saveCustomer(): a card it would refuse is not kept, and the order is
    // confirmed all the same.
    const std::string key = phoneKey(card.phone);
    if (isBlank(card.name) || key.size() < 7 || key.size() > 15) return std::nullopt;
    for (const Customer& other : customers)
        if (other.id != card.id && phoneKey(other.phone) == key) return std::nullopt;
    return card;
}

void Database::deleteCustomer(Uuid customerID, Instant now) {
    erase_if(customers, [&](const Customer& card) { return card.id == customerID; });
    record("Eliminar cliente", customerID.text(), now);
}

std::vector<Customer> Database::customersMatching(std::string_view name, std::string_view phone,
                                                  std::string_view address) const {
    name = trimmed(name);
    phone = trimmed(phone);
    address = trimmed(address);

    const std::string locale = textLocale();
    InsensitiveMatcher matcher(locale);
    const std::string nameQuery = matcher.folded(name);
    const std::string addressQuery = matcher.folded(address);
    const std::string phoneQuery = phoneKey(phone);
    // A telephone query without a single usable digit finds nobody.
    if (!phone.empty() && phoneQuery.empty()) return {};

    // Each card's texts are folded once, into one reused buffer.
    std::vector<const Customer*> kept;
    std::string folded;
    auto contains = [&](const std::string& text, const std::string& query) {
        matcher.fold(text, folded);
        return InsensitiveMatcher::contains(folded, query);
    };
    for (const Customer& customer : customers) {
        if (!phone.empty() && phoneKey(customer.phone).find(phoneQuery) == std::string::npos) continue;
        if (!name.empty() && !contains(customer.name, nameQuery)) continue;
        if (!address.empty() && !contains(customer.address, addressQuery)) continue;
        kept.push_back(&customer);
    }

    if (kept.size() > 1) {
        // Each name's collation key is made once; the stable sort keeps equal names in stored order.
        const NaturalOrder order(locale);
        std::vector<std::pair<std::string, const Customer*>> keyed;
        keyed.reserve(kept.size());
        for (const Customer* customer : kept)
            keyed.emplace_back(order.key(customer->name), customer);
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (std::size_t i = 0; i < keyed.size(); ++i)
            kept[i] = keyed[i].second;
    }

    std::vector<Customer> result;
    result.reserve(kept.size());
    for (const Customer* customer : kept)
        result.push_back(*customer);
    return result;
}

std::vector<Order> Database::ordersFor(const Customer& customer) const {
    const std::string cardKey = phoneKey(customer.phone);
    std::vector<Order> result;
    for (const Order& order : orders)
        if (belongsTo(order, customer, cardKey)) result.push_back(order);
    std::stable_sort(result.begin(), result.end(),
                     [](const Order& a, const Order& b) { return a.created.seconds > b.created.seconds; });
    return result;
}

std::string Database::usualPaymentFor(const Customer& customer) const {
    // The card's orders that count, each with the method of its first payment once found.
    const std::string cardKey = phoneKey(customer.phone);
    std::unordered_map<Uuid, std::optional<PaymentMethod>> methods;
    for (const Order& order : orders)
        if (order.preparation != Preparation::cancelled && belongsTo(order, customer, cardKey))
            methods.emplace(order.id, std::nullopt);
    for (const Payment& payment : payments) {
        const auto found = methods.find(payment.orderID);
        if (found != methods.end() && !found->second) found->second = payment.method;
    }

    std::size_t cash = 0;
    std::size_t card = 0;
    for (const auto& [id, method] : methods) {
        if (!method) continue;
        (*method == PaymentMethod::cash ? cash : card) += 1;
    }
    if (cash == 0 && card == 0) return "Sin datos";
    if (cash == card) return "Mixto";
    return cash > card ? "Efectivo" : "Tarjeta";
}

} // namespace pizzacore
