// The integrity rules every document passes before it is read from or written to disk: one table
// of changes that each break one rule, one of changes at the very edge that still pass.

#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>
#include <support/SyntheticDocument.hpp>

#include <algorithm>
#include <functional>
#include <string>
#include <unordered_set>

namespace {

using namespace pizzacore;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::makeDocument;

const std::string inconsistentMessage =
    "Datos inconsistentes. Conserva el archivo y recupera una copia de seguridad válida.";

struct Change {
    const char* name;
    std::function<void(Database&)> apply;
};

// A document with a bit of everything: orders paid and unpaid, closed sessions and an open one.
Database base() {
    Database db = makeDocument(DocumentShape::small(), 11);
    db.draft.lines = {Line::make(db.products.front())};
    return db;
}

Order& unpaidOrder(Database& db) {
    std::unordered_set<Uuid> paid;
    for (const Payment& payment : db.payments)
        paid.insert(payment.orderID);
    return db.orders.modify(std::find_if(db.orders.begin(), db.orders.end(), [&](const Order& o) {
        return !paid.contains(o.id) && o.preparation != Preparation::cancelled;
    }));
}

Order& orderOf(Database& db, const Payment& payment) {
    return db.orders.modify(std::find_if(db.orders.begin(), db.orders.end(),
                                         [&](const Order& o) { return o.id == payment.orderID; }));
}

void setCategories(Database& db, std::initializer_list<const char*> names) {
    db = Database();
    db.categories.clear();
    for (const char* name : names)
        db.categories.push_back(Category::make(name, false));
}

std::int64_t largestNumber(const Database& db) {
    return std::max_element(db.orders.begin(), db.orders.end(),
                            [](const Order& a, const Order& b) { return a.number < b.number; })
        ->number;
}

const Change breaking[] = {
    // Categories.
    {"no category", [](Database& db) { db.categories.clear(); }},
    {"two categories with one id",
     [](Database& db) {
         Category copy = db.categories.front();
         copy.rawValue = "Otra";
         db.categories.push_back(copy);
     }},
    {"Pizzas and PIZZAS",
     [](Database& db) {
         setCategories(db, {"Pizzas", "PIZZAS"});
     }},
    {"Postres and Póstres",
     [](Database& db) {
         setCategories(db, {"Postres", "Póstres"});
     }},
    {"Bebidas and bebidas",
     [](Database& db) {
         setCategories(db, {"Bebidas", "bebidas"});
     }},
    {"a blank category name",
     [](Database& db) {
         setCategories(db, {"Pizzas", " \n\u00A0\t"});
     }},
    {"an empty category name", [](Database& db) { setCategories(db, {""}); }},
    // Products.
    {"a product with a renamed category",
     [](Database& db) { db.products.back().category.rawValue += " antiguas"; }},
    {"a product whose category changed destination",
     [](Database& db) { db.products.back().category.bar = !db.products.back().category.bar; }},
    {"a product of an unknown category",
     [](Database& db) { db.products.back().category = Category::make("Nueva", false); }},
    {"a product tax rate above 100 %", [](Database& db) { db.products.back().taxRate = 10001; }},
    {"a negative product tax rate", [](Database& db) { db.products.back().taxRate = -1; }},
    {"a product image of 2,000,001 bytes",
     [](Database& db) { db.products.back().image = Bytes(2'000'001, 7); }},
    {"schemaVersion 2", [](Database& db) { db.schemaVersion = 2; }},
    // Numbering.
    {"nextNumber equal to the largest order number", [](Database& db) { db.nextNumber = largestNumber(db); }},
    {"nextNumber 0 without orders",
     [](Database& db) {
         db = Database();
         db.nextNumber = 0;
     }},
    // Settings.
    {"closingHour 24", [](Database& db) { db.settings.closingHour = 24; }},
    {"closingHour -1", [](Database& db) { db.settings.closingHour = -1; }},
    {"closingMinute 60", [](Database& db) { db.settings.closingMinute = 60; }},
    {"closingMinute -1", [](Database& db) { db.settings.closingMinute = -1; }},
    {"a misspelt time zone", [](Database& db) { db.settings.timeZone = "Europa/Madrid"; }},
    {"an empty time zone", [](Database& db) { db.settings.timeZone = ""; }},
    {"a currency carrying a terminal escape", [](Database& db) { db.settings.currency = "\x1b[2J"; }},
    {"a lower-case currency", [](Database& db) { db.settings.currency = "eur"; }},
    {"a currency of four letters", [](Database& db) { db.settings.currency = "EURO"; }},
    {"a currency sign instead of a code", [](Database& db) { db.settings.currency = "€"; }},
    {"an empty currency", [](Database& db) { db.settings.currency = ""; }},
    // Sessions.
    {"two open sessions", [](Database& db) { db.sessions.front().closed.reset(); }},
    // Uniqueness.
    {"two customers with one id", [](Database& db) { db.customers[1].id = db.customers[0].id; }},
    {"two products with one id", [](Database& db) { db.products[1].id = db.products[0].id; }},
    {"two orders with one id", [](Database& db) { db.orders[1].id = db.orders[0].id; }},
    {"two sessions with one id", [](Database& db) { db.sessions[1].id = db.sessions[0].id; }},
    {"two orders with one number", [](Database& db) { db.orders[1].number = db.orders[0].number; }},
    {"two payments of one order",
     [](Database& db) {
         Payment second = db.payments.front();
         second.id = Uuid::random();
         db.payments.push_back(second);
     }},
    {"two customers with one phone key",
     [](Database& db) {
         db.customers[0].phone = "612 34 56 78";
         db.customers[1].phone = "+34612345678";
     }},
    // The draft.
    {"a draft of 1001 lines", [](Database& db) { db.draft.lines.assign(1001, db.draft.lines.front()); }},
    {"a draft line of quantity 0", [](Database& db) { db.draft.lines.front().quantity = 0; }},
    {"a draft line of quantity 1000", [](Database& db) { db.draft.lines.front().quantity = 1000; }},
    {"a draft line of negative price", [](Database& db) { db.draft.lines.front().cents = -1; }},
    {"a draft line above the price ceiling",
     [](Database& db) { db.draft.lines.front().cents = 100'000'000; }},
    {"a draft line tax rate above 100 %", [](Database& db) { db.draft.lines.front().taxRate = 10001; }},
    // Product prices.
    {"a negative product price", [](Database& db) { db.products.back().cents = -1; }},
    {"a product above the price ceiling", [](Database& db) { db.products.back().cents = 100'000'000; }},
    // Orders.
    {"an order without lines", [](Database& db) { unpaidOrder(db).draft.lines.clear(); }},
    {"an order of 1001 lines",
     [](Database& db) {
         Order& order = unpaidOrder(db);
         Line line = order.draft.lines.front();
         line.cents = 1;
         order.draft.lines.assign(1001, line);
     }},
    {"an order line of quantity 0", [](Database& db) { unpaidOrder(db).draft.lines.front().quantity = 0; }},
    {"an order line of quantity 1000",
     [](Database& db) { unpaidOrder(db).draft.lines.front().quantity = 1000; }},
    {"an order line tax rate below 0",
     [](Database& db) { unpaidOrder(db).draft.lines.front().taxRate = -1; }},
    {"an order total above the ceiling",
     [](Database& db) {
         Order& order = unpaidOrder(db);
         Line line = order.draft.lines.front();
         line.cents = 99'999'999;
         line.quantity = 1;
         order.draft.lines = {line, line};
     }},
    {"an order of an unknown session", [](Database& db) { unpaidOrder(db).sessionID = Uuid::random(); }},
    // Payments.
    {"a payment one cent above its order's total",
     [](Database& db) {
         db.payments.front().cents += 1;
         db.payments.front().received += 1;
     }},
    {"a payment one cent below its order's total", [](Database& db) { db.payments.front().cents -= 1; }},
    {"a payment of a cancelled order",
     [](Database& db) { orderOf(db, db.payments.front()).preparation = Preparation::cancelled; }},
    {"a payment of an unknown order", [](Database& db) { db.payments.front().orderID = Uuid::random(); }},
    {"a payment in an unknown session", [](Database& db) { db.payments.front().sessionID = Uuid::random(); }},
    {"a payment receiving less than its amount",
     [](Database& db) { db.payments.front().received = db.payments.front().cents - 1; }},
    {"a payment receiving more than the ceiling",
     [](Database& db) { db.payments.front().received = 100'000'000; }},
};

const Change passing[] = {
    {"the generated document", [](Database&) {}},
    {"a new document", [](Database& db) { db = Database(); }},
    {"Bebidas and Bebidas frías",
     [](Database& db) {
         setCategories(db, {"Bebidas", "Bebidas frías"});
     }},
    {"nextNumber one above the largest order number",
     [](Database& db) { db.nextNumber = largestNumber(db) + 1; }},
    {"one open session and no closed one",
     [](Database& db) {
         db = Database();
         db.sessions = {Session{}};
     }},
    {"a payment receiving exactly its amount",
     [](Database& db) { db.payments.front().received = db.payments.front().cents; }},
    {"a payment receiving the ceiling", [](Database& db) { db.payments.front().received = 99'999'999; }},
    {"a draft without lines", [](Database& db) { db.draft.lines.clear(); }},
    {"draft lines of quantity 1 and 999 and the extreme prices and rates",
     [](Database& db) {
         Line line = db.draft.lines.front();
         line.quantity = 999;
         line.cents = 0;
         line.taxRate = 10000;
         db.draft.lines.push_back(line);
         line.quantity = 1;
         line.cents = 99'999'999;
         line.taxRate = 0;
         db.draft.lines.push_back(line);
         db.draft.lines.front().taxRate.reset();
     }},
    {"an order of 1000 lines",
     [](Database& db) {
         Order& order = unpaidOrder(db);
         Line line = order.draft.lines.front();
         line.cents = 1;
         line.quantity = 999;
         order.draft.lines.assign(1000, line);
     }},
    {"an order total of exactly the ceiling",
     [](Database& db) {
         Order& order = unpaidOrder(db);
         Line line = order.draft.lines.front();
         line.cents = 99'999'999;
         line.quantity = 1;
         order.draft.lines = {line};
     }},
    {"a product image of 2,000,000 bytes",
     [](Database& db) { db.products.back().image = Bytes(2'000'000, 7); }},
    {"the edges of the closing time",
     [](Database& db) {
         db.settings.closingHour = 23;
         db.settings.closingMinute = 59;
     }},
    {"another ISO currency code", [](Database& db) { db.settings.currency = "USD"; }},
    {"another known time zone",
     [](Database& db) { db.settings.timeZone = "America/Argentina/Buenos_Aires"; }},
};

TEST(Validation, EachRuleRefusesTheDocumentWithTheOneMessage) {
    for (const Change& change : breaking) {
        SCOPED_TRACE(change.name);
        Database db = base();
        change.apply(db);
        try {
            Repository::validate(db);
            ADD_FAILURE() << "accepted";
        } catch (const PCError& error) {
            EXPECT_EQ(error.message(), inconsistentMessage);
        }
    }
}

TEST(Validation, DocumentsAtTheEdgesPass) {
    for (const Change& change : passing) {
        SCOPED_TRACE(change.name);
        Database db = base();
        change.apply(db);
        EXPECT_NO_THROW(Repository::validate(db));
    }
}

TEST(Validation, TheFiscalArchiveRulesComeFirstWithTheirOwnMessages) {
    Database db = base();
    db.categories.clear();
    db.fiscal = FiscalState{};
    db.fiscal->settings.country = "es";
    try {
        Repository::validate(db);
        ADD_FAILURE() << "accepted";
    } catch (const PCError& error) {
        EXPECT_EQ(error.message(),
                  "Revisa país (ISO de dos letras), moneda (ISO de tres letras) y tipos impositivos.");
    }

    db = base();
    db.fiscal = FiscalState{};
    EXPECT_NO_THROW(Repository::validate(db));
    db.fiscal->invoices.push_back(FiscalInvoice{});
    EXPECT_THROW(Repository::validate(db), PCError);
}

TEST(Folding, IgnoresCaseAndAccentsOnly) {
    EXPECT_EQ(foldedForComparison("PIZZAS"), foldedForComparison("pizzas"));
    EXPECT_EQ(foldedForComparison("Póstres"), "postres");
    EXPECT_EQ(foldedForComparison("ÑANDÚ Pingüino"), "nandu pinguino");
    EXPECT_NE(foldedForComparison("Bebidas"), foldedForComparison("Bebidas frías"));
    EXPECT_NE(foldedForComparison("Bebidas"), foldedForComparison("Bebidas "));
    // Text that is not UTF-8 folds without failing.
    EXPECT_EQ(foldedForComparison("A\xff"), "a\xEF\xBF\xBD");
}

} // namespace
