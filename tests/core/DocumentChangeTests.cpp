// The change between two versions of the document: what diff finds, that applying it to the
// first version gives the second exactly (whatever the core's operations or a hand edit did),
// that applying it again changes nothing, and that its JSON reads back as the same change and
// refuses what is not one.

#include "RandomOperations.hpp"

#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>
#include <support/SyntheticDocument.hpp>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace pizzacore;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::makeDocument;
using pizzacore::testing::RandomOperations;

const Instant monday13h = Instant::fromUnix(1773057600);

Database applied(Database db, const DocumentChange& change) {
    apply(db, change);
    return db;
}

// Every law of a change between `before` and `after`.
void expectFaithful(const Database& before, const Database& after, const std::string& what) {
    SCOPED_TRACE(what);
    const DocumentChange change = diff(before, after);
    EXPECT_EQ(change.empty(), before == after);
    const Database once = applied(before, change);
    ASSERT_EQ(once, after);
    EXPECT_EQ(applied(once, change), after) << "applying the change again changed the document";
    const std::string text = encodeChange(change);
    EXPECT_EQ(decodeChange(text), change);
    EXPECT_EQ(encodeChange(decodeChange(text)), text);
}

TEST(DocumentChange, AnUnchangedDocumentGivesAnEmptyChange) {
    const Database db = makeDocument(DocumentShape::small(), 1);
    const DocumentChange change = diff(db, db);
    EXPECT_TRUE(change.empty());
    EXPECT_EQ(encodeChange(change), "{}");
}

TEST(DocumentChange, AConfirmationPutsItsOrderTheDraftTheNumberAndTheAuditEntryOnly) {
    const Database before = makeDocument(DocumentShape::small(), 2);
    Database after = before;
    after.reconcile(monday13h);
    Database confirmed = after;
    Draft draft;
    for (const Product& product : confirmed.products)
        if (product.active) {
            draft.lines.push_back(Line::make(product));
            break;
        }
    const Order order = confirmed.confirm(draft, monday13h);
    const DocumentChange change = diff(after, confirmed);
    ASSERT_TRUE(change.orders);
    ASSERT_EQ(change.orders->put.size(), 1u);
    EXPECT_TRUE(change.orders->removed.empty());
    EXPECT_EQ(change.orders->put[0].at, static_cast<std::int64_t>(before.orders.size()));
    EXPECT_EQ(change.orders->put[0].record, order);
    ASSERT_TRUE(change.audit);
    EXPECT_EQ(change.audit->put.size(), 1u);
    EXPECT_TRUE(change.draft);
    EXPECT_EQ(change.nextNumber, confirmed.nextNumber);
    EXPECT_FALSE(change.customers || change.products || change.categories || change.payments ||
                 change.sessions || change.settings || change.fiscal || change.schemaVersion);
    // A few hundred bytes, whatever the history.
    EXPECT_LT(encodeChange(change).size(), 2000u);
    expectFaithful(after, confirmed, "confirmar");
}

TEST(DocumentChange, ARemovalInTheMiddleNamesItsPositionAndIdentifier) {
    const Database before = makeDocument(DocumentShape::small(), 3);
    Database after = before;
    after.customers.erase(after.customers.begin() + 5);
    const DocumentChange change = diff(before, after);
    ASSERT_TRUE(change.customers);
    ASSERT_EQ(change.customers->removed.size(), 1u);
    EXPECT_EQ(change.customers->removed[0].at, 5);
    EXPECT_EQ(change.customers->removed[0].id, before.customers[5].id);
    EXPECT_TRUE(change.customers->put.empty());
    expectFaithful(before, after, "quitar un cliente");
}

TEST(DocumentChange, AReorderingIsKeptExactlyAndALargeOneGoesWhole) {
    const Database before = makeDocument(DocumentShape::small(), 4);
    Database swapped = before;
    const Product first = swapped.products[0];
    swapped.products.replace(0, swapped.products[1]);
    swapped.products.replace(1, first);
    expectFaithful(before, swapped, "intercambiar");

    Database reversed = before;
    // Reversed as plain lists: the document's lists hand out their records read-only.
    std::vector<Category> categories(before.categories.begin(), before.categories.end());
    std::reverse(categories.begin(), categories.end());
    reversed.categories = categories;
    std::vector<Order> orders(before.orders.begin(), before.orders.end());
    std::reverse(orders.begin(), orders.end());
    reversed.orders = orders;
    const DocumentChange change = diff(before, reversed);
    ASSERT_TRUE(change.orders);
    EXPECT_TRUE(change.orders->whole);
    expectFaithful(before, reversed, "invertir");

    // An insertion at the front is a reordering too.
    Database front = before;
    Customer customer;
    customer.name = "Nueva";
    front.customers.insert(front.customers.begin(), customer);
    expectFaithful(before, front, "al principio");
}

TEST(DocumentChange, RepeatedIdentifiersAreKeptWhereTheyAre) {
    const Database before = makeDocument(DocumentShape::small(), 5);
    Database after = before;
    // Payments and audit entries are not required to have different identifiers.
    after.payments.insert(after.payments.begin() + 3, after.payments[7]);
    after.audit.push_back(after.audit[2]);
    after.audit[2].action = "cambiada";
    expectFaithful(before, after, "duplicados");
    expectFaithful(after, before, "sin duplicados");
}

TEST(DocumentChange, TheSmallValuesGoWholeAndTheArchiveCanBeTakenAway) {
    Database before = makeDocument(DocumentShape::tiny(), 6);
    Database after = before;
    after.settings.footer = "Hasta pronto";
    after.fiscal = after.fiscalState();
    after.schemaVersion = 2;
    DocumentChange change = diff(before, after);
    EXPECT_EQ(change.settings, after.settings);
    ASSERT_TRUE(change.fiscal);
    EXPECT_EQ(change.fiscal->value, after.fiscal);
    expectFaithful(before, after, "ajustes y archivo");
    expectFaithful(after, before, "sin archivo");
    change = diff(after, before);
    ASSERT_TRUE(change.fiscal);
    EXPECT_FALSE(change.fiscal->value);
    EXPECT_NE(encodeChange(change).find(R"("fiscal":{})"), std::string::npos);
}

TEST(DocumentChange, RandomOperationsAndEditsAreAlwaysReproducedExactly) {
    for (const std::uint64_t seed : {11u, 12u, 13u, 14u}) {
        Database db = makeDocument(DocumentShape::tiny(), seed);
        RandomOperations random(seed, db.sessions.back().opened);
        int made = 0;
        for (int step = 0; step < 250; ++step) {
            const Database before = db;
            const std::string what = (random.random()() % 5 == 0) ? random.edit(db) : random.operate(db);
            if (!what.ends_with("(rechazada)")) ++made;
            expectFaithful(before, db, std::to_string(seed) + "/" + std::to_string(step) + ": " + what);
            if (::testing::Test::HasFatalFailure()) return;
        }
        // Most steps change the document; the property says little otherwise.
        EXPECT_GT(made, 150);
    }
}

TEST(DocumentChange, AChangeAppliedToAnotherDocumentFindsItsRecordsByIdentifier) {
    const Database base = makeDocument(DocumentShape::small(), 8);
    Database before = base;
    before.customers.erase(before.customers.begin());
    Database after = before;
    after.customers[3].name = "Renombrada";
    after.customers.erase(after.customers.begin() + 6);
    // The positions are one off in `base`: the records are found by their identifiers.
    Database other = applied(base, diff(before, after));
    ASSERT_EQ(other.customers.size(), base.customers.size() - 1);
    EXPECT_EQ(other.customers[4].name, "Renombrada");
    EXPECT_EQ(other.customers[0], base.customers[0]);
}

TEST(DocumentChange, TextThatIsNoChangeIsRefused) {
    const std::vector<std::string> refused = {
        "",
        "[]",
        "{\"orders\":7}",
        R"({"orders":{"put":[]}})",
        R"({"orders":{"removed":[],"put":[{"at":0}]}})",
        R"({"customers":{"removed":[{"at":-1,"id":"0E4D2C3B-1A2B-4C3D-8E4F-5A6B7C8D9E0F"}],"put":[]}})",
        R"({"customers":{"removed":[{"at":1,"id":"no"}],"put":[]}})",
        R"({"nextNumber":"7"})",
        R"({"draft":{}})",
        "{\"nextNumber\":7",
    };
    for (const std::string& text : refused) {
        SCOPED_TRACE(text);
        EXPECT_THROW(decodeChange(text), JSONError);
    }
    // Unknown keys are ignored, as in the document.
    EXPECT_TRUE(decodeChange(R"({"más":1})").empty());
}

TEST(DocumentChange, PositionsOutsideTheCollectionNeverBreakApplying) {
    const Database base = makeDocument(DocumentShape::tiny(), 9);
    DocumentChange change = decodeChange(
        R"({"categories":{"removed":[{"at":99,"id":"pizzas"},{"at":0,"id":"nada"}],"put":[{"at":50,"record":{"bar":true,"id":"postres","rawValue":"Postres"}}]}})");
    Database db = base;
    apply(db, change);
    EXPECT_EQ(db.categories.back().id, "postres");
    EXPECT_EQ(std::count_if(db.categories.begin(), db.categories.end(),
                            [](const Category& c) { return c.id == "pizzas"; }),
              0);
}

TEST(DocumentChange, TextThatIsNotUtf8IsRefusedRatherThanWrittenRepaired) {
    const Database before = makeDocument(DocumentShape::tiny(), 10);
    Database after = before;
    after.draft.notes = "caf\xC3";
    try {
        encodeChange(diff(before, after));
        ADD_FAILURE() << "not refused";
    } catch (const PCError& error) {
        EXPECT_EQ(error.message(),
                  "Un texto de los datos no es UTF-8 válido y no se puede guardar sin cambiarlo. "
                  "No se ha guardado nada.");
    }
}

} // namespace
