#include "RandomOperations.hpp"

#include "FiscalTestSupport.hpp"

#include <algorithm>
#include <array>
#include <functional>
#include <utility>
#include <vector>

namespace pizzacore::testing {

RandomOperations::RandomOperations(std::uint64_t seed, Instant start)
    : random_(seed)
    , now_(start) {}

std::size_t RandomOperations::below(std::size_t n) {
    return n == 0 ? 0 : static_cast<std::size_t>(random_() % n);
}

bool RandomOperations::chance(double p) {
    return std::uniform_real_distribution<double>(0, 1)(random_) < p;
}

std::string RandomOperations::phone() {
    return "6" + std::to_string(10'000'000 + below(89'999'999));
}

Draft RandomOperations::draft(const Database& db) {
    Draft draft;
    std::vector<const Product*> active;
    for (const Product& product : db.products)
        if (product.active) active.push_back(&product);
    const std::size_t lines = 1 + below(3);
    for (std::size_t k = 0; k < lines && !active.empty(); ++k) {
        Line line = Line::make(*active[below(active.size())]);
        line.quantity = 1 + static_cast<std::int64_t>(below(4));
        if (chance(0.3)) line.notes = "Sin cebolla " + std::to_string(++counter_);
        draft.lines.push_back(std::move(line));
    }
    if (chance(0.3) && !db.customers.empty()) {
        const Customer& customer = db.customers[below(db.customers.size())];
        draft.customerID = customer.id;
        draft.name = customer.name;
        draft.phone = customer.phone;
        draft.address = customer.address;
        draft.mode = chance(0.5) ? Mode::delivery : Mode::pickup;
    } else {
        draft.mode = chance(0.5) ? Mode::local : Mode::pickup;
    }
    return draft;
}

std::string RandomOperations::operate(Database& db) {
    // Time goes on by minutes, and now and then past a closing time.
    now_ = Instant{now_.seconds + 60.0 * static_cast<double>(1 + below(chance(0.05) ? 3000 : 30))};
    const Instant now = now_;
    const auto anyOrder = [&]() -> std::optional<Uuid> {
        if (db.orders.empty()) return std::nullopt;
        // Mostly recent orders, as at the till.
        const std::size_t back =
            below(std::min<std::size_t>(db.orders.size(), chance(0.8) ? 5 : db.orders.size()));
        return db.orders[db.orders.size() - 1 - back].id;
    };
    using Step = std::pair<const char*, std::function<void()>>;
    const std::vector<Step> steps = {
        {"confirmar", [&] { db.confirm(draft(db), now); }},
        {"confirmar", [&] { db.confirm(draft(db), now); }},
        {"cobrar",
         [&] {
             if (auto id = anyOrder())
                 db.pay(*id, chance(0.5) ? PaymentMethod::cash : PaymentMethod::card,
                        chance(0.3) ? std::optional<Cents>(99'999) : std::nullopt, now);
         }},
        {"preparar",
         [&] {
             if (auto id = anyOrder())
                 db.prepare(
                     *id,
                     std::array{Preparation::preparing, Preparation::ready, Preparation::delivered}[below(3)],
                     now);
         }},
        {"anular",
         [&] {
             if (auto id = anyOrder()) db.cancel(*id, "No vino a recogerlo", now);
         }},
        {"guardar cliente",
         [&] {
             Customer customer;
             if (!db.customers.empty() && chance(0.5)) customer = db.customers[below(db.customers.size())];
             customer.name = "Cliente " + std::to_string(++counter_);
             if (chance(0.5)) customer.phone = phone();
             db.saveCustomer(customer, now);
         }},
        {"guardar producto",
         [&] {
             Product product;
             if (!db.products.empty() && chance(0.6))
                 product = db.products[below(db.products.size())];
             else
                 product.name = "Producto " + std::to_string(++counter_);
             product.category = db.categories[below(db.categories.size())];
             product.cents = static_cast<Cents>(below(3000));
             product.active = chance(0.85);
             db.saveProduct(product, now);
         }},
        {"guardar categoría",
         [&] {
             Category category = Category::make("Categoría " + std::to_string(++counter_), chance(0.5));
             if (chance(0.4)) {
                 category = db.categories[below(db.categories.size())];
                 category.rawValue += " " + std::to_string(counter_);
             }
             db.saveCategory(category, now);
         }},
        {"eliminar categoría", [&] { db.deleteCategory(db.categories[below(db.categories.size())], now); }},
        {"trasladar productos",
         [&] {
             db.moveProducts(db.categories[below(db.categories.size())],
                             db.categories[below(db.categories.size())], now);
         }},
        {"cerrar turno",
         [&] {
             if (!db.sessions.empty()) db.closeManually(db.sessions.back().id, now);
         }},
        {"conciliar", [&] { db.reconcile(now); }},
        {"ajustes",
         [&] {
             db.settings.footer = "Gracias " + std::to_string(++counter_);
             db.record("Guardar ajustes", "", now);
         }},
        {"configuración fiscal", [&] { db.saveFiscalSettings(sampleSettings(), now); }},
        {"propuesta de factura",
         [&] {
             InvoiceProposal proposal = sampleProposal();
             proposal.id = Uuid::random();
             db.saveInvoiceProposal(proposal, now);
         }},
        {"borrador",
         [&] {
             if (chance(0.5))
                 db.draft = draft(db);
             else
                 db.draft.notes += "x";
         }},
        {"intento de impresión",
         [&] {
             if (db.orders.empty()) return;
             const std::size_t k = db.orders.size() - 1 - below(std::min<std::size_t>(db.orders.size(), 5));
             db.orders[k].printAttempts += 1;
             db.record("Imprimir pedido", db.orders[k].id.text(), now);
         }},
        {"eliminar cliente",
         [&] {
             if (db.customers.empty()) return;
             const std::size_t k = below(db.customers.size());
             const Uuid id = db.customers[k].id;
             db.customers.erase(db.customers.begin() + static_cast<std::ptrdiff_t>(k));
             db.record("Eliminar cliente", id.text(), now);
         }},
        {"eliminar producto",
         [&] {
             if (db.products.empty()) return;
             const std::size_t k = below(db.products.size());
             const Uuid id = db.products[k].id;
             db.products.erase(db.products.begin() + static_cast<std::ptrdiff_t>(k));
             db.record("Eliminar producto", id.text(), now);
         }},
    };
    const Step& step = steps[below(steps.size())];
    Database copy = db;
    try {
        step.second();
    } catch (const PCError&) {
        db = std::move(copy);
        return std::string(step.first) + " (rechazada)";
    }
    return step.first;
}

std::string RandomOperations::edit(Database& db) {
    const auto shuffleSome = [&](auto& list) {
        if (list.size() < 2) return;
        const std::size_t a = below(list.size());
        const std::size_t b = below(list.size());
        std::swap(list[a], list[b]);
    };
    const auto removeSome = [&](auto& list) {
        if (list.empty()) return;
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(below(list.size())));
    };
    const auto duplicateSome = [&](auto& list) {
        if (list.empty()) return;
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(below(list.size() + 1)),
                    list[below(list.size())]);
    };
    const auto frontSome = [&](auto& list) {
        if (list.empty()) return;
        auto element = list[below(list.size())];
        element.id = Uuid::random();
        list.insert(list.begin(), element);
    };
    const auto lastOf = [&](auto& list) -> auto* {
        return list.empty() ? nullptr : &list[list.size() - 1 - below(std::min<std::size_t>(list.size(), 4))];
    };
    switch (below(22)) {
    case 14:
        if (auto* order = lastOf(db.orders)) order->preparation = Preparation::cancelled;
        return "anular a mano";
    case 15:
        if (!db.payments.empty()) {
            Payment payment = db.payments[below(db.payments.size())];
            payment.id = Uuid::random();
            payment.cents += static_cast<Cents>(below(2));
            payment.received = std::max(payment.received, payment.cents);
            db.payments.push_back(payment);
        }
        return "cobro repetido";
    case 16:
        if (!db.orders.empty()) {
            Order order = db.orders[below(db.orders.size())];
            order.id = Uuid::random();
            if (chance(0.5)) order.number = db.nextNumber++;
            db.orders.push_back(order);
        }
        return "pedido copiado";
    case 17:
        if (auto* order = lastOf(db.orders))
            order->sessionID = chance(0.5) ? Uuid::random() : db.sessions[0].id;
        return "turno de un pedido";
    case 18:
        db.draft.lines.push_back(Line{});
        db.draft.lines.back().quantity = chance(0.5) ? 0 : 999;
        return "línea del borrador";
    case 19:
        if (!db.customers.empty()) {
            Customer customer = db.customers[below(db.customers.size())];
            customer.id = Uuid::random();
            if (chance(0.5)) customer.phone = phone();
            db.customers.push_back(customer);
        }
        return "cliente copiado";
    case 20:
        if (auto* product = lastOf(db.products)) product->cents = chance(0.5) ? 100'000'000 : 99'999'999;
        return "precio";
    case 21:
        if (auto* payment = lastOf(db.payments))
            payment->received = payment->cents - static_cast<Cents>(below(2));
        return "entregado";
    case 0:
        shuffleSome(db.orders);
        return "intercambiar pedidos";
    case 1:
        shuffleSome(db.categories);
        return "intercambiar categorías";
    case 2:
        removeSome(db.audit);
        return "quitar auditoría";
    case 3:
        duplicateSome(db.payments);
        return "duplicar cobro";
    case 4:
        duplicateSome(db.audit);
        return "duplicar auditoría";
    case 5:
        frontSome(db.customers);
        return "cliente al principio";
    case 6: {
        std::vector<Session> reversed;
        for (std::size_t k = db.sessions.size(); k-- > 0;)
            reversed.push_back(db.sessions[k]);
        db.sessions = reversed;
        return "invertir turnos";
    }
    case 7:
        db.nextNumber = static_cast<std::int64_t>(below(100));
        return "numeración";
    case 8:
        db.fiscal = chance(0.5) ? std::optional<FiscalState>(db.fiscalState()) : std::nullopt;
        return "archivo fiscal";
    case 9:
        removeSome(db.orders);
        removeSome(db.orders);
        return "quitar pedidos";
    case 10:
        if (!db.orders.empty()) db.orders[below(db.orders.size())].draft.notes = "editado";
        return "editar pedido";
    case 11:
        db.schemaVersion = chance(0.5) ? 2 : 1;
        return "versión";
    case 12:
        frontSome(db.products);
        removeSome(db.products);
        return "productos";
    default:
        db.settings.closingHour = static_cast<std::int64_t>(below(30));
        return "hora de cierre";
    }
}

} // namespace pizzacore::testing
