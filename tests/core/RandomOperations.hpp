#pragma once

// Random steps on a document for property tests: the core's own operations (confirm, pay,
// prepare, cancel, the catalogue and customer cards, closing shifts, the fiscal archive, the
// draft) with random arguments, and random edits of the document that no operation makes
// (reorderings, removals, duplicates, out-of-range values). Every step works on the document it
// is given; a step that the core refuses leaves it as it was.

#include <PizzaCore/PizzaCore.hpp>

#include <cstdint>
#include <random>
#include <string>

namespace pizzacore::testing {

class RandomOperations {
public:
    explicit RandomOperations(std::uint64_t seed, Instant start);

    // One core operation; gives its name, with " (rechazada)" when the core refused it.
    std::string operate(Database& db);
    // One random edit of the document; may leave a document that validation refuses.
    std::string edit(Database& db);

    std::mt19937_64& random() { return random_; }
    Instant now() const { return now_; }

private:
    std::size_t below(std::size_t n);
    bool chance(double p);
    std::string phone();
    Draft draft(const Database& db);

    std::mt19937_64 random_;
    Instant now_;
    int counter_ = 0;
};

} // namespace pizzacore::testing
