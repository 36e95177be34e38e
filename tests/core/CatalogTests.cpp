// Categories and products: refusals leave the whole document as it was, and every change keeps the
// category copies of products and draft lines in step while confirmed orders keep theirs.

#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>
#include <support/SyntheticDocument.hpp>

#include <functional>
#include <string>
#include <vector>

namespace pizzacore {
namespace {

const Instant noon = Instant::fromUnix(1773054000);
const Instant later = Instant{noon.seconds + 60};

const std::string notUnique = "Escribe un nombre de categoría único.";
const std::string otherDestination = "Elige otra categoría de destino.";
const std::string keepOne = "Conserva al menos una categoría.";
const std::string moveFirst = "Traslada primero los productos a otra categoría.";
const std::string checkProduct = "Revisa nombre y precio del producto.";

Product product(std::string name, const Category& category, Cents cents = 1000, bool active = true) {
    Product result;
    result.name = std::move(name);
    result.category = category;
    result.cents = cents;
    result.active = active;
    return result;
}

// The three initial categories with two pizzas and two drinks (one inactive), a draft holding a
// pizza and a drink, and a confirmed order with a drink in an open session.
Database catalogue() {
    Database db;
    db.products = {product("Margarita", Category::pizza(), 850), product("Cola", Category::drink(), 200),
                   product("Barbacoa", Category::pizza(), 1150),
                   product("Tónica", Category::drink(), 220, false)};
    db.draft.lines = {Line::make(db.products[0]), Line::make(db.products[1])};
    db.reconcile(noon);
    Order order;
    order.number = 1;
    order.created = noon;
    order.sessionID = db.sessions.back().id;
    order.draft.lines = {Line::make(db.products[1])};
    db.orders.push_back(order);
    db.nextNumber = 2;
    db.audit.clear();
    return db;
}

// Runs the operation expecting the refusal `message`, and checks the document did not change.
void expectRefused(Database db, const std::function<void(Database&)>& operation, const std::string& message) {
    const Database before = db;
    try {
        operation(db);
        ADD_FAILURE() << "accepted; expected \"" << message << "\"";
    } catch (const PCError& error) {
        EXPECT_EQ(error.message(), message);
    }
    EXPECT_TRUE(db == before) << "a refusal changed the document";
}

void expectValid(const Database& db) {
    EXPECT_NO_THROW(Repository::validate(db));
}

void expectLastAudit(const Database& db, const std::string& action, const std::string& reference,
                     Instant at) {
    ASSERT_FALSE(db.audit.empty());
    EXPECT_EQ(db.audit.back().action, action);
    EXPECT_EQ(db.audit.back().reference, reference);
    EXPECT_EQ(db.audit.back().date, at);
}

// Saving a category.

TEST(SaveCategory, RefusesBlankAndCollidingNames) {
    Database db = catalogue();
    db.saveCategory(Category{"postres", "Postres", false}, noon);
    const std::vector<std::string> names = {
        "",
        "   ",
        "\t\u2028\u00A0",
        "postres",
        "Póstres",
        " POSTRES\n",
        "Po\u0301stres" /* decomposed accent */,
        "pizzas",
        "REFRESCOS",
        "Complementós",
        "\u3000Pizzas\u2029",
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        expectRefused(
            db, [&](Database& d) { d.saveCategory(Category::make(name, false), later); }, notUnique);
    }
    // The same holds for an edited category taking another one's name.
    expectRefused(
        db,
        [](Database& d) {
            d.saveCategory(Category{"refrescos", "pizzas", true}, later);
        },
        notUnique);
}

TEST(SaveCategory, NewNameIsTrimmedAndAppended) {
    Database db = catalogue();
    const Category postres = Category::make(" \u00A0Postres caseros \n", false);
    db.saveCategory(postres, noon);
    ASSERT_EQ(db.categories.size(), 4u);
    EXPECT_EQ(db.categories.back(), (Category{postres.id, "Postres caseros", false}));
    ASSERT_EQ(db.audit.size(), 1u);
    expectLastAudit(db, "Guardar categoría", "Postres caseros", noon);
    expectValid(db);

    // Names that only contain another name, or differ by more than accents, are not collisions.
    for (const char* name : {"Postres", "Pizzas especiales", "Refresco"}) {
        db.saveCategory(Category::make(name, false), later);
        expectValid(db);
    }
    EXPECT_EQ(db.categories.size(), 7u);
}

TEST(SaveCategory, OwnNameInAnotherCaseIsNotACollision) {
    Database db = catalogue();
    db.saveCategory(Category{"pizzas", "PIZZAS", false}, noon);
    EXPECT_EQ(db.categories[0], (Category{"pizzas", "PIZZAS", false}));
    EXPECT_EQ(db.products[0].category.rawValue, "PIZZAS");
    expectValid(db);
}

TEST(SaveCategory, RenameRewritesProductsAndDraftButNotOrders) {
    Database db = catalogue();
    const Category bebidas{"refrescos", "Bebidas", false};
    db.saveCategory(bebidas, noon);

    EXPECT_EQ(db.categories, (std::vector<Category>{Category::pizza(), bebidas, Category::side()}));
    for (const Product& p : db.products)
        EXPECT_EQ(p.category, p.name == "Cola" || p.name == "Tónica" ? bebidas : Category::pizza()) << p.name;
    EXPECT_EQ(db.draft.lines[0].category, Category::pizza());
    EXPECT_EQ(db.draft.lines[1].category, bebidas);
    // The confirmed order keeps its name and its bar destination.
    EXPECT_EQ(db.orders[0].draft.lines[0].category, Category::drink());
    expectValid(db);
}

TEST(SaveCategory, IsAtLeastAsStrictAsTheStoredDocumentCheck) {
    // Whatever saving accepts must pass the integrity check, names with letters outside Spanish
    // included; whatever the check would refuse must be refused by saving.
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"Ñandú", "nandu"},     {"Straße", "STRASSE"},    {"Œufs", "œufs"},
        {"ǅemal", "džemal"},    {"İskender", "iskender"}, {"Ærø", "ærø"},
        {"Café", "Cafe\u0301"}, {"ﬁdeos", "FIDEOS"},      {"Øl", "Ol"},
        {"Łódź", "Lodz"},
    };
    for (const auto& [first, second] : pairs) {
        SCOPED_TRACE(first + " / " + second);
        Database db;
        db.saveCategory(Category::make(first, false), noon);
        const bool collides = foldedForComparison(first) == foldedForComparison(second);
        Database attempt = db;
        try {
            attempt.saveCategory(Category::make(second, false), later);
            EXPECT_FALSE(collides);
            expectValid(attempt);
        } catch (const PCError& error) {
            EXPECT_EQ(error.message(), notUnique);
        }
    }
}

// Moving products.

TEST(MoveProducts, RefusesSameOrStaleCategories) {
    const Database db = catalogue();
    const Category staleDrink{"refrescos", "Refrescos viejos", true};
    const Category flippedDrink{"refrescos", "Refrescos", false};
    const Category unknown = Category::make("Postres", false);
    const std::vector<std::pair<Category, Category>> moves = {
        {Category::drink(), Category::drink()},
        {Category::drink(), flippedDrink},
        {staleDrink, Category::side()},
        {Category::side(), staleDrink},
        {unknown, Category::side()},
        {Category::side(), unknown},
    };
    for (const auto& move : moves) {
        SCOPED_TRACE(move.first.rawValue + " → " + move.second.rawValue);
        expectRefused(
            db, [&](Database& d) { d.moveProducts(move.first, move.second, later); }, otherDestination);
    }
}

TEST(MoveProducts, MovesActiveAndInactiveProductsAndDraftLines) {
    Database db = catalogue();
    db.moveProducts(Category::drink(), Category::side(), noon);
    for (const Product& p : db.products)
        EXPECT_NE(p.category, Category::drink()) << p.name;
    EXPECT_EQ(db.products[3].category, Category::side());
    EXPECT_EQ(db.draft.lines[1].category, Category::side());
    EXPECT_EQ(db.draft.lines[0].category, Category::pizza());
    EXPECT_EQ(db.orders[0].draft.lines[0].category, Category::drink());
    expectLastAudit(db, "Trasladar productos", "Refrescos → Complementos", noon);
    expectValid(db);
}

TEST(MoveProducts, FromAnEmptyCategoryOnlyRecords) {
    Database db = catalogue();
    Database expected = db;
    db.moveProducts(Category::side(), Category::pizza(), noon);
    ASSERT_EQ(db.audit.size(), 1u);
    expectLastAudit(db, "Trasladar productos", "Complementos → Pizzas", noon);
    expected.audit = db.audit;
    EXPECT_TRUE(db == expected);
}

// Deleting a category.

TEST(DeleteCategory, Refusals) {
    Database only;
    only.categories = {Category::side()};
    expectRefused(
        only, [](Database& d) { d.deleteCategory(Category::side(), noon); }, keepOne);
    // The count comes first, even when products would also stop it.
    Database onlyWithProducts = catalogue();
    onlyWithProducts.categories = {Category::pizza()};
    onlyWithProducts.products.erase(onlyWithProducts.products.begin() + 1, onlyWithProducts.products.end());
    expectRefused(
        onlyWithProducts, [](Database& d) { d.deleteCategory(Category::pizza(), noon); }, keepOne);
    Database none;
    none.categories.clear();
    expectRefused(
        none, [](Database& d) { d.deleteCategory(Category::pizza(), noon); }, keepOne);

    // Only an inactive product is left in the drinks; a renamed copy still names the category.
    Database inactive = catalogue();
    inactive.products.erase(inactive.products.begin() + 1);
    expectRefused(
        inactive, [](Database& d) { d.deleteCategory(Category::drink(), noon); }, moveFirst);
    expectRefused(
        inactive,
        [](Database& d) {
            d.deleteCategory(Category{"refrescos", "Otro", false}, noon);
        },
        moveFirst);
}

TEST(DeleteCategory, RemovesItAndKeepsTheOthersInOrder) {
    Database db = catalogue();
    db.moveProducts(Category::drink(), Category::side(), noon);
    // A draft line still carrying the category keeps its copy.
    Line stray = Line::make(product("Agua", Category::drink()));
    db.draft.lines.push_back(stray);
    db.deleteCategory(Category::drink(), later);
    EXPECT_EQ(db.categories, (std::vector<Category>{Category::pizza(), Category::side()}));
    EXPECT_EQ(db.draft.lines.back(), stray);
    expectLastAudit(db, "Eliminar categoría", "Refrescos", later);
    expectValid(db);
}

// Saving a product.

TEST(SaveProduct, RefusesEachBrokenRule) {
    const Database db = catalogue();
    const Product good = product("Calzone", Category::pizza(), 1200);
    const std::vector<std::pair<const char*, std::function<void(Product&)>>> breaks = {
        {"tax rate above 100 %", [](Product& p) { p.taxRate = 10001; }},
        {"negative tax rate", [](Product& p) { p.taxRate = -1; }},
        {"unknown category", [](Product& p) { p.category = Category::make("Postres", false); }},
        {"stale category name", [](Product& p) { p.category.rawValue = "Pizza"; }},
        {"stale category destination", [](Product& p) { p.category.bar = true; }},
        {"image too large", [](Product& p) { p.image = Bytes(2'000'001, 0xFF); }},
        {"empty name", [](Product& p) { p.name.clear(); }},
        {"blank name", [](Product& p) { p.name = " \n\u2028 "; }},
        {"negative price", [](Product& p) { p.cents = -1; }},
        {"price above the ceiling", [](Product& p) { p.cents = 100'000'000; }},
    };
    for (const auto& [what, change] : breaks) {
        SCOPED_TRACE(what);
        Product broken = good;
        change(broken);
        expectRefused(
            db, [&](Database& d) { d.saveProduct(broken, later); }, checkProduct);
    }
}

TEST(SaveProduct, AcceptsTheLimits) {
    const std::vector<std::pair<const char*, std::function<void(Product&)>>> limits = {
        {"tax rate 100 %", [](Product& p) { p.taxRate = 10000; }},
        {"tax rate 0", [](Product& p) { p.taxRate = 0; }},
        {"image of 2,000,000 bytes", [](Product& p) { p.image = Bytes(2'000'000, 0xFF); }},
        {"price 0", [](Product& p) { p.cents = 0; }},
        {"price at the ceiling", [](Product& p) { p.cents = 99'999'999; }},
        {"inactive", [](Product& p) { p.active = false; }},
    };
    for (const auto& [what, change] : limits) {
        SCOPED_TRACE(what);
        Database db = catalogue();
        Product p = product("Calzone", Category::pizza());
        change(p);
        db.saveProduct(p, noon);
        EXPECT_EQ(db.products.back(), p);
        expectValid(db);
    }
}

TEST(SaveProduct, ReplacesInPlaceOrAppendsAsGiven) {
    Database db = catalogue();
    const std::vector<Line> draftLines = db.draft.lines;
    Product margarita = db.products[0];
    margarita.name = "  Margarita grande ";
    margarita.cents = 990;
    margarita.category = Category::side();
    db.saveProduct(margarita, noon);
    db.saveProduct(margarita, later);
    ASSERT_EQ(db.products.size(), 4u);
    EXPECT_EQ(db.products[0], margarita); // untrimmed, in its place
    // Lines made from the product keep what they copied.
    EXPECT_EQ(db.draft.lines, draftLines);
    ASSERT_EQ(db.audit.size(), 2u);
    EXPECT_EQ(db.audit[0].reference, margarita.id.text());
    EXPECT_EQ(db.audit[1].reference, margarita.id.text());
    EXPECT_LT(db.audit[0].date, db.audit[1].date);

    const Product calzone = product("Calzone", Category::pizza());
    db.saveProduct(calzone, later);
    ASSERT_EQ(db.products.size(), 5u);
    EXPECT_EQ(db.products.back(), calzone);
    expectLastAudit(db, "Guardar producto", calzone.id.text(), later);
    expectValid(db);
}

// Removing a product.

TEST(DeleteProduct, RemovesEveryEntryWithItsIdAndKeepsTheCopiesInLinesAndOrders) {
    Database db = catalogue();
    const Product margarita = db.products[0];
    // A hand-edited document may list the same product twice.
    db.products.push_back(margarita);
    const Database before = db;
    db.deleteProduct(margarita.id, later);
    ASSERT_EQ(db.products.size(), 3u);
    EXPECT_EQ(db.products[0], before.products[1]);
    EXPECT_EQ(db.products[1], before.products[2]);
    EXPECT_EQ(db.products[2], before.products[3]);
    // Lines copied from it stay as they were: the draft still shows it, the order keeps it.
    EXPECT_EQ(db.draft, before.draft);
    EXPECT_EQ(db.orders, before.orders);
    EXPECT_EQ(db.categories, before.categories);
    ASSERT_EQ(db.audit.size(), 1u);
    expectLastAudit(db, "Eliminar producto", margarita.id.text(), later);
    EXPECT_EQ(db.audit.back().reference, margarita.id.text());
    expectValid(db);
}

TEST(DeleteProduct, AnUnknownIdChangesNoProductAndIsStillRecorded) {
    Database db = catalogue();
    const Database before = db;
    const Uuid gone = Uuid::random();
    db.deleteProduct(gone, later);
    EXPECT_EQ(db.products, before.products);
    ASSERT_EQ(db.audit.size(), 1u);
    expectLastAudit(db, "Eliminar producto", gone.text(), later);
}

// A generated restaurant's catalogue stays valid through a series of changes.
TEST(Catalogue, GeneratedDocumentStaysValid) {
    Database db = testing::makeDocument(testing::DocumentShape::small(), 7);
    expectValid(db);
    const Category first = db.categories.front();
    Category renamed = first;
    renamed.rawValue = first.rawValue + " de la casa";
    renamed.bar = !first.bar;
    db.saveCategory(renamed, noon);
    expectValid(db);
    const Category extra = Category::make("Temporada", false);
    db.saveCategory(extra, noon);
    db.moveProducts(renamed, extra, noon);
    expectValid(db);
    db.deleteCategory(renamed, noon);
    expectValid(db);
    for (const Product& p : db.products)
        EXPECT_NE(p.category.id, renamed.id);
}

} // namespace
} // namespace pizzacore
