// Orders: confirmation, payment, preparation, cancellation and repetition, each operation on its
// own and then whole flows across shifts. Every refusal is checked against the whole document,
// and refusals are tried at an instant when a session falls due, so that a reconciliation run
// before the checks would show.

#include <PizzaCore/PizzaCore.hpp>
#include <support/SyntheticDocument.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace pizzacore {
namespace {

constexpr double hour = 3600;

Instant plus(Instant instant, double seconds) {
    return Instant{instant.seconds + seconds};
}

// Madrid, UTC+1 in March 2026.
const Instant monday12h = Instant::fromUnix(1773054000); // 2026-03-09 12:00, the session opens
const Instant monday13h = plus(monday12h, hour);
const Instant monday18h = plus(monday12h, 6 * hour);
const Instant tuesday4h = Instant::fromUnix(1773111600); // the session's scheduled end
const Instant tuesday12h = plus(tuesday4h, 8 * hour);

const std::string noLines = "Añade al menos un producto.";
const std::string deliveryIncomplete = "Para domicilio indica nombre, teléfono y dirección de entrega.";
const std::string catalogueChanged =
    "El catálogo ha cambiado. Quita y vuelve a añadir el producto afectado para confirmar su precio actual.";
const std::string totalTooLarge = "El pedido supera el importe máximo permitido.";
const std::string notPayable = "Pedido no disponible para cobro.";
const std::string cashShort = "El efectivo entregado debe cubrir el total.";
const std::string stateRefused = "No se puede cambiar este estado.";
const std::string cancelRefused = "Solo se pueden anular pedidos sin cobrar, indicando un motivo.";
const std::string dayClosed = "La jornada está cerrada. No se puede alterar su venta; conserva el pedido y "
                              "registra la incidencia fuera de esta versión.";
const std::string beyondLimit = "El importe supera el límite admitido.";

struct Entry {
    std::string action;
    std::string reference;
    Instant date;
    bool operator==(const Entry&) const = default;
};

void PrintTo(const Entry& entry, std::ostream* out) {
    *out << "{" << entry.action << ", " << entry.reference << ", " << entry.date.unixSeconds() << "}";
}

std::vector<Entry> entriesFrom(const Database& db, std::size_t from) {
    std::vector<Entry> result;
    for (std::size_t i = from; i < db.audit.size(); ++i)
        result.push_back({db.audit[i].action, db.audit[i].reference, db.audit[i].date});
    return result;
}

// The operation must be refused with exactly `message` and leave the document as it was.
void expectRefused(const Database& start, const std::function<void(Database&)>& operation,
                   const std::string& message) {
    Database db = start;
    try {
        operation(db);
        ADD_FAILURE() << "accepted; expected the refusal: " << message;
    } catch (const PCError& error) {
        EXPECT_EQ(error.message(), message);
    }
    EXPECT_TRUE(db == start) << "a refusal changed the document";
}

void expectValid(const Database& db) {
    EXPECT_NO_THROW(Repository::validate(db));
}

Product product(std::string name, Category category, Cents cents, std::optional<std::int64_t> taxRate) {
    Product result;
    result.name = std::move(name);
    result.category = std::move(category);
    result.cents = cents;
    result.taxRate = taxRate;
    return result;
}

Line line(Cents cents, std::int64_t quantity) {
    Line result;
    result.cents = cents;
    result.quantity = quantity;
    return result;
}

Draft withLines(std::vector<Line> lines, Mode mode = Mode::pickup) {
    Draft result;
    result.lines = std::move(lines);
    result.mode = mode;
    return result;
}

// A restaurant with a small catalogue, one customer card and the shift opened on Monday at noon.
class OrderDesk : public ::testing::Test {
protected:
    OrderDesk() {
        db.products = {pizza, drink, big, cent};
        db.customers = {card};
        db.reconcile(monday12h);
    }

    Draft draftOf(std::vector<std::pair<Product, std::int64_t>> items, Mode mode = Mode::pickup) const {
        Draft draft;
        draft.mode = mode;
        for (const auto& [product, quantity] : items) {
            Line line = Line::make(product);
            line.quantity = quantity;
            draft.lines.push_back(line);
        }
        return draft;
    }

    // A confirmed order of one pizza and one drink, 12,50 €.
    Order confirmed(Instant at = monday13h) { return db.confirm(draftOf({{pizza, 1}, {drink, 1}}), at); }

    const Session& session(std::size_t index) const { return db.sessions.at(index); }

    Product pizza = product("Margarita", Category::pizza(), 1050, 1000);
    Product drink = product("Refresco", Category::drink(), 200, std::nullopt);
    Product big = product("Banquete", Category::side(), 99'999'998, 2100);
    Product cent = product("Caramelo", Category::side(), 1, 2100);
    Customer card{Uuid::random(), "Lucía Pérez", "612 345 678", "Calle Mayor 1", "Timbre 2"};
    Database db;
};

// Confirmation.

TEST_F(OrderDesk, ConfirmNumbersTheOrderInTheOpenSessionAndStartsAFreshDraft) {
    Draft draft = draftOf({{pizza, 2}, {drink, 1}}, Mode::delivery);
    draft.customerID = card.id;
    draft.name = card.name;
    draft.phone = "+34 612 345 678";
    draft.address = "Calle Mayor 1";
    draft.notes = "Sin cebolla";
    db.draft = draft;
    const std::size_t entries = db.audit.size();

    // The document's own draft, as the till passes it.
    const Order order = db.confirm(db.draft, monday13h);
    EXPECT_EQ(order, (Order{.id = draft.id,
                            .number = 1,
                            .created = monday13h,
                            .sessionID = session(0).id,
                            .draft = draft,
                            .preparation = Preparation::preparing,
                            .cancellationReason = std::nullopt,
                            .printAttempts = 0}));
    EXPECT_EQ(db.orders, std::vector<Order>{order});
    EXPECT_EQ(db.nextNumber, 2);
    EXPECT_NE(db.draft.id, draft.id);
    Draft fresh;
    fresh.id = db.draft.id;
    EXPECT_EQ(db.draft, fresh);
    EXPECT_EQ(entriesFrom(db, entries), (std::vector<Entry>{{"Confirmar pedido", "1", monday13h}}));
    expectValid(db);
}

TEST_F(OrderDesk, ConfirmingTheSameDraftAgainGivesBackTheSameOrderAndChangesNothing) {
    const Draft draft = draftOf({{pizza, 1}});
    const Order first = db.confirm(draft, monday13h);
    const Database once = db;
    // Even once the shift is due to close: no reconciliation, no check.
    Draft changed = draft;
    changed.lines.clear();
    EXPECT_EQ(db.confirm(changed, tuesday12h), first);
    EXPECT_EQ(db, once);
}

TEST_F(OrderDesk, ConfirmingKeepsANewCallersCardWithItsAuditEntry) {
    Draft draft = draftOf({{pizza, 1}}, Mode::delivery);
    draft.name = "Marta Gil";
    draft.phone = "699 111 222";
    draft.address = "Calle Luna 3";
    draft.customerNotes = "Portero automático";
    const std::size_t entries = db.audit.size();

    const Order order = db.confirmKeepingCard(draft, false, monday13h);
    ASSERT_EQ(db.customers.size(), 2u);
    const Customer& kept = db.customers[1];
    EXPECT_EQ(kept.name, "Marta Gil");
    EXPECT_EQ(kept.phone, "699 111 222");
    EXPECT_EQ(kept.address, "Calle Luna 3");
    EXPECT_EQ(kept.notes, "Portero automático");
    // The order is linked to the card made for it; otherwise it is the draft as given.
    EXPECT_EQ(order.draft.customerID, kept.id);
    Draft linked = draft;
    linked.customerID = kept.id;
    EXPECT_EQ(order.draft, linked);
    EXPECT_EQ(entriesFrom(db, entries), (std::vector<Entry>{{"Confirmar pedido", "1", monday13h},
                                                            {"Guardar cliente", kept.id.text(), monday13h}}));
    EXPECT_EQ(db.ordersFor(kept), std::vector<Order>{order});
    expectValid(db);

    // Confirming the same draft again saves nothing more.
    const Database once = db;
    EXPECT_EQ(db.confirmKeepingCard(draft, false, monday13h), order);
    EXPECT_EQ(db, once);
}

TEST_F(OrderDesk, ConfirmingKeepsNoCardItCannotSaveAndStillConfirms) {
    Draft anonymous = draftOf({{pizza, 1}});
    Draft noName = anonymous;
    noName.phone = "699 111 222";
    noName.name = "   ";
    Draft shortPhone = anonymous;
    shortPhone.name = "Marta";
    shortPhone.phone = "12345";
    // Another card already has this telephone, written differently.
    Draft taken = anonymous;
    taken.name = "Otra persona";
    taken.phone = "+34 612345678";
    for (Draft draft : {anonymous, noName, shortPhone, taken}) {
        draft.id = Uuid::random();
        EXPECT_FALSE(db.cardKeptOnConfirm(draft, true).has_value());
        const Order order = db.confirmKeepingCard(draft, true, monday13h);
        EXPECT_EQ(order.draft, draft);
    }
    EXPECT_EQ(db.customers, RecordList<Customer>{card});

    // Switched off in the settings: no card either.
    db.settings.saveCardOnConfirm = false;
    Draft caller = draftOf({{pizza, 1}});
    caller.name = "Marta";
    caller.phone = "699 111 222";
    EXPECT_FALSE(db.cardKeptOnConfirm(caller, true).has_value());
    db.confirmKeepingCard(caller, true, monday13h);
    EXPECT_EQ(db.customers.size(), 1u);
}

TEST_F(OrderDesk, ConfirmingUpdatesAKnownCardsAddressOnlyWhenAgreed) {
    Draft draft = draftOf({{pizza, 1}}, Mode::delivery);
    draft.customerID = card.id;
    draft.name = card.name;
    draft.phone = card.phone;
    draft.address = card.address;
    EXPECT_FALSE(db.changesCardAddress(draft));
    draft.address = "   ";
    EXPECT_FALSE(db.changesCardAddress(draft));
    draft.address = "Avenida del Puerto 12";
    EXPECT_TRUE(db.changesCardAddress(draft));

    Database declined = db;
    declined.confirmKeepingCard(draft, false, monday13h);
    EXPECT_EQ(declined.customers, RecordList<Customer>{card});

    const std::size_t entries = db.audit.size();
    const Order order = db.confirmKeepingCard(draft, true, monday13h);
    Customer moved = card;
    moved.address = "Avenida del Puerto 12";
    EXPECT_EQ(db.customers, RecordList<Customer>{moved});
    EXPECT_EQ(order.draft, draft);
    EXPECT_EQ(entriesFrom(db, entries), (std::vector<Entry>{{"Confirmar pedido", "1", monday13h},
                                                            {"Guardar cliente", card.id.text(), monday13h}}));
}

TEST_F(OrderDesk, ARefusedConfirmationKeepsNoCard) {
    Draft draft = draftOf({{pizza, 1}});
    draft.name = "Marta";
    draft.phone = "699 111 222";
    db.products[0].cents = 1100;
    expectRefused(
        db, [&](Database& d) { d.confirmKeepingCard(draft, true, monday13h); }, catalogueChanged);
}

TEST_F(OrderDesk, LineProblemNamesWhyALineCannotBeConfirmed) {
    const Line fine = Line::make(pizza);
    EXPECT_EQ(db.lineProblem(fine), std::nullopt);
    Line tooMany = fine;
    tooMany.quantity = 1000;
    EXPECT_EQ(db.lineProblem(tooMany), "tiene una cantidad fuera de 1–999");

    Database changed = db;
    changed.products[0].cents = 1100;
    EXPECT_EQ(changed.lineProblem(fine), "ha cambiado de precio");
    changed = db;
    changed.products[0].name = "Margarita grande";
    EXPECT_EQ(changed.lineProblem(fine), "ha cambiado de nombre");
    changed = db;
    changed.products[0].category = Category::side();
    EXPECT_EQ(changed.lineProblem(fine), "ha cambiado de categoría");
    changed = db;
    changed.products[0].taxRate = 2100;
    EXPECT_EQ(changed.lineProblem(fine), "ha cambiado de IVA");
    changed = db;
    changed.products[0].active = false;
    EXPECT_EQ(changed.lineProblem(fine), "ya no está en la carta");
    changed = db;
    changed.products.erase(changed.products.begin());
    EXPECT_EQ(changed.lineProblem(fine), "ya no está en la carta");
    // Exactly the lines confirm() refuses.
    EXPECT_THROW(changed.confirm(draftOf({{pizza, 1}}), monday13h), PCError);
}

TEST_F(OrderDesk, ConfirmAcceptsTheLimits) {
    Draft delivery = draftOf({{pizza, 1}}, Mode::delivery);
    delivery.name = "   "; // the name is not trimmed for this test
    delivery.phone = "+34 612 345 678";
    delivery.address = " Calle Mayor 1\n";
    Draft walkIn = draftOf({{drink, 999}}, Mode::local);
    const struct {
        const char* what;
        Draft draft;
    } cases[] = {
        {"pickup without name or telephone", draftOf({{pizza, 1}})},
        {"delivery with a blank name and an international telephone", delivery},
        {"quantity 999", walkIn},
        {"total exactly at the ceiling", draftOf({{big, 1}, {cent, 1}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Database copy = db;
        EXPECT_NO_THROW(copy.confirm(c.draft, monday13h));
        EXPECT_EQ(copy.orders.size(), 1u);
        expectValid(copy);
    }
}

TEST_F(OrderDesk, ConfirmRefusesInTheOrderOfItsChecksAndLeavesNoTrace) {
    Draft delivery = draftOf({{pizza, 1}}, Mode::delivery);
    delivery.name = "Lucía";
    delivery.phone = "612345678";
    delivery.address = "Calle Mayor 1";
    Product huge = pizza;
    huge.cents = std::int64_t{1} << 62; // only in memory: four of them wrap around to zero

    using Change = std::function<void(Database&, Draft&)>;
    const struct {
        const char* what;
        Draft draft;
        Change change;
        std::string message;
    } cases[] = {
        {"no lines", Draft{}, {}, noLines},
        {"no lines, delivery", withLines({}, Mode::delivery), {}, noLines},
        {"blank address", delivery, [](Database&, Draft& d) { d.address = " \n\t "; }, deliveryIncomplete},
        {"empty name", delivery, [](Database&, Draft& d) { d.name = ""; }, deliveryIncomplete},
        {"five-digit telephone", delivery, [](Database&, Draft& d) { d.phone = "12345"; },
         deliveryIncomplete},
        {"delivery checked before the catalogue", delivery,
         [](Database& db, Draft& d) {
             d.phone = "";
             db.products[0].cents = 1100;
         },
         deliveryIncomplete},
        {"quantity 0", draftOf({{pizza, 0}}), {}, catalogueChanged},
        {"quantity 1000", draftOf({{drink, 1000}}), {}, catalogueChanged},
        {"price changed", draftOf({{drink, 1}, {pizza, 1}}),
         [](Database& db, Draft&) { db.products[0].cents = 1100; }, catalogueChanged},
        {"name changed", draftOf({{pizza, 1}}),
         [](Database& db, Draft&) { db.products[0].name = "margarita"; }, catalogueChanged},
        {"moved to another category", draftOf({{pizza, 1}}),
         [](Database& db, Draft&) { db.products[0].category = Category::side(); }, catalogueChanged},
        {"category renamed", draftOf({{pizza, 1}}),
         [](Database& db, Draft&) { db.products[0].category.rawValue = "Pizzas artesanas"; },
         catalogueChanged},
        {"category sent to the bar", draftOf({{pizza, 1}}),
         [](Database& db, Draft&) { db.products[0].category.bar = true; }, catalogueChanged},
        {"tax rate changed", draftOf({{pizza, 1}}),
         [](Database& db, Draft&) { db.products[0].taxRate = 2100; }, catalogueChanged},
        {"tax rate removed", draftOf({{pizza, 1}}),
         [](Database& db, Draft&) { db.products[0].taxRate = std::nullopt; }, catalogueChanged},
        {"tax rate set", draftOf({{drink, 1}}), [](Database& db, Draft&) { db.products[1].taxRate = 1000; },
         catalogueChanged},
        {"deactivated", draftOf({{pizza, 1}}), [](Database& db, Draft&) { db.products[0].active = false; },
         catalogueChanged},
        {"deleted", draftOf({{pizza, 1}}),
         [](Database& db, Draft&) { db.products.erase(db.products.begin()); }, catalogueChanged},
        {"catalogue checked before the total", draftOf({{big, 2}, {pizza, 1}}),
         [](Database& db, Draft&) { db.products[0].cents = 1100; }, catalogueChanged},
        {"one cent above the ceiling", draftOf({{big, 1}, {cent, 2}}), {}, totalTooLarge},
        {"a total beyond 64 bits", draftOf({{huge, 4}}), [&](Database& db, Draft&) { db.products[0] = huge; },
         totalTooLarge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Database start = db;
        Draft draft = c.draft;
        if (c.change) c.change(start, draft);
        // The shift is due to close: a refusal must not close it.
        expectRefused(
            start, [&](Database& d) { d.confirm(draft, tuesday12h); }, c.message);
    }
}

TEST_F(OrderDesk, ANumberingCounterAtTheEndOfItsRangeIsRefused) {
    db.nextNumber = std::numeric_limits<std::int64_t>::max();
    expectRefused(
        db,
        [&](Database& d) {
            d.confirm(draftOf({{pizza, 1}}), monday13h);
        },
        "Datos inconsistentes. Conserva el archivo y recupera una copia de seguridad válida.");
}

TEST_F(OrderDesk, NumbersContinueIntoTheNextBusinessDay) {
    confirmed(monday18h);
    const std::size_t entries = db.audit.size();
    const Order next = confirmed(tuesday12h);

    EXPECT_EQ(next.number, 2);
    ASSERT_EQ(db.sessions.size(), 2u);
    EXPECT_EQ(next.sessionID, session(1).id);
    EXPECT_EQ(session(0).salesAtClose, 1250);
    EXPECT_EQ(entriesFrom(db, entries),
              (std::vector<Entry>{{"Cierre Automático", session(0).id.text(), tuesday4h},
                                  {"Apertura", session(1).id.text(), tuesday12h},
                                  {"Confirmar pedido", "2", tuesday12h}}));
    expectValid(db);
}

TEST_F(OrderDesk, TheFirstConfirmationOfANewDocumentOpensTheFirstSession) {
    Database fresh;
    fresh.products = db.products;
    const Order order = fresh.confirm(draftOf({{pizza, 1}}), monday13h);
    ASSERT_EQ(fresh.sessions.size(), 1u);
    EXPECT_EQ(order.sessionID, fresh.sessions[0].id);
    EXPECT_EQ(entriesFrom(fresh, 0), (std::vector<Entry>{{"Apertura", fresh.sessions[0].id.text(), monday13h},
                                                         {"Confirmar pedido", "1", monday13h}}));
}

// A document may list a closed session after the open one (the load check allows it): new orders
// and payments still join the open one, and the closed figures stay as they were.
TEST_F(OrderDesk, OrdersAndPaymentsJoinTheOpenSessionEvenWhenItIsNotTheLastListed) {
    Session closed = session(0);
    closed.id = Uuid::random();
    closed.closed = monday12h;
    closed.reason = "Manual";
    closed.salesAtClose = closed.receiptsAtClose = closed.unpaidAtClose = 0;
    db.sessions.push_back(closed);

    const Order order = confirmed();
    db.pay(order.id, PaymentMethod::cash, std::nullopt, monday18h);
    EXPECT_EQ(order.sessionID, session(0).id);
    EXPECT_EQ(db.payments[0].sessionID, session(0).id);
    EXPECT_EQ(session(1), closed);
    expectValid(db);
}

// Payment.

TEST_F(OrderDesk, PaymentRecordsTheTotalAndWhatWasHandedOver) {
    const struct {
        const char* what;
        PaymentMethod method;
        std::optional<Cents> received;
        Cents expectedReceived;
        Cents change;
        const char* action;
    } cases[] = {
        {"cash without an amount", PaymentMethod::cash, std::nullopt, 1250, 0, "Cobro Efectivo"},
        {"cash with change", PaymentMethod::cash, 2000, 2000, 750, "Cobro Efectivo"},
        {"cash at the ceiling", PaymentMethod::cash, 99'999'999, 99'999'999, 99'998'749, "Cobro Efectivo"},
        {"card ignores an amount", PaymentMethod::card, 5000, 1250, 0, "Cobro Tarjeta"},
        {"card ignores even a short amount", PaymentMethod::card, 10, 1250, 0, "Cobro Tarjeta"},
    };
    const Order order = confirmed();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Database copy = db;
        const std::size_t entries = copy.audit.size();
        copy.pay(order.id, c.method, c.received, monday18h);
        ASSERT_EQ(copy.payments.size(), 1u);
        const Payment& payment = copy.payments[0];
        EXPECT_EQ(payment, (Payment{.id = payment.id,
                                    .orderID = order.id,
                                    .sessionID = session(0).id,
                                    .date = monday18h,
                                    .method = c.method,
                                    .cents = 1250,
                                    .received = c.expectedReceived}));
        EXPECT_EQ(payment.change(), c.change);
        EXPECT_EQ(copy.paymentFor(order), payment);
        EXPECT_EQ(entriesFrom(copy, entries), (std::vector<Entry>{{c.action, "1", monday18h}}));
        expectValid(copy);
    }
}

TEST_F(OrderDesk, PaymentRefusalsLeaveNoTrace) {
    const Order order = confirmed();
    const Order cancelled = confirmed();
    db.cancel(cancelled.id, "Duplicado", monday13h);
    const struct {
        const char* what;
        Uuid id;
        PaymentMethod method;
        std::optional<Cents> received;
        std::string message;
    } cases[] = {
        {"unknown order", Uuid::random(), PaymentMethod::cash, std::nullopt, notPayable},
        {"cancelled order", cancelled.id, PaymentMethod::card, std::nullopt, notPayable},
        {"one cent short", order.id, PaymentMethod::cash, 1249, cashShort},
        {"nothing handed over", order.id, PaymentMethod::cash, 0, cashShort},
        {"negative amount", order.id, PaymentMethod::cash, -2000, cashShort},
        {"above the ceiling", order.id, PaymentMethod::cash, 100'000'000, cashShort},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectRefused(
            db, [&](Database& d) { d.pay(c.id, c.method, c.received, tuesday12h); }, c.message);
    }
}

TEST_F(OrderDesk, PayingTwiceKeepsTheFirstPaymentWithoutAnError) {
    const Order order = confirmed();
    db.pay(order.id, PaymentMethod::cash, 2000, monday18h);
    const Database paid = db;
    // Neither the method, nor an amount that would be refused, nor a due shift changes anything.
    EXPECT_NO_THROW(db.pay(order.id, PaymentMethod::card, std::nullopt, tuesday12h));
    EXPECT_NO_THROW(db.pay(order.id, PaymentMethod::cash, 1, tuesday12h));
    EXPECT_EQ(db, paid);
}

// Preparation.

TEST_F(OrderDesk, PreparationMovesFreelyAndIsAuditedEveryTime) {
    const Order order = confirmed();
    db.pay(order.id, PaymentMethod::card, std::nullopt, monday13h); // paid or not makes no difference
    const std::size_t entries = db.audit.size();
    const struct {
        Preparation state;
        const char* action;
    } steps[] = {{Preparation::ready, "Estado Listo"},
                 {Preparation::delivered, "Estado Entregado"},
                 {Preparation::preparing, "Estado En preparación"},
                 {Preparation::preparing, "Estado En preparación"}};
    std::vector<Entry> expected;
    Instant at = monday18h;
    for (const auto& step : steps) {
        db.prepare(order.id, step.state, at);
        EXPECT_EQ(db.orders[0].preparation, step.state);
        expected.push_back({step.action, "1", at});
        at = plus(at, 60);
    }
    EXPECT_EQ(entriesFrom(db, entries), expected);
    // No reconciliation: the shift stays open past its end.
    db.prepare(order.id, Preparation::ready, tuesday12h);
    EXPECT_EQ(db.sessions.size(), 1u);
    EXPECT_FALSE(session(0).closed);
    expectValid(db);
}

TEST_F(OrderDesk, PreparationRefusals) {
    const Order order = confirmed();
    const Order cancelled = confirmed();
    db.cancel(cancelled.id, "Duplicado", monday13h);
    const struct {
        const char* what;
        Uuid id;
        Preparation state;
    } cases[] = {
        {"to cancelled", order.id, Preparation::cancelled},
        {"a cancelled order", cancelled.id, Preparation::preparing},
        {"an unknown order", Uuid::random(), Preparation::ready},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectRefused(
            db, [&](Database& d) { d.prepare(c.id, c.state, monday18h); }, stateRefused);
    }
}

// Cancellation.

TEST_F(OrderDesk, CancellationKeepsTheReasonAsTypedAndCanBeRepeated) {
    const Order order = confirmed();
    db.prepare(order.id, Preparation::delivered, monday13h);
    const std::size_t entries = db.audit.size();
    db.cancel(order.id, "  Cliente no contesta ", monday18h);
    EXPECT_EQ(db.orders[0].preparation, Preparation::cancelled);
    EXPECT_EQ(db.orders[0].cancellationReason, "  Cliente no contesta ");
    db.cancel(order.id, "Pedido duplicado", plus(monday18h, 60));
    EXPECT_EQ(db.orders[0].cancellationReason, "Pedido duplicado");
    EXPECT_EQ(entriesFrom(db, entries),
              (std::vector<Entry>{{"Anulación:   Cliente no contesta ", "1", monday18h},
                                  {"Anulación: Pedido duplicado", "1", plus(monday18h, 60)}}));
    EXPECT_EQ(db.sales(session(0)), 0);
    EXPECT_EQ(db.unpaid(), 0);
    expectValid(db);
}

TEST_F(OrderDesk, CancellationRefusalsLeaveNoTrace) {
    const Order open = confirmed();
    const Order paid = confirmed();
    db.pay(paid.id, PaymentMethod::cash, std::nullopt, monday13h);
    // Orders of a shift closed by hand earlier the same day.
    const Database beforeClose = db;
    db.closeManually(session(0).id, monday18h);
    const Order later = confirmed(plus(monday18h, 60));
    const Database afterClose = db;
    Database lost = beforeClose;
    lost.orders[0].sessionID = Uuid::random();

    const struct {
        const char* what;
        const Database& start;
        Uuid id;
        std::string reason;
        Instant at;
        std::string message;
    } cases[] = {
        {"unknown order", beforeClose, Uuid::random(), "Motivo", monday18h, cancelRefused},
        {"paid order", beforeClose, paid.id, "Motivo", monday18h, cancelRefused},
        {"empty reason", beforeClose, open.id, "", monday18h, cancelRefused},
        {"blank reason", beforeClose, open.id, " \t\n\u00A0\u3000", monday18h, cancelRefused},
        {"paid order of a closed shift", afterClose, paid.id, "Motivo", monday18h, cancelRefused},
        {"blank reason in a closed shift", afterClose, open.id, " ", monday18h, cancelRefused},
        {"shift closed by hand the same day", afterClose, open.id, "Motivo", plus(monday18h, 120), dayClosed},
        {"shift due to close at that instant", beforeClose, open.id, "Motivo", tuesday4h, dayClosed},
        {"shift long past its end", afterClose, later.id, "Motivo", tuesday12h, dayClosed},
        {"session unknown", lost, open.id, "Motivo", monday18h, dayClosed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectRefused(
            c.start, [&](Database& d) { d.cancel(c.id, c.reason, c.at); }, c.message);
    }
}

// Repetition.

TEST_F(OrderDesk, RepeatingTakesTheCardsCurrentDataAndTodaysCatalogue) {
    Draft draft = draftOf({{pizza, 2}, {drink, 3}, {cent, 1}}, Mode::delivery);
    draft.customerID = card.id;
    draft.name = card.name;
    draft.phone = card.phone;
    draft.address = card.address;
    draft.customerNotes = card.notes;
    draft.notes = "Sin cebolla";
    draft.lines[0].notes = "Bien hecha";
    const Order order = db.confirm(draft, monday13h);

    // The customer moved, the pizza got dearer, the drink was withdrawn and the sweet deleted.
    db.customers[0].address = "Calle Nueva 7";
    db.customers[0].notes = "Portero automático";
    db.products[0].cents = 1150;
    db.products[1].active = false;
    db.products.erase(db.products.begin() + 3);
    const Database before = db;

    const auto [repeated, unavailable] = db.repeating(order);
    EXPECT_EQ(db, before);
    EXPECT_EQ(unavailable, (std::vector<std::string>{"Refresco", "Caramelo"}));
    EXPECT_NE(repeated.id, draft.id);
    EXPECT_EQ(repeated.customerID, card.id);
    EXPECT_EQ(repeated.address, "Calle Nueva 7");
    EXPECT_EQ(repeated.customerNotes, "Portero automático");
    EXPECT_EQ(repeated.notes, "Sin cebolla");
    EXPECT_EQ(repeated.mode, Mode::delivery);
    ASSERT_EQ(repeated.lines.size(), 1u);
    const Line& line = repeated.lines[0];
    EXPECT_NE(line.id, draft.lines[0].id);
    EXPECT_EQ(line.cents, 1150);
    EXPECT_EQ(line.quantity, 2);
    EXPECT_EQ(line.notes, "Bien hecha");

    // The repeated draft is confirmable as it stands.
    db.confirm(repeated, monday18h);
    EXPECT_EQ(db.orders.back().total(), 2300);
    expectValid(db);
}

TEST_F(OrderDesk, RepeatingWithoutALiveCardKeepsTheOrdersCustomerData) {
    Draft draft = draftOf({{pizza, 1}});
    draft.name = "Pepe";
    draft.phone = "600 000 000";
    draft.address = "Plaza 3";
    Draft linked = draft;
    linked.id = Uuid::random();
    linked.customerID = Uuid::random(); // a card since removed
    for (const Draft& d : {draft, linked}) {
        const auto [repeated, unavailable] = db.repeating(db.confirm(d, monday13h));
        EXPECT_TRUE(unavailable.empty());
        EXPECT_EQ(repeated.customerID, d.customerID);
        EXPECT_EQ(repeated.name, "Pepe");
        EXPECT_EQ(repeated.phone, "600 000 000");
        EXPECT_EQ(repeated.address, "Plaza 3");
    }
}

// Checked totals.

TEST(OrderTotals, NeverWrapAround) {
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    const Line huge = line(largest / 2 + 1, 2);
    const Line half = line(largest / 2, 1);
    Order order;
    order.draft = withLines({half, half, half});
    Payment payment;
    payment.cents = 1;
    payment.received = std::numeric_limits<std::int64_t>::min();
    const struct {
        const char* what;
        std::function<Cents()> total;
    } cases[] = {
        {"line", [&] { return huge.total(); }},
        {"draft",
         [&] {
             return withLines({half, half, half}).total();
         }},
        {"order", [&] { return order.total(); }},
        {"change", [&] { return payment.change(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.total();
            ADD_FAILURE() << "wrapped around";
        } catch (const PCError& error) {
            EXPECT_EQ(error.message(), beyondLimit);
        }
    }
    EXPECT_EQ(withLines({half, half, line(1, 1)}).total(), largest);
}

// Print attempts.

TEST_F(OrderDesk, CountPrintAttemptCountsAndRecordsTheOrderNumber) {
    confirmed();
    const Order order = confirmed();
    const std::size_t audited = db.audit.size();
    EXPECT_TRUE(db.countPrintAttempt(order.id, monday18h));
    EXPECT_TRUE(db.countPrintAttempt(order.id, monday18h));
    EXPECT_EQ(db.orders[1].printAttempts, 2);
    EXPECT_EQ(db.orders[0].printAttempts, 0);
    EXPECT_EQ(entriesFrom(db, audited), (std::vector<Entry>{{"Intento de impresión", "2", monday18h},
                                                            {"Intento de impresión", "2", monday18h}}));
    expectValid(db);
}

TEST_F(OrderDesk, CountPrintAttemptOfAMissingOrderLeavesTheDocumentAsItWas) {
    confirmed();
    const Database before = db;
    EXPECT_FALSE(db.countPrintAttempt(Uuid::random(), monday18h));
    EXPECT_TRUE(db == before);
}

TEST_F(OrderDesk, CountPrintAttemptNeverWrapsRoundAndKeepsTheCopyMark) {
    confirmed();
    db.orders[0].printAttempts = std::numeric_limits<std::int64_t>::max();
    EXPECT_TRUE(db.countPrintAttempt(db.orders[0].id, monday18h));
    EXPECT_EQ(db.orders[0].printAttempts, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(db.audit.back().action, "Intento de impresión");
}

// Drawer openings.

TEST_F(OrderDesk, DrawerOpeningsAreRecordedWithTheOrderNumberAndChangeNothingElse) {
    confirmed();
    const Order order = confirmed();
    const std::size_t audited = db.audit.size();
    Database expected = db;
    db.recordDrawerOpening(order.id, monday18h);
    db.recordDrawerOpening(order.id, monday18h);
    // An order gone since (a restore in between) leaves the opening recorded without a number.
    db.recordDrawerOpening(Uuid::random(), monday18h);
    EXPECT_EQ(entriesFrom(db, audited), (std::vector<Entry>{{"Apertura de cajón", "2", monday18h},
                                                            {"Apertura de cajón", "2", monday18h},
                                                            {"Apertura de cajón", "", monday18h}}));
    // Nothing but the trail changes: no order, payment or session.
    expected.audit = db.audit;
    EXPECT_TRUE(db == expected);
    expectValid(db);
}

// Whole flows.

TEST_F(OrderDesk, FlowConfirmPayInCashThenPrepareBackAndForth) {
    const Order order = confirmed();
    expectValid(db);
    db.pay(order.id, PaymentMethod::cash, Money::parse("20,00"), plus(monday13h, 300));
    expectValid(db);
    EXPECT_EQ(db.paymentFor(order)->change(), 750);
    for (Preparation state : {Preparation::ready, Preparation::delivered, Preparation::ready}) {
        db.prepare(order.id, state, monday18h);
        expectValid(db);
    }
    EXPECT_EQ(db.receipts(PaymentMethod::cash, session(0)), 1250);
    EXPECT_EQ(db.unpaid(), 0);
    // Paid: it can no longer be cancelled.
    expectRefused(
        db, [&](Database& d) { d.cancel(order.id, "Error", monday18h); }, cancelRefused);
}

TEST_F(OrderDesk, FlowConfirmThenCancelInTheOpenShift) {
    const Order kept = confirmed();
    const Order order = confirmed();
    db.cancel(order.id, "El cliente anuló por teléfono", monday18h);
    expectValid(db);
    expectRefused(
        db, [&](Database& d) { d.pay(order.id, PaymentMethod::cash, std::nullopt, monday18h); }, notPayable);
    db.reconcile(tuesday4h);
    EXPECT_EQ(session(0).salesAtClose, kept.total());
    EXPECT_EQ(session(0).unpaidAtClose, kept.total());
    expectValid(db);
}

TEST_F(OrderDesk, FlowAnOrderOfYesterdaysClosedShiftIsPaidTodayAndCountsInTodaysReceipts) {
    const Order order = confirmed(monday18h);
    const Order kept = confirmed(monday18h);
    db.reconcile(tuesday12h);
    const Session yesterday = session(0);
    expectRefused(
        db, [&](Database& d) { d.cancel(order.id, "Tarde", tuesday12h); }, dayClosed);

    db.pay(order.id, PaymentMethod::card, std::nullopt, plus(tuesday12h, 60));
    expectValid(db);
    const Session& today = session(1);
    EXPECT_EQ(db.payments[0].sessionID, today.id);
    EXPECT_EQ(db.receipts(std::nullopt, today), 1250);
    EXPECT_EQ(db.receipts(std::nullopt, yesterday), 0);
    EXPECT_EQ(db.sales(yesterday), 2500);
    EXPECT_EQ(db.sales(today), 0);
    EXPECT_EQ(db.unpaid(), kept.total());
    // Yesterday's frozen figures are not touched.
    EXPECT_EQ(session(0), yesterday);
    EXPECT_EQ(yesterday.receiptsAtClose, 0);
    EXPECT_EQ(yesterday.unpaidAtClose, 2500);
}

// The operations on a generated document of a few business days: the document stays valid.
TEST(OrderFlows, AGeneratedDocumentStaysValidThroughEveryOperation) {
    Database db = testing::makeDocument(testing::DocumentShape::small(), 7);
    const Instant now = plus(db.sessions.back().opened, 600);
    ASSERT_LT(now, db.sessions.back().scheduledEnd);
    Draft draft;
    for (const Product& product : db.products)
        if (product.active && draft.lines.size() < 3) draft.lines.push_back(Line::make(product));
    const Order order = db.confirm(draft, now);
    expectValid(db);
    db.pay(order.id, PaymentMethod::cash, std::nullopt, now);
    expectValid(db);
    db.prepare(order.id, Preparation::delivered, now);
    expectValid(db);

    const auto [repeated, unavailable] = db.repeating(order);
    EXPECT_TRUE(unavailable.empty());
    const Order again = db.confirm(repeated, now);
    db.cancel(again.id, "Prueba", now);
    expectValid(db);
    EXPECT_EQ(db.orders.back().number + 1, db.nextNumber);
}

} // namespace
} // namespace pizzacore
