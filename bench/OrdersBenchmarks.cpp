// Confirming and paying orders in a year of a busy restaurant (50,000 orders, 5,000 cards, 200
// products): the two operations of every sale. Each iteration works on the same document, which
// grows as it goes: a confirmation adds a new, distinct order; a payment pays a different unpaid
// order. Drafts and the list of unpaid orders are prepared before the timed loop, and the document
// is copied from the generated one in SetUp, so no copy of it is timed.

#include <PizzaCore/PizzaCore.hpp>
#include <benchmark/benchmark.h>
#include <support/SyntheticDocument.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <unordered_set>
#include <vector>

namespace {

using pizzacore::Database;
using pizzacore::Draft;
using pizzacore::Instant;
using pizzacore::Line;
using pizzacore::Order;
using pizzacore::Payment;
using pizzacore::PaymentMethod;
using pizzacore::Product;
using pizzacore::Uuid;

constexpr std::int64_t operations = 2'000;

class BusyYearOrders : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State&) override {
        if (generated.sessions.empty())
            generated = pizzacore::testing::makeDocument(pizzacore::testing::DocumentShape::busyYear(), 2025);
        document = generated;
        // Inside the open shift, well before its end: no reconciliation is due.
        now = Instant{document.sessions.back().opened.seconds + 600};
        if (now >= document.sessions.back().scheduledEnd)
            throw std::logic_error("the last shift is too short");
    }
    void TearDown(const benchmark::State&) override { document = Database(); }

protected:
    Database generated;
    Database document;
    Instant now;
};

// Distinct drafts of three lines of active products, as the till would pass them.
std::vector<Draft> drafts(const Database& document, std::size_t count) {
    std::vector<const Product*> active;
    for (const Product& product : document.products)
        if (product.active) active.push_back(&product);
    if (active.empty()) throw std::logic_error("no active products");
    std::vector<Draft> result(count);
    for (std::size_t i = 0; i < count; ++i)
        for (std::size_t k = 0; k < 3; ++k) {
            Line line = Line::make(*active[(i * 7 + k * 13) % active.size()]);
            line.quantity = static_cast<std::int64_t>(k + 1);
            result[i].lines.push_back(line);
        }
    return result;
}

BENCHMARK_DEFINE_F(BusyYearOrders, Confirm)(benchmark::State& state) {
    const std::vector<Draft> pending = drafts(document, static_cast<std::size_t>(state.max_iterations));
    std::size_t next = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(document.confirm(pending[next++], now));
    if (document.orders.size() != generated.orders.size() + next)
        state.SkipWithError("an order was not confirmed");
    state.counters["orders"] = static_cast<double>(generated.orders.size());
}
BENCHMARK_REGISTER_F(BusyYearOrders, Confirm)->Iterations(operations)->Unit(benchmark::kMicrosecond);

// Cash with change, on unpaid orders spread over the whole year.
BENCHMARK_DEFINE_F(BusyYearOrders, Pay)(benchmark::State& state) {
    std::unordered_set<Uuid> paid;
    for (const Payment& payment : document.payments)
        paid.insert(payment.orderID);
    std::vector<const Order*> unpaid;
    for (const Order& order : document.orders)
        if (order.preparation != pizzacore::Preparation::cancelled && !paid.contains(order.id))
            unpaid.push_back(&order);
    const auto count = static_cast<std::size_t>(state.max_iterations);
    if (unpaid.size() < count) {
        state.SkipWithError("not enough unpaid orders");
        return;
    }
    std::vector<std::pair<Uuid, pizzacore::Cents>> pending;
    for (std::size_t i = 0; i < count; ++i) {
        const Order& order = *unpaid[i * unpaid.size() / count];
        pending.emplace_back(order.id, order.total() + 550);
    }

    std::size_t next = 0;
    for (auto _ : state) {
        const auto& [id, received] = pending[next++];
        document.pay(id, PaymentMethod::cash, received, now);
    }
    if (document.payments.size() != generated.payments.size() + next)
        state.SkipWithError("an order was not paid");
    state.counters["orders"] = static_cast<double>(generated.orders.size());
}
BENCHMARK_REGISTER_F(BusyYearOrders, Pay)->Iterations(operations)->Unit(benchmark::kMicrosecond);

} // namespace
