// Orders from confirmation to payment: confirming a draft, paying, moving through preparation,
// cancelling, and taking an earlier order again as a new draft.
//
// Every mutating operation first decides, without touching the document, whether it will
// succeed, and only then reconciles the cash sessions, changes the document and appends its audit
// entry. A refusal therefore leaves the document exactly as it was, including the sessions a
// reconciliation would have closed or opened.

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Foundation/Text.hpp>
#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Models/PhoneKey.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

namespace pizzacore {
namespace {

constexpr std::string_view noLines = "Añade al menos un producto.";
constexpr std::string_view deliveryIncomplete =
    "Para domicilio indica nombre, teléfono y dirección de entrega.";
constexpr std::string_view catalogueChanged = "El catálogo ha cambiado. Quita y vuelve a añadir el producto "
                                              "afectado para confirmar su precio actual.";
constexpr std::string_view totalTooLarge = "El pedido supera el importe máximo permitido.";
constexpr std::string_view numberingExhausted =
    "Datos inconsistentes. Conserva el archivo y recupera una copia de seguridad válida.";
constexpr std::string_view notPayable = "Pedido no disponible para cobro.";
constexpr std::string_view cashShort = "El efectivo entregado debe cubrir el total.";
constexpr std::string_view stateRefused = "No se puede cambiar este estado.";
constexpr std::string_view cancelRefused = "Solo se pueden anular pedidos sin cobrar, indicando un motivo.";
constexpr std::string_view dayClosed = "La jornada está cerrada. No se puede alterar su venta; conserva el "
                                       "pedido y registra la incidencia fuera de esta versión.";

constexpr std::int64_t maximumQuantity = 999;

[[noreturn]] void refuse(std::string_view message) {
    throw PCError::invalid(std::string(message));
}

bool isOpen(const Session& session) {
    return !session.closed.has_value();
}

// Matches one identifier, compared as two 64-bit words: the lookups below scan a year of orders
// and payments, and a call to memcmp per element would dominate them.
class SameID {
public:
    explicit SameID(const Uuid& id) { std::memcpy(words_.data(), id.bytes.data(), sizeof words_); }

    bool operator()(const Uuid& other) const {
        std::array<std::uint64_t, 2> words{};
        std::memcpy(words.data(), other.bytes.data(), sizeof words);
        return words[0] == words_[0] && words[1] == words_[1];
    }

private:
    std::array<std::uint64_t, 2> words_;
};

// The position of the first order with that id, or orders.size().
std::size_t orderIndex(const RecordList<Order>& orders, const Uuid& id) {
    const SameID same(id);
    const auto found =
        std::find_if(orders.begin(), orders.end(), [&](const Order& order) { return same(order.id); });
    return static_cast<std::size_t>(found - orders.begin());
}

bool isPaid(const RecordList<Payment>& payments, const Uuid& orderID) {
    // The latest orders are the ones paid most often, and their payments sit at the end.
    const SameID same(orderID);
    return std::any_of(payments.rbegin(), payments.rend(),
                       [&](const Payment& payment) { return same(payment.orderID); });
}

// The session that new orders and payments join once the sessions are reconciled: the last one
// in the list, which reconciliation keeps open. Should a document hold a closed session after
// the open one, the open one is still the one taken, so that no closed session gains sales.
const Session& currentSession(const RecordList<Session>& sessions) {
    const auto open = std::find_if(sessions.rbegin(), sessions.rend(), isOpen);
    return open != sessions.rend() ? *open : sessions.back();
}

// Whether the session is still open after reconcile(now): reconciliation closes only the first
// open session of the list, and only once `now` has reached its scheduled end.
bool openAfterReconciling(const RecordList<Session>& sessions, const Session& session, Instant now) {
    if (!isOpen(session)) return false;
    const auto first = std::find_if(sessions.begin(), sessions.end(), isOpen);
    return &*first != &session || now < session.scheduledEnd;
}

// Whether the line still describes an active product of the catalogue exactly as it stands:
// same name, price, category (id, name and destination) and tax rate, compared byte for byte.
bool matchesCatalogue(const Line& line, const RecordList<Product>& products) {
    return std::any_of(products.begin(), products.end(), [&](const Product& product) {
        return product.id == line.productID && product.active && product.name == line.name &&
               product.cents == line.cents && product.category == line.category &&
               product.taxRate == line.taxRate;
    });
}

} // namespace

Order Database::confirm(const Draft& draft, Instant now) {
    // A confirmation repeated after a failed save finds its order already there.
    const std::size_t existing = orderIndex(orders, draft.id);
    if (existing < orders.size()) return std::as_const(orders)[existing];

    if (draft.lines.empty()) refuse(noLines);
    if (draft.mode == Mode::delivery &&
        (trimmed(draft.address).empty() || draft.name.empty() || !isValidPhone(draft.phone)))
        refuse(deliveryIncomplete);
    for (const Line& line : draft.lines)
        if (line.quantity < 1 || line.quantity > maximumQuantity || !matchesCatalogue(line, products))
            refuse(catalogueChanged);
    // A total beyond the 64-bit range is above the ceiling as well.
    Cents total = 0;
    try {
        total = draft.total();
    } catch (const PCError&) {
        refuse(totalTooLarge);
    }
    if (total > Money::ceiling) refuse(totalTooLarge);
    // Numbers are never reused, so a counter at the end of its range cannot number another order.
    if (nextNumber == std::numeric_limits<std::int64_t>::max()) refuse(numberingExhausted);

    reconcile(now);
    // Built in full before anything else changes: `draft` may be this document's own draft.
    Order order{
        .id = draft.id,
        .number = nextNumber,
        .created = now,
        .sessionID = currentSession(sessions).id,
        .draft = draft,
        .preparation = Preparation::preparing,
        .cancellationReason = std::nullopt,
        .printAttempts = 0,
    };
    ++nextNumber;
    orders.push_back(order);
    this->draft = Draft{};
    record("Confirmar pedido", std::to_string(order.number), now);
    return order;
}

std::optional<std::string> Database::lineProblem(const Line& line) const {
    if (line.quantity < 1 || line.quantity > maximumQuantity) return "tiene una cantidad fuera de 1–999";
    if (matchesCatalogue(line, products)) return std::nullopt;
    const auto product = std::find_if(products.begin(), products.end(), [&](const Product& candidate) {
        return candidate.id == line.productID && candidate.active;
    });
    if (product == products.end()) return "ya no está en la carta";
    // The price first: it is what the customer was told.
    if (product->cents != line.cents) return "ha cambiado de precio";
    if (product->name != line.name) return "ha cambiado de nombre";
    if (product->category != line.category) return "ha cambiado de categoría";
    return "ha cambiado de IVA";
}

Order Database::confirmKeepingCard(const Draft& draft, bool updateAddress, Instant now) {
    if (orderIndex(orders, draft.id) < orders.size()) return confirm(draft, now);
    const std::optional<Customer> card = cardKeptOnConfirm(draft, updateAddress);
    if (!card) return confirm(draft, now);
    Draft linked = draft;
    linked.customerID = card->id;
    Order order = confirm(linked, now);
    // The card was checked against the same cards saveCustomer() checks, so this cannot refuse.
    saveCustomer(*card, now);
    return order;
}

void Database::pay(Uuid orderID, PaymentMethod method, std::optional<Cents> received, Instant now) {
    const std::size_t index = orderIndex(orders, orderID);
    // Read only: the order itself does not change.
    const Order* order = index < orders.size() ? &std::as_const(orders)[index] : nullptr;
    if (!order || order->preparation == Preparation::cancelled) refuse(notPayable);
    // Paying twice is harmless: the first payment stands.
    if (isPaid(payments, orderID)) return;

    const Cents total = order->total();
    // An empty cash field means the exact amount; a card is charged the total whatever was typed.
    const Cents handed = method == PaymentMethod::card ? total : received.value_or(total);
    if (handed > Money::ceiling || handed < total) refuse(cashShort);

    // Taken before reconciling, which writes the document.
    const std::int64_t number = order->number;
    reconcile(now);
    payments.push_back(Payment{
        .id = Uuid::random(),
        .orderID = orderID,
        .sessionID = currentSession(sessions).id,
        .date = now,
        .method = method,
        .cents = total,
        .received = handed,
    });
    record("Cobro " + std::string(rawValue(method)), std::to_string(number), now);
}

void Database::prepare(Uuid orderID, Preparation state, Instant now) {
    // Cancelling has its own operation, with its own conditions.
    if (state == Preparation::cancelled) refuse(stateRefused);
    const std::size_t index = orderIndex(orders, orderID);
    if (index == orders.size() || std::as_const(orders)[index].preparation == Preparation::cancelled)
        refuse(stateRefused);

    Order& order = orders.modify(index);
    order.preparation = state;
    record("Estado " + std::string(rawValue(state)), std::to_string(order.number), now);
}

void Database::cancel(Uuid orderID, std::string reason, Instant now) {
    const std::size_t index = orderIndex(orders, orderID);
    if (index == orders.size() || isPaid(payments, orderID) || isBlank(reason)) refuse(cancelRefused);
    // The order's session must still be open after the reconciliation below: a closed day's sales
    // are never altered.
    const Uuid sessionID = std::as_const(orders)[index].sessionID;
    const auto session = std::find_if(sessions.begin(), sessions.end(),
                                      [&](const Session& candidate) { return candidate.id == sessionID; });
    if (session == sessions.end() || !openAfterReconciling(sessions, *session, now)) refuse(dayClosed);

    reconcile(now);
    Order& order = orders.modify(index);
    order.preparation = Preparation::cancelled;
    order.cancellationReason = reason;
    record("Anulación: " + reason, std::to_string(order.number), now);
}

std::pair<Draft, std::vector<std::string>> Database::repeating(const Order& order) const {
    Draft result = order.draft;
    result.id = Uuid::random();
    result.lines.clear();

    // The card's current data, when the order was taken for a card that still exists.
    if (result.customerID) {
        const auto card = std::find_if(customers.begin(), customers.end(), [&](const Customer& customer) {
            return customer.id == *result.customerID;
        });
        if (card != customers.end()) {
            result.name = card->name;
            result.phone = card->phone;
            result.address = card->address;
            result.customerNotes = card->notes;
        }
    }

    // Each line again at today's catalogue, or its name among those that cannot be taken again.
    std::vector<std::string> unavailable;
    for (const Line& old : order.draft.lines) {
        const auto product = std::find_if(products.begin(), products.end(), [&](const Product& candidate) {
            return candidate.id == old.productID && candidate.active;
        });
        if (product == products.end()) {
            unavailable.push_back(old.name);
            continue;
        }
        Line line = Line::make(*product);
        line.quantity = old.quantity;
        line.notes = old.notes;
        result.lines.push_back(std::move(line));
    }
    return {std::move(result), std::move(unavailable)};
}

bool Database::countPrintAttempt(Uuid orderID, Instant now) {
    const std::size_t index = orderIndex(orders, orderID);
    if (index == orders.size()) return false;
    Order& order = orders[index];
    // A count at the top of the range stays there: wrapping round would make it negative and drop
    // the copy mark from a ticket that has been printed before.
    if (order.printAttempts < std::numeric_limits<std::int64_t>::max()) ++order.printAttempts;
    record("Intento de impresión", std::to_string(order.number), now);
    return true;
}

void Database::recordDrawerOpening(Uuid orderID, Instant now) {
    const std::size_t index = orderIndex(orders, orderID);
    record("Apertura de cajón", index == orders.size() ? std::string() : std::to_string(orders[index].number),
           now);
}

} // namespace pizzacore
