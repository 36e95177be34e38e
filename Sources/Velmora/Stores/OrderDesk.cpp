// The controller's order-desk actions: the checkout screen's telephone look-up and card saving,
// adding products to the draft, confirming it, and loading an earlier order again. Each combines
// a change of the in-memory draft with one core operation and the message the operator reads.

#include <Velmora/Platform/QtText.hpp>
#include <Velmora/Stores/AppStore.hpp>

#include <PizzaCore/Models/PhoneKey.hpp>

#include <QStringList>

namespace velmora {

namespace {} // namespace

bool AppStore::findCustomer() {
    const std::string key = pizzacore::phoneKey(draft().phone);
    for (const pizzacore::Customer& customer : db().customers) {
        if (pizzacore::phoneKey(customer.phone) == key) {
            selectCustomer(customer);
            return true;
        }
    }
    pizzacore::Draft draft = this->draft();
    draft.customerID.reset();
    draft.name.clear();
    draft.address.clear();
    draft.customerNotes.clear();
    setDraft(draft);
    return false;
}

void AppStore::selectCustomer(const pizzacore::Customer& customer) {
    pizzacore::Draft draft = this->draft();
    draft.customerID = customer.id;
    draft.name = customer.name;
    draft.phone = customer.phone;
    draft.address = customer.address;
    draft.customerNotes = customer.notes;
    setDraft(draft);
    setSelectedTab(QStringLiteral("Caja"));
}

void AppStore::saveDraftCustomer() {
    pizzacore::Customer card;
    card.id = draft().customerID.value_or(pizzacore::Uuid::random());
    card.name = draft().name;
    card.phone = draft().phone;
    card.address = draft().address;
    card.notes = draft().customerNotes;
    const pizzacore::Instant now = clock_.now();
    if (const Outcome outcome =
            transact([&card, now](pizzacore::Database& db) { db.saveCustomer(card, now); });
        !outcome) {
        setMessage(outcome.failure);
        return;
    }
    pizzacore::Draft draft = this->draft();
    draft.customerID = card.id;
    setDraft(draft);
    saveDraft();
    setMessage(QStringLiteral("Ficha guardada. Las indicaciones habituales quedan en el cliente."),
               AlertKind::information);
}

void AppStore::add(const pizzacore::Product& product) {
    pizzacore::Draft draft = this->draft();
    for (pizzacore::Line& line : draft.lines) {
        if (line.productID != product.id || !line.notes.empty() || line.cents != product.cents) continue;
        // Only the first matching line counts: once it is full, a new line starts.
        if (line.quantity <= 998) {
            ++line.quantity;
            setDraft(draft);
            return;
        }
        break;
    }
    draft.lines.push_back(pizzacore::Line::make(product));
    setDraft(draft);
}

std::optional<bool> AppStore::prepareConfirmation(const pizzacore::Draft& taken) {
    for (const pizzacore::Line& line : taken.lines) {
        if (const std::optional<std::string> problem = db().lineProblem(line)) {
            setMessage(QStringLiteral("No se puede confirmar: «") + qtext(line.name) + QStringLiteral("» ") +
                       qtext(*problem) +
                       QStringLiteral(". Quítalo del pedido y, si sigue en la carta, vuelve a añadirlo."));
            return std::nullopt;
        }
    }
    if (!db().settings.savesCardOnConfirm() || !db().changesCardAddress(taken)) return false;
    // A delivery somewhere else once (a workplace, a friend's) must not overwrite the card unasked.
    QString stored;
    for (const pizzacore::Customer& card : db().customers)
        if (card.id == *taken.customerID) stored = qtext(card.address);
    const std::optional<int> choice =
        platform_.confirm(Confirmation{QStringLiteral("¿Guardar la nueva dirección en la ficha del cliente?"),
                                       QStringLiteral("En la ficha: ") + stored +
                                           QStringLiteral("\nEn este pedido: ") + qtext(taken.address),
                                       {QStringLiteral("Actualizar ficha"),
                                        QStringLiteral("Solo este pedido"), QStringLiteral("Cancelar")},
                                       AlertKind::information},
                          nullptr);
    if (choice == 0) return true;
    if (choice == 1) return false;
    return std::nullopt;
}

bool AppStore::confirm() {
    const pizzacore::Draft taken = draft();
    const std::optional<bool> updateAddress = prepareConfirmation(taken);
    if (!updateAddress) return false;
    const pizzacore::Instant now = clock_.now();
    pizzacore::Order order;
    const Outcome outcome = transact([&, update = *updateAddress](pizzacore::Database& db) {
        order = db.confirmKeepingCard(taken, update, now);
    });
    if (!outcome) {
        setMessage(outcome.failure);
        return false;
    }
    // The transaction published the fresh draft the confirmation left in the document.
    showOrder(order.id);
    emit orderConfirmed(order.id);
    return true;
}

void AppStore::repeatOrder(const pizzacore::Order& order) {
    auto [draft, unavailable] = db().repeating(order);
    setDraft(draft);
    saveDraft();
    setSelectedTab(QStringLiteral("Caja"));
    QString text =
        QStringLiteral("Pedido cargado con precios actuales. Revisa dirección y notas antes de confirmar.");
    if (!unavailable.empty()) {
        QStringList names;
        for (const std::string& name : unavailable)
            names << qtext(name);
        text += QStringLiteral("\nNo disponibles: ") + names.join(QStringLiteral(", "));
    }
    // Products left out are a warning; otherwise the order simply loaded.
    setMessage(text, unavailable.empty() ? AlertKind::information : AlertKind::warning);
}

} // namespace velmora
