// The integrity check every document passes on its way from and to the disk. Each rule is one
// pass over its list; lookups across lists go through hash sets and maps, so a year of orders and
// payments is checked in linear time.

#include "Repository.hpp"

#include <PizzaCore/Journal/DocumentChange.hpp>

#include <PizzaCore/Fiscal/FiscalRules.hpp>
#include <PizzaCore/Foundation/Folding.hpp>
#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Foundation/Text.hpp>
#include <PizzaCore/Models/PhoneKey.hpp>
#include <PizzaCore/Operations/BusinessClock.hpp>

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace pizzacore {

namespace {

constexpr std::string_view inconsistentMessage =
    "Datos inconsistentes. Conserva el archivo y recupera una copia de seguridad válida.";

constexpr Cents maximumAmount = 99'999'999;
constexpr std::int64_t maximumTaxRate = 10'000;
constexpr std::size_t maximumImageBytes = 2'000'000;
constexpr std::size_t maximumLines = 1000;
constexpr std::int64_t maximumQuantity = 999;

[[noreturn]] void inconsistent() {
    throw PCError::invalid(std::string(inconsistentMessage));
}

void require(bool condition) {
    if (!condition) inconsistent();
}

bool validTaxRate(const std::optional<std::int64_t>& rate) {
    return !rate || (*rate >= 0 && *rate <= maximumTaxRate);
}

bool validLine(const Line& line) {
    return line.cents >= 0 && line.cents <= maximumAmount && line.quantity >= 1 &&
           line.quantity <= maximumQuantity && validTaxRate(line.taxRate);
}

// Whether every key the projection gives is different from the others.
template <class T, class Key, class List, class Project>
bool pairwiseDifferent(const List& list, Project project) {
    std::unordered_set<Key> seen;
    seen.reserve(list.size());
    for (const T& item : list)
        if (!seen.insert(project(item)).second) return false;
    return true;
}

void validateCategories(const Database& db) {
    require(!db.categories.empty());
    require(pairwiseDifferent<Category, std::string_view>(
        db.categories, [](const Category& c) { return std::string_view(c.id); }));
    require(pairwiseDifferent<Category, std::string>(
        db.categories, [](const Category& c) { return foldedForComparison(c.rawValue); }));
    require(std::none_of(db.categories.begin(), db.categories.end(),
                         [](const Category& c) { return isBlank(c.rawValue); }));
}

void validateProductCategories(const Database& db) {
    // A product's copy of its category must match the list in id, name and destination.
    const std::unordered_set<Category> categories(db.categories.begin(), db.categories.end());
    for (const Product& product : db.products) {
        require(categories.contains(product.category));
        require(validTaxRate(product.taxRate));
        require(!product.image || product.image->size() <= maximumImageBytes);
    }
}

void validateNumbering(const Database& db) {
    if (db.orders.empty()) {
        require(db.nextNumber >= 1);
        return;
    }
    const auto largest = std::max_element(db.orders.begin(), db.orders.end(),
                                          [](const Order& a, const Order& b) { return a.number < b.number; });
    require(db.nextNumber > largest->number);
}

// An ISO 4217 code: three upper-case ASCII letters, as the fiscal settings set it. The code is
// written after every amount on screens, tickets and terminal listings, so anything else in a
// file (an escape sequence, a line break, a long text) is refused rather than shown.
bool validCurrency(const std::optional<std::string>& currency) {
    return !currency || (currency->size() == 3 && std::all_of(currency->begin(), currency->end(),
                                                              [](char c) { return c >= 'A' && c <= 'Z'; }));
}

void validateSettings(const Settings& settings) {
    require(settings.closingHour >= 0 && settings.closingHour <= 23);
    require(settings.closingMinute >= 0 && settings.closingMinute <= 59);
    require(BusinessClock::isKnownTimeZone(settings.timeZone));
    require(validCurrency(settings.currency));
}

void validateUniqueness(const Database& db) {
    require(pairwiseDifferent<Customer, Uuid>(db.customers, [](const Customer& c) { return c.id; }));
    require(pairwiseDifferent<Product, Uuid>(db.products, [](const Product& p) { return p.id; }));
    require(pairwiseDifferent<Order, Uuid>(db.orders, [](const Order& o) { return o.id; }));
    require(pairwiseDifferent<Session, Uuid>(db.sessions, [](const Session& s) { return s.id; }));
    require(pairwiseDifferent<Order, std::int64_t>(db.orders, [](const Order& o) { return o.number; }));
    require(pairwiseDifferent<Payment, Uuid>(db.payments, [](const Payment& p) { return p.orderID; }));
}

} // namespace

void Repository::validate(const Database& db) {
    // The fiscal archive's own rules come first, with their own messages.
    if (db.fiscal) FiscalRules::validateArchive(*db.fiscal);

    validateCategories(db);
    validateProductCategories(db);
    require(db.schemaVersion == 1);
    validateNumbering(db);
    validateSettings(db.settings);
    require(std::count_if(db.sessions.begin(), db.sessions.end(),
                          [](const Session& s) { return !s.closed; }) <= 1);
    validateUniqueness(db);
    require(pairwiseDifferent<Customer, std::string>(db.customers,
                                                     [](const Customer& c) { return phoneKey(c.phone); }));

    require(db.draft.lines.size() <= maximumLines);
    require(std::all_of(db.draft.lines.begin(), db.draft.lines.end(), validLine));

    require(std::all_of(db.products.begin(), db.products.end(),
                        [](const Product& p) { return p.cents >= 0 && p.cents <= maximumAmount; }));

    // Orders: their lines, their total (bounded once the lines are) and their session.
    std::unordered_set<Uuid> sessions;
    sessions.reserve(db.sessions.size());
    for (const Session& session : db.sessions)
        sessions.insert(session.id);
    std::unordered_map<Uuid, const Order*> orders;
    orders.reserve(db.orders.size());
    for (const Order& order : db.orders) {
        require(!order.draft.lines.empty() && order.draft.lines.size() <= maximumLines);
        require(std::all_of(order.draft.lines.begin(), order.draft.lines.end(), validLine));
        require(order.total() <= maximumAmount);
        require(sessions.contains(order.sessionID));
        orders.emplace(order.id, &order);
    }

    for (const Payment& payment : db.payments) {
        const auto order = orders.find(payment.orderID);
        require(order != orders.end() && order->second->total() == payment.cents &&
                order->second->preparation != Preparation::cancelled);
        require(sessions.contains(payment.sessionID));
        require(payment.received >= payment.cents && payment.received <= maximumAmount);
    }
}

namespace {

template <class T>
bool replacedWhole(const std::optional<CollectionChange<T>>& change) {
    return change && change->whole;
}

template <class T>
bool removes(const std::optional<CollectionChange<T>>& change) {
    return change && !change->removed.empty();
}

// The orders and payments a change puts are checked against the rest by scanning the lists once
// per rule; beyond a handful of them, the whole check is as cheap.
constexpr std::size_t fewRecords = 16;

} // namespace

void Repository::validateChange(const Database& db, const DocumentChange& change) {
    // A collection replaced whole, or orders or sessions taken away (which payments and orders
    // refer to), are checked with everything else.
    if (replacedWhole(change.categories) || replacedWhole(change.customers) ||
        replacedWhole(change.products) || replacedWhole(change.orders) || replacedWhole(change.payments) ||
        replacedWhole(change.sessions) || removes(change.orders) || removes(change.sessions) ||
        (change.orders && change.orders->put.size() > fewRecords) ||
        (change.payments && change.payments->put.size() > fewRecords)) {
        validate(db);
        return;
    }

    // The rules in the order validate runs them; all but the archive's share one message.
    if (change.fiscal && db.fiscal) FiscalRules::validateArchive(*db.fiscal);
    if (change.categories) validateCategories(db);
    if (change.categories || change.products) validateProductCategories(db);
    if (change.schemaVersion) require(db.schemaVersion == 1);
    if (change.nextNumber || change.orders) validateNumbering(db);
    if (change.settings) validateSettings(db.settings);
    if (change.sessions) {
        require(std::count_if(db.sessions.begin(), db.sessions.end(),
                              [](const Session& s) { return !s.closed; }) <= 1);
        require(pairwiseDifferent<Session, Uuid>(db.sessions, [](const Session& s) { return s.id; }));
    }
    if (change.customers) {
        require(pairwiseDifferent<Customer, Uuid>(db.customers, [](const Customer& c) { return c.id; }));
        require(pairwiseDifferent<Customer, std::string>(
            db.customers, [](const Customer& c) { return phoneKey(c.phone); }));
    }
    if (change.products) {
        require(pairwiseDifferent<Product, Uuid>(db.products, [](const Product& p) { return p.id; }));
        require(std::all_of(db.products.begin(), db.products.end(),
                            [](const Product& p) { return p.cents >= 0 && p.cents <= maximumAmount; }));
    }
    if (change.draft) {
        require(db.draft.lines.size() <= maximumLines);
        require(std::all_of(db.draft.lines.begin(), db.draft.lines.end(), validLine));
    }

    const auto sessionExists = [&db](const Uuid& id) {
        return std::any_of(db.sessions.begin(), db.sessions.end(),
                           [&id](const Session& s) { return s.id == id; });
    };
    // A payment is sound with its order: the order exists, is not cancelled and costs what was
    // charged.
    const auto paymentMatches = [](const Payment& payment, const Order& order) {
        return order.total() == payment.cents && order.preparation != Preparation::cancelled;
    };

    if (change.orders) {
        for (const RecordPut<Order>& put : change.orders->put) {
            const Order& order = put.record;
            require(!order.draft.lines.empty() && order.draft.lines.size() <= maximumLines);
            require(std::all_of(order.draft.lines.begin(), order.draft.lines.end(), validLine));
            require(order.total() <= maximumAmount);
            require(sessionExists(order.sessionID));
            std::size_t sameID = 0;
            std::size_t sameNumber = 0;
            for (const Order& other : db.orders) {
                sameID += other.id == order.id;
                sameNumber += other.number == order.number;
            }
            require(sameID == 1 && sameNumber == 1);
            for (const Payment& payment : db.payments)
                if (payment.orderID == order.id) require(paymentMatches(payment, order));
        }
    }
    if (change.payments) {
        for (const RecordPut<Payment>& put : change.payments->put) {
            const Payment& payment = put.record;
            const auto order = std::find_if(db.orders.begin(), db.orders.end(),
                                            [&payment](const Order& o) { return o.id == payment.orderID; });
            require(order != db.orders.end() && paymentMatches(payment, *order));
            require(sessionExists(payment.sessionID));
            require(payment.received >= payment.cents && payment.received <= maximumAmount);
            require(std::count_if(db.payments.begin(), db.payments.end(), [&payment](const Payment& p) {
                        return p.orderID == payment.orderID;
                    }) == 1);
        }
    }
}

} // namespace pizzacore
