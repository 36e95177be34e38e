#pragma once

#include <PizzaCore/Foundation/Instant.hpp>

#include <functional>
#include <memory>
#include <stdexcept>
#include <utility>

namespace pizzacore {

// Where "the current time" comes from. Core operations take their instant as an argument; the one
// owner of a Clock (the application's controller) reads it and passes the instant on, so that a
// test can decide every instant and nothing reads the system clock behind its back.
class Clock {
public:
    // A clock that asks `source` on every reading. `source` must not be empty.
    explicit Clock(std::function<Instant()> source)
        : source_(std::move(source)) {
        if (!source_) throw std::invalid_argument("Clock needs a source of instants");
    }

    // The computer's clock.
    static Clock system() {
        return Clock([] { return Instant::now(); });
    }

    // Always the same instant.
    static Clock fixed(Instant instant) {
        return Clock([instant] { return instant; });
    }

    // Reads `*current` on every reading, so whoever holds the pointer can set or advance the
    // time. `current` must not be null.
    static Clock manual(std::shared_ptr<const Instant> current) {
        if (!current) throw std::invalid_argument("A manual clock needs an instant to read");
        return Clock([current = std::move(current)] { return *current; });
    }

    Instant now() const { return source_(); }

private:
    std::function<Instant()> source_;
};

} // namespace pizzacore
