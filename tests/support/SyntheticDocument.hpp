#pragma once

// Whole documents made up for tests and benchmarks: a restaurant's catalogue, customer cards,
// business days with their orders, payments and audit trail, and sometimes a fiscal archive.
// Every document satisfies the integrity rules a stored document must pass, and the same shape
// and seed always give the same document, byte for byte.

#include <PizzaCore/PizzaCore.hpp>

#include <cstddef>
#include <cstdint>

namespace pizzacore::testing {

struct DocumentShape {
    std::size_t orders = 0;
    // Lines of every order (1…1000).
    std::size_t linesPerOrder = 1;
    std::size_t customers = 0;
    std::size_t products = 1;
    // Size of each product image; 0 for a catalogue without images.
    std::size_t imageBytes = 0;
    // Cash sessions, one business day each; every one is closed except the last.
    std::size_t sessions = 1;
    // Share of the orders that are not cancelled which have a payment.
    double paidShare = 0.9;
    // Names, notes and addresses mix in accents, quotes, backslashes, slashes, emoji, line
    // separators and control characters.
    bool awkwardText = false;

    // A handful of each record, no images.
    static DocumentShape tiny();
    // A few days of a small restaurant, with small images.
    static DocumentShape small();
    static DocumentShape medium();
    // A year of a busy restaurant: 50,000 orders over 400 business days and 200 products with
    // 150 KB photos each.
    static DocumentShape busyYear();
};

Database makeDocument(const DocumentShape& shape, std::uint64_t seed);

} // namespace pizzacore::testing
