// Documents that must not be read: each refusal is a JSONError whose Spanish text says what was
// wrong and where. Nothing here may crash.

#include <PizzaCore/PizzaCore.hpp>

#include <gtest/gtest.h>

#include <string>

using namespace pizzacore;

namespace {

// A small but complete document with one order, as written by the system.
std::string sampleDocument() {
    Database db;
    Session session;
    session.businessDay = "2026-03-09";
    db.sessions.push_back(session);
    Product product;
    product.name = "Margarita";
    product.cents = 950;
    product.taxRate = 1000;
    db.products.push_back(product);
    Order order;
    order.number = 1;
    order.sessionID = session.id;
    order.draft.mode = Mode::delivery;
    order.draft.lines.push_back(Line::make(product));
    db.orders.push_back(order);
    db.nextNumber = 2;
    return toJSON(db);
}

void replaceOnce(std::string& text, std::string_view from, std::string_view to) {
    auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

// Reads the document and returns the error it raised (empty when it was read).
std::string refusal(const std::string& json) {
    try {
        (void)fromJSON<Database>(json);
    } catch (const JSONError& error) {
        return error.what();
    }
    return {};
}

} // namespace

TEST(JsonRefusal, MissingRequiredKeyNamesItsPath) {
    std::string json = sampleDocument();
    replaceOnce(json, R"(,"printAttempts":0)", "");
    EXPECT_EQ(refusal(json),
              "No se pudo leer el documento en «orders[0].printAttempts»: falta este campo obligatorio.");

    json = sampleDocument();
    replaceOnce(json, R"("nextNumber":2,)", "");
    EXPECT_EQ(refusal(json), "No se pudo leer el documento en «nextNumber»: falta este campo obligatorio.");
}

TEST(JsonRefusal, WrongTypesAreRefused) {
    struct Case {
        std::string_view from, to, message;
    };
    const Case cases[] = {
        {R"("nextNumber":2)", R"("nextNumber":"2")",
         "No se pudo leer el documento en «nextNumber»: se esperaba un número entero."},
        {R"("nextNumber":2)", R"("nextNumber":2.5)",
         "No se pudo leer el documento en «nextNumber»: se esperaba un número entero."},
        {R"("nextNumber":2)", R"("nextNumber":2.0)",
         "No se pudo leer el documento en «nextNumber»: se esperaba un número entero."},
        {R"("nextNumber":2)", R"("nextNumber":9223372036854775808)",
         "No se pudo leer el documento en «nextNumber»: se esperaba un número entero."},
        {R"("nextNumber":2)", R"("nextNumber":null)",
         "No se pudo leer el documento en «nextNumber»: se esperaba un número entero."},
        {R"("cents":950,"id")", R"("cents":"9,50","id")",
         "No se pudo leer el documento en «orders[0].draft.lines[0].cents»: se esperaba un número entero."},
        {R"("kitchen":true)", R"("kitchen":1)",
         "No se pudo leer el documento en «settings.kitchen»: se esperaba true o false."},
        {R"("customers":[])", R"("customers":{})",
         "No se pudo leer el documento en «customers»: se esperaba una lista."},
        {R"("business":"Mi restaurante")", R"("business":["Mi restaurante"])",
         "No se pudo leer el documento en «settings.business»: se esperaba un texto."},
        {R"("taxRate":1000})", R"("taxRate":"10"})",
         "No se pudo leer el documento en «orders[0].draft.lines[0].taxRate»: se esperaba un número entero."},
    };
    for (const Case& c : cases) {
        std::string json = sampleDocument();
        replaceOnce(json, c.from, c.to);
        EXPECT_EQ(refusal(json), c.message) << c.to;
    }
}

TEST(JsonRefusal, UnknownEnumerationTextsAreRefusedExactly) {
    std::string json = sampleDocument();
    replaceOnce(json, R"("mode":"Domicilio")", R"("mode":"domicilio")");
    EXPECT_EQ(refusal(json),
              "No se pudo leer el documento en «orders[0].draft.mode»: «domicilio» no es un valor admitido.");

    json = sampleDocument();
    replaceOnce(json, R"("preparation":"En preparación")", R"("preparation":"En preparacion")");
    EXPECT_NE(refusal(json).find("«orders[0].preparation»"), std::string::npos);

    json = sampleDocument();
    replaceOnce(json, R"("paper":"A4")", R"("paper":"a4")");
    EXPECT_NE(refusal(json).find("«settings.paper»: «a4» no es un valor admitido"), std::string::npos);
}

TEST(JsonRefusal, MalformedIdentifiersAndBase64AreRefused) {
    std::string json = sampleDocument();
    auto at = json.find(R"("sessions":[{)");
    auto idAt = json.find(R"("id":")", at) + 6;
    std::string broken = json;
    broken.replace(idAt, 36, "not-a-uuid");
    EXPECT_NE(refusal(broken).find("«sessions[0].id»: «not-a-uuid» no es un identificador válido"),
              std::string::npos);
    broken = json;
    broken[idAt + 8] = '_'; // a dash that is not a dash
    EXPECT_NE(refusal(broken).find("sessions[0].id"), std::string::npos);
    broken = json;
    broken[idAt + 3] = 'G';
    EXPECT_NE(refusal(broken).find("sessions[0].id"), std::string::npos);

    json = sampleDocument();
    replaceOnce(json, R"("printer":"")", R"("printer":"","logo":"AAA")");
    EXPECT_EQ(refusal(json),
              "No se pudo leer el documento en «settings.logo»: el contenido binario no es Base64 válido.");
}

TEST(JsonRefusal, TextThatIsNotAJsonObjectIsRefused) {
    EXPECT_EQ(refusal(""), "No se pudo leer el documento: el texto está vacío.");
    EXPECT_EQ(refusal("[]"), "No se pudo leer el documento: se esperaba un objeto.");
    EXPECT_EQ(refusal("{\"a\":"),
              "No se pudo leer el documento: no es JSON válido; está dañado o incompleto.");
    EXPECT_EQ(refusal("{\"a\":\"\xff\"}"), "No se pudo leer el documento: contiene texto UTF-8 no válido.");
    EXPECT_EQ(refusal(std::string(5000, '[') + std::string(5000, ']')),
              "No se pudo leer el documento: tiene demasiados niveles anidados.");
}

TEST(JsonRefusal, DamagedDocumentsNeverCrash) {
    const std::string json = sampleDocument();
    std::size_t read = 0;
    for (std::size_t cut = 0; cut < json.size(); cut += 3) {
        std::string damaged = json.substr(0, cut);
        EXPECT_NE(refusal(damaged), "") << cut;
        damaged = json;
        damaged[cut] = static_cast<char>(damaged[cut] ^ 0x5A);
        try {
            (void)fromJSON<Database>(damaged);
            ++read;
        } catch (const JSONError&) {
        }
    }
    // A few flips land in free text and still read; most must be refused.
    EXPECT_LT(read, json.size() / 6);
}
