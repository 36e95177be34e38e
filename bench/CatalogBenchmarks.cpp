// The customers screen searches the cards on every keystroke, and the checkout screen looks the
// caller's number up; both run customersMatching over a busy year's 5,000 cards.

#include <PizzaCore/PizzaCore.hpp>
#include <benchmark/benchmark.h>
#include <support/SyntheticDocument.hpp>

#include <string>

namespace {

using pizzacore::Database;

class BusyYearCards : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State&) override {
        if (document.customers.empty())
            document = pizzacore::testing::makeDocument(pizzacore::testing::DocumentShape::busyYear(), 2025);
    }

protected:
    // Runs one search per iteration and reports how many cards it found.
    void search(benchmark::State& state, const std::string& name, const std::string& phone,
                const std::string& address) {
        std::size_t found = 0;
        for (auto _ : state) {
            const auto cards = document.customersMatching(name, phone, address);
            found = cards.size();
            benchmark::DoNotOptimize(cards.data());
        }
        state.counters["cards"] = static_cast<double>(document.customers.size());
        state.counters["found"] = static_cast<double>(found);
    }

    Database document;
};

// The full number of a card, as the checkout screen looks it up.
BENCHMARK_F(BusyYearCards, PhoneFullNumber)(benchmark::State& state) {
    search(state, "", document.customers[2500].phone, "");
}

// The last four digits of a number.
BENCHMARK_F(BusyYearCards, PhoneLastDigits)(benchmark::State& state) {
    const std::string key = pizzacore::phoneKey(document.customers[2500].phone);
    search(state, "", key.substr(key.size() - 4), "");
}

// A first name and a surname typed without accents.
BENCHMARK_F(BusyYearCards, NameFull)(benchmark::State& state) {
    search(state, "jose garcia", "", "");
}

// A surname alone, shared by one card in eight: most of the time goes into sorting the matches.
BENCHMARK_F(BusyYearCards, NameSurname)(benchmark::State& state) {
    search(state, "garcia", "", "");
}

BENCHMARK_F(BusyYearCards, Address)(benchmark::State& state) {
    search(state, "", "", "mayor");
}

// No query: every card, sorted.
BENCHMARK_F(BusyYearCards, AllCardsSorted)(benchmark::State& state) {
    search(state, "", "", "");
}

BENCHMARK_F(BusyYearCards, UsualPayment)(benchmark::State& state) {
    const pizzacore::Customer& customer = document.customers[2500];
    for (auto _ : state)
        benchmark::DoNotOptimize(document.usualPaymentFor(customer));
}

} // namespace
