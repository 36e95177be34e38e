// Customer cards: saving, the three-field search, a card's history and its usual payment.

#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>
#include <support/SyntheticDocument.hpp>

#include <functional>
#include <string>
#include <vector>

namespace pizzacore {
namespace {

const Instant noon = Instant::fromUnix(1773054000);

const std::string invalidCard = "Indica nombre y un teléfono válido (7–15 cifras).";
const std::string takenPhone = "Ese teléfono ya pertenece a otro cliente.";

Customer card(std::string name, std::string phone, std::string address = {}) {
    Customer result;
    result.name = std::move(name);
    result.phone = std::move(phone);
    result.address = std::move(address);
    return result;
}

std::vector<std::string> names(const std::vector<Customer>& customers) {
    std::vector<std::string> result;
    for (const Customer& c : customers)
        result.push_back(c.name);
    return result;
}

Database withCards(std::vector<Customer> customers) {
    Database db;
    db.customers = std::move(customers);
    db.reconcile(noon);
    db.audit.clear();
    return db;
}

// Saving a card.

TEST(SaveCustomer, Refusals) {
    Database db = withCards({card("Ana", "612 34 56 78")});
    struct Case {
        Customer customer;
        const std::string& message;
    };
    const Customer ana = db.customers[0];
    Customer anaBlank = ana;
    anaBlank.name = " \u2028";
    const std::vector<Case> cases = {
        {card("", "600111222"), invalidCard},
        {card(" \t\n", "600111222"), invalidCard},
        {card("Luis", "612 345"), invalidCard},          // 6 digits
        {card("Luis", "1234567890123456"), invalidCard}, // 16 digits
        {card("Luis", "teléfono"), invalidCard},         // no digits
        {card("Luis", "+34 612345678"), takenPhone},     // same key, written differently
        {card("Luis", "0034 612-34-56-78"), takenPhone}, // same key with the 00 prefix
        {card(" ", "612345678"), invalidCard},           // the first rule is checked first
        {anaBlank, invalidCard},                         // editing also checks the name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.customer.name + " / " + c.customer.phone);
        Database attempt = db;
        try {
            attempt.saveCustomer(c.customer, noon);
            ADD_FAILURE() << "accepted";
        } catch (const PCError& error) {
            EXPECT_EQ(error.message(), c.message);
        }
        EXPECT_TRUE(attempt == db);
    }
}

TEST(SaveCustomer, DigitLimitsCountThePhoneKey) {
    for (const char* phone :
         {"1234567", "123456789012345", "+34 1234567", "00 123456789012345", "0034 612345678"}) {
        SCOPED_TRACE(phone);
        Database db = withCards({});
        db.saveCustomer(card("Luis", phone), noon);
        EXPECT_EQ(db.customers.size(), 1u);
        EXPECT_NO_THROW(Repository::validate(db));
    }
}

TEST(SaveCustomer, EditsInPlaceAppendsNewAndStoresAsGiven) {
    Database db = withCards({card("Ana", "612345678"), card("Luis", "699111222")});
    const Draft draft = db.draft;

    Customer ana = db.customers[0];
    ana.name = " Ana María ";
    ana.phone = "+34 612 345 678"; // its own telephone, written differently
    ana.notes = "Sin cebolla";
    db.saveCustomer(ana, noon);
    ASSERT_EQ(db.customers.size(), 2u);
    EXPECT_EQ(db.customers[0], ana);

    const Customer eva = card("  Eva", "655 00 11 22 ", "Calle Sol 3");
    db.saveCustomer(eva, noon);
    ASSERT_EQ(db.customers.size(), 3u);
    EXPECT_EQ(db.customers[2], eva);

    EXPECT_EQ(db.draft, draft);
    ASSERT_EQ(db.audit.size(), 2u);
    EXPECT_EQ(db.audit[0].action, "Guardar cliente");
    EXPECT_EQ(db.audit[0].reference, ana.id.text());
    EXPECT_EQ(db.audit[1].reference, eva.id.text());
    EXPECT_EQ(db.audit[1].date, noon);
    EXPECT_NO_THROW(Repository::validate(db));
}

// Search.

TEST(CustomersMatching, Queries) {
    const Database db = withCards({
        card("José García", "+34 612 345 678", "Calle Mayor 5"),
        card("MARÍA NÚÑEZ", "699111222", "Avenida del Puerto 12, 2º B"),
        card("Pizza 10", "911000010", "Plaza Mayor"),
        card("pizza 9", "911000009"),
        card("Ángel", "0034 655 44 33 22", "Calle del Niño"),
        card("ana", "600000001"),
        card("Ana", "600000002"),
    });
    struct Case {
        const char* name;
        const char* phone;
        const char* address;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"jose", "", "", {"José García"}},
        {"  garcía\n", "", "", {"José García"}},
        {"maria nunez", "", "", {"MARÍA NÚÑEZ"}},
        {"Jo\u0301se\u0301", "", "", {"José García"}}, // decomposed accents in the query
        {"", "5678", "", {"José García"}},
        {"", "612 345", "", {"José García"}},
        {"", "655-44", "", {"Ángel"}},
        {"", "abc", "", {}},
        {"", "+-()", "", {}},
        {"pizza", "abc", "", {}},
        {"", "", "mayor", {"José García", "Pizza 10"}},
        {"", "", "NINO", {"Ángel"}},
        {"", "", "puerto 12, 2º", {"MARÍA NÚÑEZ"}},
        {"jose", "699", "", {}},
        {"pizza", "", "mayor", {"Pizza 10"}},
        {"", "  ", "\u3000", {"ana", "Ana", "Ángel", "José García", "MARÍA NÚÑEZ", "pizza 9", "Pizza 10"}},
        {"", "", "", {"ana", "Ana", "Ángel", "José García", "MARÍA NÚÑEZ", "pizza 9", "Pizza 10"}},
        {"zzz", "", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " | " + c.phone + " | " + c.address);
        EXPECT_EQ(names(db.customersMatching(c.name, c.phone, c.address)), c.expected);
    }
}

TEST(CustomersMatching, EmptyAndAwkwardDocuments) {
    EXPECT_TRUE(Database().customersMatching("", "", "").empty());
    EXPECT_TRUE(Database().customersMatching("ana", "600", "calle").empty());
    // Text that is not UTF-8 is searched without harm.
    const Database db = withCards({card("Jos\xC3 \xFF", "600000001", "\xE2\x82")});
    EXPECT_EQ(db.customersMatching("jos", "", "").size(), 1u);
    EXPECT_EQ(db.customersMatching("\xFF", "", "").size(), 1u);
    EXPECT_TRUE(db.customersMatching("", "", "calle").empty());
}

TEST(CustomersMatching, FindsEveryCardOfAGeneratedYearByItsLastDigits) {
    const Database db = testing::makeDocument(testing::DocumentShape::medium(), 3);
    ASSERT_FALSE(db.customers.empty());
    for (std::size_t i = 0; i < db.customers.size(); i += 37) {
        const Customer& customer = db.customers[i];
        const std::string key = phoneKey(customer.phone);
        const std::vector<Customer> found = db.customersMatching("", key.substr(key.size() - 4), "");
        EXPECT_NE(std::find(found.begin(), found.end(), customer), found.end()) << customer.phone;
        const std::vector<Customer> exact = db.customersMatching("", customer.phone, "");
        EXPECT_EQ(exact, std::vector<Customer>{customer});
    }
}

// History and usual payment.

struct Taken {
    Taken(std::optional<std::size_t> linkedTo, std::string phone, double minute,
          Preparation preparation = Preparation::preparing, std::optional<PaymentMethod> paid = std::nullopt)
        : linkedTo(linkedTo)
        , phone(std::move(phone))
        , minute(minute)
        , preparation(preparation)
        , paid(paid) {}

    std::optional<std::size_t> linkedTo; // index of the card the draft is linked to
    std::string phone;
    double minute;
    Preparation preparation;
    std::optional<PaymentMethod> paid;
};

// Two cards with orders as described; the orders are numbered in the given order.
Database history(const std::vector<Taken>& taken) {
    Database db = withCards({card("Ana", "612345678"), card("Luis", "699111222")});
    for (const Taken& t : taken) {
        Order order;
        order.number = db.nextNumber++;
        order.created = Instant{noon.seconds + 60 * t.minute};
        order.sessionID = db.sessions.back().id;
        order.preparation = t.preparation;
        if (t.linkedTo) order.draft.customerID = db.customers[*t.linkedTo].id;
        order.draft.phone = t.phone;
        Line line;
        line.cents = 1000;
        order.draft.lines = {line};
        db.orders.push_back(order);
        if (t.paid)
            db.payments.push_back(Payment{.id = Uuid::random(),
                                          .orderID = order.id,
                                          .sessionID = order.sessionID,
                                          .date = order.created,
                                          .method = *t.paid,
                                          .cents = 1000,
                                          .received = 1000});
    }
    return db;
}

std::vector<std::int64_t> numbers(const std::vector<Order>& orders) {
    std::vector<std::int64_t> result;
    for (const Order& order : orders)
        result.push_back(order.number);
    return result;
}

TEST(OrdersFor, LinkFirstThenTelephoneNewestFirst) {
    const Database db = history({
        {0, "", 1},                                  // 1: linked to Ana
        {std::nullopt, "+34 612 34 56 78", 5},       // 2: walk-in with Ana's telephone
        {1, "612345678", 9},                         // 3: linked to Luis with Ana's telephone
        {std::nullopt, "", 3},                       // 4: no link, no telephone
        {0, "699111222", 5, Preparation::cancelled}, // 5: linked to Ana, cancelled, same instant as 2
        {std::nullopt, "0034612345678", 2},          // 6: walk-in with Ana's telephone
    });
    ASSERT_NO_THROW(Repository::validate(db));
    EXPECT_EQ(numbers(db.ordersFor(db.customers[0])), (std::vector<std::int64_t>{2, 5, 6, 1}));
    EXPECT_EQ(numbers(db.ordersFor(db.customers[1])), (std::vector<std::int64_t>{3}));
    // A card without a usable telephone gets only the orders linked to it.
    Customer blank = db.customers[0];
    blank.phone = "";
    EXPECT_EQ(numbers(db.ordersFor(blank)), (std::vector<std::int64_t>{5, 1}));
    EXPECT_TRUE(db.ordersFor(card("Eva", "600000000")).empty());
}

TEST(UsualPayment, CountsPaidOrdersThatAreNotCancelled) {
    using enum PaymentMethod;
    const auto walkIn = std::nullopt;
    struct Case {
        std::vector<Taken> taken;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {{{0, "", 1, Preparation::preparing, cash},
          {0, "", 2, Preparation::delivered, cash},
          {walkIn, "612345678", 3, Preparation::ready, card},
          {0, "", 4}},
         "Efectivo"},
        {{{0, "", 1, Preparation::delivered, cash}, {0, "", 2, Preparation::delivered, card}}, "Mixto"},
        {{{0, "", 1, Preparation::delivered, card}, {0, "", 2}}, "Tarjeta"},
        {{{0, "", 1, Preparation::cancelled}, {0, "", 2}}, "Sin datos"},
        {{}, "Sin datos"},
        // Payments of other cards' orders do not count.
        {{{1, "612345678", 1, Preparation::delivered, cash}, {0, "", 2, Preparation::delivered, card}},
         "Tarjeta"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const Database db = history(cases[i].taken);
        EXPECT_EQ(db.usualPaymentFor(db.customers[0]), cases[i].expected);
    }

    // A cancelled order is left out even if a payment for it is on record (a hand-edited file).
    Database db =
        history({{0, "", 1, Preparation::delivered, card}, {0, "", 2, Preparation::delivered, cash}});
    db.orders[1].preparation = Preparation::cancelled;
    EXPECT_EQ(db.usualPaymentFor(db.customers[0]), "Tarjeta");
}

// Removing a card.

TEST(DeleteCustomer, RemovesEveryCardWithItsIdAndOrdersKeepTheirData) {
    Database db = history({{0, "", 1}, {std::nullopt, "612345678", 2}, {1, "", 3}});
    const Customer ana = db.customers[0];
    const Customer luis = db.customers[1];
    // A hand-edited document may list the same card twice.
    db.customers.push_back(ana);
    const Database before = db;
    const Instant at{noon.seconds + 60};
    db.deleteCustomer(ana.id, at);
    ASSERT_EQ(db.customers.size(), 1u);
    EXPECT_EQ(db.customers[0], luis);
    EXPECT_EQ(db.orders, before.orders);
    EXPECT_EQ(db.payments, before.payments);
    ASSERT_EQ(db.audit.size(), before.audit.size() + 1);
    EXPECT_EQ(db.audit.back().action, "Eliminar cliente");
    // The reference is the canonical upper-case text of the id.
    EXPECT_EQ(db.audit.back().reference, ana.id.text());
    EXPECT_EQ(db.audit.back().date, at);
    EXPECT_NO_THROW(Repository::validate(db));
}

TEST(DeleteCustomer, AnUnknownIdChangesNoCardAndIsStillRecorded) {
    Database db = withCards({card("Ana", "612 34 56 78")});
    const Database before = db;
    const Uuid gone = Uuid::random();
    db.deleteCustomer(gone, noon);
    EXPECT_EQ(db.customers, before.customers);
    ASSERT_EQ(db.audit.size(), 1u);
    EXPECT_EQ(db.audit.back().action, "Eliminar cliente");
    EXPECT_EQ(db.audit.back().reference, gone.text());
}

} // namespace
} // namespace pizzacore
