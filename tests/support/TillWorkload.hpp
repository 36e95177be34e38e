#pragma once

// A till in use, made up from a seed, for the crash and power-loss tests of the journal: typing
// into the draft, confirming it, paying orders, moving them along and closing the shift, one
// step at a time. The same starting document and seed always give the same steps, byte for byte:
// the identifiers the operations draw at random are replaced by ones made from the seed, so a test
// can make again in memory exactly what a killed process committed.

#include <PizzaCore/Journal/DocumentChange.hpp>
#include <PizzaCore/PizzaCore.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <unordered_set>

namespace pizzacore::testing {

class TillWorkload {
public:
    struct Step {
        // "transaction", or "draft" for a change of the draft alone.
        std::string kind;
        // What the step changed in the document before it.
        DocumentChange change;
        // The document after the step.
        Database after;
        // A digest of every change so far, this one included.
        std::uint64_t digest = 0;
    };

    TillWorkload(const Database& start, std::uint64_t seed);

    // The next step, made on `before`: the start for the first step, then the `after` of the
    // step before. An operation the document refuses leaves it unchanged (an empty change).
    Step next(const Database& before);

private:
    std::uint64_t draw();
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(draw() % bound); }
    // The identifier that stands for a random one the operations drew.
    std::string madeIdentifier();
    // `text` with every identifier that is new to the document replaced by one made from the seed.
    std::string replaceNewIdentifiers(const std::string& text);
    // Operations; each gives the kind of its step.
    std::string typeIntoDraft(Database& db);
    std::string confirm(Database& db);
    std::string pay(Database& db);
    std::string moveAlong(Database& db);
    std::string closeShift(Database& db);

    std::uint64_t state_;
    std::uint64_t made_ = 0;
    std::uint64_t digest_ = 0xcbf29ce484222325ULL;
    Instant clock_;
    std::unordered_set<std::string> known_;
};

} // namespace pizzacore::testing
