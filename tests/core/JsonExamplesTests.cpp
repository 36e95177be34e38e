// The byte-exact JSON form of records and the reading conventions.

#include <PizzaCore/PizzaCore.hpp>

#include <gtest/gtest.h>

#include <charconv>
#include <random>

using namespace pizzacore;

namespace {
const Uuid someID = *Uuid::parse("8F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8");
}

TEST(JsonExamples, CategoryAndDefaultSettingsAreWrittenByteForByte) {
    EXPECT_EQ(toJSON(Category::pizza()), R"({"bar":false,"id":"pizzas","rawValue":"Pizzas"})");
    EXPECT_EQ(toJSON(Settings()),
              R"({"address":"","bar":false,"business":"Mi restaurante","closingHour":4,"closingMinute":0,)"
              R"("customer":true,"footer":"Gracias por tu pedido","fullCopies":false,"kitchen":true,)"
              R"("paper":"A4","phone":"","printer":"","taxID":"","timeZone":"Europe\/Madrid"})");
}

TEST(JsonExamples, ConfirmSwitchesReadAsTheirDefaultsWhenAbsentAndRoundTripWhenSet) {
    // Settings stored before the two switches existed.
    const std::string older = toJSON(Settings());
    Settings read = fromJSON<Settings>(older);
    EXPECT_FALSE(read.saveCardOnConfirm.has_value());
    EXPECT_TRUE(read.savesCardOnConfirm());
    EXPECT_FALSE(read.printsOnConfirm());
    read.printer = "Cocina-USB";
    EXPECT_TRUE(read.printsOnConfirm());

    Settings chosen;
    chosen.printer = "Cocina-USB";
    chosen.saveCardOnConfirm = false;
    chosen.printOnConfirm = false;
    const std::string text = toJSON(chosen);
    EXPECT_NE(text.find(R"("printOnConfirm":false,"printer":"Cocina-USB","saveCardOnConfirm":false,)"),
              std::string::npos);
    const Settings back = fromJSON<Settings>(text);
    EXPECT_EQ(back, chosen);
    EXPECT_FALSE(back.savesCardOnConfirm());
    EXPECT_FALSE(back.printsOnConfirm());

    chosen.printer.clear();
    chosen.printOnConfirm = true;
    EXPECT_TRUE(fromJSON<Settings>(toJSON(chosen)).printsOnConfirm());
}

TEST(JsonExamples, TheDrawerSwitchIsOffWhenAbsentAndRoundTripsWhenSet) {
    const Settings older = fromJSON<Settings>(toJSON(Settings()));
    EXPECT_FALSE(older.openDrawerOnCash.has_value());
    EXPECT_EQ(toJSON(older).find("openDrawerOnCash"), std::string::npos) << "older documents read unchanged";
    EXPECT_FALSE(older.opensDrawerOnCash());

    for (const bool on : {true, false}) {
        Settings chosen;
        chosen.openDrawerOnCash = on;
        const std::string text = toJSON(chosen);
        EXPECT_NE(text.find(on ? R"("openDrawerOnCash":true)" : R"("openDrawerOnCash":false)"),
                  std::string::npos);
        const Settings back = fromJSON<Settings>(text);
        EXPECT_EQ(back, chosen);
        EXPECT_EQ(back.opensDrawerOnCash(), on);
    }
}

TEST(JsonExamples, InstantsAreTheShortestTextThatReadsBackExactly) {
    // 2025-03-07 12:00:00.5 UTC.
    Audit entry{someID, Instant::fromUnix(1741348800.5), "Apertura", ""};
    EXPECT_EQ(entry.date.seconds, 763041600.5);
    EXPECT_EQ(
        toJSON(entry),
        R"({"action":"Apertura","date":763041600.5,"id":"8F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8","reference":""})");

    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> seconds(-1e9, 2e9);
    for (int i = 0; i < 20000; ++i) {
        entry.date = Instant{i % 3 == 0 ? std::ldexp(seconds(random), -(i % 60)) : seconds(random)};
        EXPECT_EQ(fromJSON<Audit>(toJSON(entry)).date.seconds, entry.date.seconds);
    }
    // The shortest form: no trailing zeros or padding digits.
    entry.date = Instant{0.1};
    EXPECT_NE(toJSON(entry).find(R"("date":0.1,)"), std::string::npos);
    entry.date = Instant{763041600};
    EXPECT_NE(toJSON(entry).find(R"("date":763041600,)"), std::string::npos);
}

TEST(JsonExamples, HugeWholeInstantsAreWrittenSoTheyReadBack) {
    // Shortest digits-only text beyond 64-bit integers would read as an unreadable integer.
    for (double seconds :
         {7.000000000000135e20, -7.000000000000135e20, 1e18, 9.3e18, 1.8446744073709552e19, 1e300}) {
        Audit entry{someID, Instant{seconds}, "x", ""};
        EXPECT_EQ(fromJSON<Audit>(toJSON(entry)).date.seconds, seconds) << toJSON(entry);
    }
}

TEST(JsonExamples, NonFiniteInstantsAreRefusedInsteadOfWrittenAsUnreadableJson) {
    Audit entry{someID, Instant{std::numeric_limits<double>::quiet_NaN()}, "x", ""};
    EXPECT_THROW(toJSON(entry), JSONError);
    entry.date = Instant{std::numeric_limits<double>::infinity()};
    EXPECT_THROW(toJSON(entry), JSONError);
}

TEST(JsonExamples, TextIsEscapedMinimallyWithSlashesEscaped) {
    Customer customer{someID, "a/b \"c\" \\d", "\n\t\r\b\f\x01\x1f", "Ñandú 🍕 «x»", "\xe2\x80\xa8"};
    std::string json = toJSON(customer);
    EXPECT_EQ(json, R"({"address":"Ñandú 🍕 «x»","id":"8F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8",)"
                    R"("name":"a\/b \"c\" \\d","notes":")"
                    "\xe2\x80\xa8"
                    R"(","phone":"\n\t\r\b\f\u0001\u001f"})");
    EXPECT_EQ(fromJSON<Customer>(json), customer);
    // Readers accept the unescaped slash too.
    EXPECT_EQ(fromJSON<Category>(R"({"bar":true,"id":"a/b","rawValue":"c\/d"})"),
              (Category{"a/b", "c/d", true}));
}

TEST(JsonExamples, InvalidUtf8IsRepairedSoTheDocumentAlwaysReadsBack) {
    Customer customer{someID, std::string("Jos\xe9 \xc3", 6) + "\xf0\x9f\x8d", "ok\xff", "", ""};
    std::string json = toJSON(customer);
    Customer read = fromJSON<Customer>(json);
    EXPECT_EQ(read.name, "Jos\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd");
    EXPECT_EQ(read.phone, "ok\xef\xbf\xbd");
}

TEST(JsonExamples, IdentifiersAreReadInEitherCaseAndWrittenUpperCase) {
    Customer customer = fromJSON<Customer>(R"({"address":"","id":"8f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8",)"
                                           R"("name":"","notes":"","phone":""})");
    EXPECT_EQ(customer.id, someID);
    EXPECT_NE(toJSON(customer).find("8F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8"), std::string::npos);
}

TEST(JsonExamples, BytesArePaddedBase64WithEscapedSlashes) {
    Product product;
    product.id = someID;
    product.image = Bytes{0xFF, 0xFF, 0xFF, 0xFB, 0xEF};
    std::string json = toJSON(product);
    EXPECT_NE(json.find(R"("image":"\/\/\/\/++8=")"), std::string::npos) << json;
    EXPECT_EQ(fromJSON<Product>(json), product);
    product.image = Bytes{};
    EXPECT_NE(toJSON(product).find(R"("image":"")"), std::string::npos);
    EXPECT_EQ(fromJSON<Product>(toJSON(product)), product);
}

TEST(JsonExamples, AbsentOptionalsAreOmittedAndNullReadsAsAbsent) {
    Database db;
    std::string json = toJSON(db);
    EXPECT_EQ(json.find("\"fiscal\""), std::string::npos);
    EXPECT_EQ(json.find("\"currency\""), std::string::npos);
    EXPECT_EQ(json.find("null"), std::string::npos);
    EXPECT_EQ(fromJSON<Database>(json), db);

    std::string withNull = "{\"fiscal\":null," + json.substr(1);
    Database read = fromJSON<Database>(withNull);
    EXPECT_FALSE(read.fiscal.has_value());
    EXPECT_EQ(toJSON(read), json);

    Session open =
        fromJSON<Session>(R"({"businessDay":"2026-03-09","id":"8F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8",)"
                          R"("opened":1,"scheduledEnd":2,"reason":null})");
    EXPECT_FALSE(open.closed || open.reason || open.salesAtClose || open.receiptsAtClose ||
                 open.unpaidAtClose);

    Product bare =
        fromJSON<Product>(R"({"active":true,"category":{"bar":false,"id":"pizzas","rawValue":"Pizzas"},)"
                          R"("cents":950,"id":"8F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8","name":"Margarita"})");
    EXPECT_FALSE(bare.taxRate || bare.image);
}

TEST(JsonExamples, EnumerationsUseTheirStoredTexts) {
    Draft draft;
    draft.mode = Mode::delivery;
    std::string json = toJSON(draft);
    EXPECT_NE(json.find(R"("mode":"Domicilio")"), std::string::npos);
    EXPECT_EQ(fromJSON<Draft>(json).mode, Mode::delivery);

    Order order;
    order.preparation = Preparation::preparing;
    EXPECT_NE(toJSON(order).find(R"("preparation":"En preparación")"), std::string::npos);

    InvoiceProposal proposal;
    proposal.kind = InvoiceKind::simplifiedCorrection;
    EXPECT_NE(toJSON(proposal).find(R"("kind":"R5")"), std::string::npos);
    EXPECT_EQ(fromJSON<InvoiceProposal>(toJSON(proposal)), proposal);
}

TEST(JsonExamples, UnknownKeysAreIgnoredAndOrderDoesNotMatter) {
    Category category =
        fromJSON<Category>(R"({"rawValue":"Postres","extra":{"a":[1,2,{"b":null}]},"id":"x","bar":true})");
    EXPECT_EQ(category, (Category{"x", "Postres", true}));
}

TEST(JsonExamples, FiscalArchiveKeepsItsMapAndDefaults) {
    FiscalState state;
    state.settings.installation = "0E4C7D7A-3C61-4E0B-9F22-21B1A8E8C0DE";
    state.nextNumbers = {{"S", 4}, {"F", 12}, {"R/1", 1}};
    std::string json = toJSON(state);
    EXPECT_NE(json.find(R"("nextNumbers":{"F":12,"R\/1":1,"S":4})"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("rates":[400,1000,2100])"), std::string::npos);
    EXPECT_EQ(json.find("declaration"), std::string::npos);
    EXPECT_EQ(fromJSON<FiscalState>(json), state);

    state.settings.declaration = Bytes{'%', 'P', 'D', 'F'};
    EXPECT_EQ(fromJSON<FiscalState>(toJSON(state)), state);
}
