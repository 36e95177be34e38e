// The catalogue: categories and products. Products and the lines of the draft carry a full copy
// of their category, so every change of a category rewrites those copies in the same step;
// confirmed orders keep the copy they were confirmed with, and with it their ticket destination.

#include <PizzaCore/Foundation/Folding.hpp>
#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Foundation/Text.hpp>
#include <PizzaCore/Foundation/TextCompare.hpp>
#include <PizzaCore/Models/Database.hpp>

#include <algorithm>
#include <utility>

namespace pizzacore {
namespace {

constexpr Cents maximumPrice = 99'999'999;
constexpr std::int64_t maximumTaxRate = 10'000;
constexpr std::size_t maximumImageBytes = 2'000'000;

[[noreturn]] void refuse(const char* message) {
    throw PCError::invalid(message);
}

bool listed(const RecordList<Category>& categories, const Category& category) {
    return std::find(categories.begin(), categories.end(), category) != categories.end();
}

// Gives every product and every draft line of the category `id` the category `replacement`.
// Only the products whose copy differs are written: the others stay shared with the document's
// earlier versions.
void recategorise(Database& db, const std::string& id, const Category& replacement) {
    for (std::size_t i = 0; i < db.products.size(); ++i) {
        const Category& current = std::as_const(db.products)[i].category;
        if (current.id == id && current != replacement) db.products.modify(i).category = replacement;
    }
    for (Line& line : db.draft.lines)
        if (line.category.id == id) line.category = replacement;
}

} // namespace

void Database::saveCategory(const Category& category, Instant now) {
    constexpr const char* notUnique = "Escribe un nombre de categoría único.";
    const std::string name(trimmed(category.rawValue));
    if (name.empty()) refuse(notUnique);

    // Two names collide when they differ only in letter case and accents. The stored document's
    // integrity check folds names its own way, so a name is refused when either folding makes it
    // equal to another category's: whatever is saved here also passes that check.
    const std::string folded = foldedForComparison(name);
    for (const Category& other : categories) {
        if (other.id == category.id) continue;
        if (equalIgnoringCaseAndDiacritics(other.rawValue, name) ||
            foldedForComparison(other.rawValue) == folded)
            refuse(notUnique);
    }

    const Category saved{category.id, name, category.bar};
    const auto stored = std::find_if(categories.begin(), categories.end(),
                                     [&](const Category& c) { return c.id == category.id; });
    if (stored != categories.end())
        categories.replace(stored.index(), saved);
    else
        categories.push_back(saved);
    recategorise(*this, saved.id, saved);
    record("Guardar categoría", name, now);
}

void Database::moveProducts(const Category& from, const Category& to, Instant now) {
    // A stale copy of either category (an editor opened before a rename) is refused too.
    if (from.id == to.id || !listed(categories, from) || !listed(categories, to))
        refuse("Elige otra categoría de destino.");
    recategorise(*this, from.id, to);
    record("Trasladar productos", from.rawValue + " → " + to.rawValue, now);
}

void Database::deleteCategory(const Category& category, Instant now) {
    if (categories.size() <= 1) refuse("Conserva al menos una categoría.");
    if (std::any_of(products.begin(), products.end(),
                    [&](const Product& product) { return product.category.id == category.id; }))
        refuse("Traslada primero los productos a otra categoría.");
    erase_if(categories, [&](const Category& c) { return c.id == category.id; });
    // Draft lines of the category keep their copy; confirming them is refused while no product
    // matches them.
    record("Eliminar categoría", category.rawValue, now);
}

void Database::saveProduct(const Product& product, Instant now) {
    const bool valid = (!product.taxRate || (*product.taxRate >= 0 && *product.taxRate <= maximumTaxRate)) &&
                       listed(categories, product.category) &&
                       (!product.image || product.image->size() <= maximumImageBytes) &&
                       !isBlank(product.name) && product.cents >= 0 && product.cents <= maximumPrice;
    if (!valid) refuse("Revisa nombre y precio del producto.");

    // Stored as given: the name is not trimmed here.
    const auto stored =
        std::find_if(products.begin(), products.end(), [&](const Product& p) { return p.id == product.id; });
    if (stored != products.end())
        products.replace(stored.index(), product);
    else
        products.push_back(product);
    record("Guardar producto", product.id.text(), now);
}

void Database::deleteProduct(Uuid productID, Instant now) {
    erase_if(products, [&](const Product& stored) { return stored.id == productID; });
    record("Eliminar producto", productID.text(), now);
}

} // namespace pizzacore
