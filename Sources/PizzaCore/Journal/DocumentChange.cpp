#include "DocumentChange.hpp"

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Json/Decode.hpp>
#include <PizzaCore/Json/Encode.hpp>
#include <PizzaCore/Json/Json.hpp>

#include <simdjson.h>

namespace pizzacore {

namespace {

constexpr std::string_view unwritableTextMessage =
    "Un texto de los datos no es UTF-8 válido y no se puede guardar sin cambiarlo. No se ha guardado "
    "nada.";

template <class T>
void setIfChanged(std::optional<T>& slot, const T& before, const T& after) {
    if (!(before == after)) slot = after;
}

template <class T>
bool positionsValid(const std::optional<CollectionChange<T>>& change) {
    if (!change) return true;
    for (const auto& removal : change->removed)
        if (removal.at < 0) return false;
    for (const auto& put : change->put)
        if (put.at < 0) return false;
    return true;
}

} // namespace

DocumentChange diff(const Database& before, const Database& after) {
    DocumentChange change;
    if (!(before.fiscal == after.fiscal)) change.fiscal = FiscalChange{after.fiscal};
    change.categories = detail::diffList<Category>(before.categories, after.categories);
    setIfChanged(change.schemaVersion, before.schemaVersion, after.schemaVersion);
    change.customers = detail::diffList<Customer>(before.customers, after.customers);
    change.products = detail::diffList<Product>(before.products, after.products);
    change.orders = detail::diffList<Order>(before.orders, after.orders);
    change.payments = detail::diffList<Payment>(before.payments, after.payments);
    change.sessions = detail::diffList<Session>(before.sessions, after.sessions);
    setIfChanged(change.settings, before.settings, after.settings);
    setIfChanged(change.draft, before.draft, after.draft);
    setIfChanged(change.nextNumber, before.nextNumber, after.nextNumber);
    change.audit = detail::diffList<Audit>(before.audit, after.audit);
    return change;
}

void apply(Database& db, const DocumentChange& change) {
    if (change.fiscal) db.fiscal = change.fiscal->value;
    if (change.categories) detail::applyList(db.categories, *change.categories);
    if (change.schemaVersion) db.schemaVersion = *change.schemaVersion;
    if (change.customers) detail::applyList(db.customers, *change.customers);
    if (change.products) detail::applyList(db.products, *change.products);
    if (change.orders) detail::applyList(db.orders, *change.orders);
    if (change.payments) detail::applyList(db.payments, *change.payments);
    if (change.sessions) detail::applyList(db.sessions, *change.sessions);
    if (change.settings) db.settings = *change.settings;
    if (change.draft) db.draft = *change.draft;
    if (change.nextNumber) db.nextNumber = *change.nextNumber;
    if (change.audit) detail::applyList(db.audit, *change.audit);
}

std::string encodeChange(const DocumentChange& change) {
    std::string out;
    out.reserve(json::sizeHint(change) + simdjson::SIMDJSON_PADDING);
    json::Writer writer(out);
    json::encode(writer, change);
    // Repaired text would replay as another value than the one published.
    if (writer.altered()) throw PCError::invalid(std::string(unwritableTextMessage));
    return out;
}

DocumentChange decodeChange(std::string_view text) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (auto error = parser.parse(text.data(), text.size()).get(root)) json::failParse(error);
    DocumentChange change = json::decode(root, json::Tag<DocumentChange>{});
    if (!positionsValid(change.categories) || !positionsValid(change.customers) ||
        !positionsValid(change.products) || !positionsValid(change.orders) ||
        !positionsValid(change.payments) || !positionsValid(change.sessions) || !positionsValid(change.audit))
        throw JSONError("una posición es negativa");
    return change;
}

} // namespace pizzacore
