#include "Catalog.hpp"

namespace pizzacore {

Category Category::make(std::string name, bool bar) {
    return Category{Uuid::random().text(), std::move(name), bar};
}

Category Category::pizza() {
    return Category{"pizzas", "Pizzas", false};
}
Category Category::drink() {
    return Category{"refrescos", "Refrescos", true};
}
Category Category::side() {
    return Category{"complementos", "Complementos", false};
}
std::vector<Category> Category::initial() {
    return {pizza(), drink(), side()};
}

} // namespace pizzacore

std::size_t std::hash<pizzacore::Category>::operator()(const pizzacore::Category& category) const noexcept {
    std::size_t h = std::hash<std::string>{}(category.id);
    h = h * 31 + std::hash<std::string>{}(category.rawValue);
    return h * 31 + (category.bar ? 1 : 0);
}
