// Defaults, equality and the computed values of the records.

#include <PizzaCore/PizzaCore.hpp>

#include <gtest/gtest.h>

using namespace pizzacore;

TEST(Records, NewDocumentHasTheInitialCatalogueAndNumbering) {
    Database db;
    ASSERT_EQ(db.categories.size(), 3u);
    EXPECT_EQ(db.categories[0], (Category{"pizzas", "Pizzas", false}));
    EXPECT_EQ(db.categories[1], (Category{"refrescos", "Refrescos", true}));
    EXPECT_EQ(db.categories[2], (Category{"complementos", "Complementos", false}));
    EXPECT_EQ(db.schemaVersion, 1);
    EXPECT_EQ(db.nextNumber, 1);
    EXPECT_FALSE(db.fiscal.has_value());
    EXPECT_TRUE(db.products.empty() && db.customers.empty() && db.orders.empty() && db.payments.empty() &&
                db.sessions.empty() && db.audit.empty() && db.draft.lines.empty());
    EXPECT_EQ(db.draft.mode, Mode::pickup);
}

TEST(Records, EveryNewRecordGetsItsOwnIdentifier) {
    EXPECT_NE(Customer().id, Customer().id);
    EXPECT_NE(Draft().id, Draft().id);
    EXPECT_NE(Database().draft.id, Database().draft.id);
    EXPECT_NE(FiscalSettings().installation, FiscalSettings().installation);
    FiscalSettings settings;
    auto installation = Uuid::parse(settings.installation);
    ASSERT_TRUE(installation.has_value());
    EXPECT_EQ(installation->text(), settings.installation); // canonical upper case
}

TEST(Records, CategoriesCompareAllThreeFields) {
    Category a{"x", "Postres", false};
    EXPECT_NE(a, (Category{"x", "Dulces", false}));
    EXPECT_NE(a, (Category{"x", "Postres", true}));
    EXPECT_EQ(a, (Category{"x", "Postres", false}));
    EXPECT_EQ(std::hash<Category>{}(a), std::hash<Category>{}(Category{"x", "Postres", false}));

    Category made = Category::make("Cervezas", true);
    auto id = Uuid::parse(made.id);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(id->text(), made.id); // upper case
    EXPECT_EQ(made.rawValue, "Cervezas");
    EXPECT_TRUE(made.bar);
}

TEST(Records, LinesCopyTheirProductAndTotalsAddUp) {
    Product product;
    product.name = "Barbacoa";
    product.cents = 250;
    product.taxRate = 1000;
    product.category = Category::side();
    Line line = Line::make(product);
    EXPECT_EQ(line.productID, product.id);
    EXPECT_NE(line.id, product.id);
    EXPECT_EQ(line.name, "Barbacoa");
    EXPECT_EQ(line.category, Category::side());
    EXPECT_EQ(line.taxRate, 1000);
    EXPECT_EQ(line.quantity, 1);
    EXPECT_EQ(line.notes, "");

    Draft draft;
    EXPECT_EQ(draft.total(), 0);
    line.quantity = 2;
    draft.lines.push_back(line);
    Line second = Line::make(product);
    second.cents = 1990;
    draft.lines.push_back(second);
    EXPECT_EQ(draft.total(), 2490);

    Order order;
    order.draft = draft;
    EXPECT_EQ(order.total(), 2490);

    Payment payment;
    payment.cents = 2490;
    payment.received = 5000;
    EXPECT_EQ(payment.change(), 2510);
}

TEST(Records, SettingsRecipientsAndCurrency) {
    Settings settings;
    EXPECT_EQ(settings.recipients(), (std::vector<Recipient>{Recipient::kitchen, Recipient::customer}));
    settings.bar = true;
    EXPECT_EQ(settings.recipients(),
              (std::vector<Recipient>{Recipient::kitchen, Recipient::bar, Recipient::customer}));
    settings.kitchen = settings.bar = settings.customer = false;
    EXPECT_TRUE(settings.recipients().empty());

    EXPECT_EQ(settings.currencyCode(), "EUR");
    settings.currency = "USD";
    EXPECT_EQ(settings.currencyCode(), "USD");
}

TEST(Records, PaymentForFindsTheFirstPaymentOfTheOrder) {
    Database db;
    Order order;
    Order other;
    EXPECT_FALSE(db.paymentFor(order).has_value());
    Payment first;
    first.orderID = order.id;
    first.cents = 100;
    Payment second = first;
    second.id = Uuid::random();
    second.cents = 200;
    Payment unrelated;
    unrelated.orderID = other.id;
    db.payments = {unrelated, first, second};
    ASSERT_TRUE(db.paymentFor(order).has_value());
    EXPECT_EQ(db.paymentFor(order)->id, first.id);
}

TEST(Records, EnumerationTextsAndOrder) {
    EXPECT_EQ(rawValue(Mode::local), "Comer en local");
    EXPECT_EQ(rawValue(Recipient::customer), "Cliente / reparto");
    EXPECT_EQ(rawValue(Paper::mm58), "58 mm");
    EXPECT_EQ(rawValue(InvoiceKind::correction), "R4");
    EXPECT_EQ(allCases<Preparation>(), (std::array{Preparation::preparing, Preparation::ready,
                                                   Preparation::delivered, Preparation::cancelled}));
    EXPECT_EQ(enumFromRawValue<PaymentMethod>("Tarjeta"), PaymentMethod::card);
    EXPECT_FALSE(enumFromRawValue<PaymentMethod>("tarjeta").has_value());
}
