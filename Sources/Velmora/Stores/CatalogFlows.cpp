// The controller's flows for the customers, products and sessions screens: the editors' check on a
// copy, the removal of a card or a product with its audit entry, and the manual close of a shift.

#include <Velmora/Stores/AppStore.hpp>

namespace velmora {

Outcome AppStore::check(const Change& change) {
    return engine_.check(change);
}

bool AppStore::deleteCustomer(const pizzacore::Customer& customer) {
    const pizzacore::Uuid id = customer.id;
    const pizzacore::Instant now = clock_.now();
    const Outcome outcome = transact([id, now](pizzacore::Database& db) { db.deleteCustomer(id, now); });
    if (!outcome) setMessage(outcome.failure);
    return outcome.ok;
}

bool AppStore::deleteProduct(const pizzacore::Product& product) {
    const pizzacore::Uuid id = product.id;
    const pizzacore::Instant now = clock_.now();
    const Outcome outcome = transact([id, now](pizzacore::Database& db) { db.deleteProduct(id, now); });
    if (!outcome) setMessage(outcome.failure);
    return outcome.ok;
}

bool AppStore::closeShift(const pizzacore::Uuid& session) {
    const pizzacore::Instant now = clock_.now();
    const Outcome outcome =
        transact([session, now](pizzacore::Database& db) { db.closeManually(session, now); });
    if (!outcome) setMessage(outcome.failure);
    return outcome.ok;
}

} // namespace velmora
