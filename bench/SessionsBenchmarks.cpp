// The business clock and the totals of a cash session. The clock runs on every reconciliation
// (each tick of the till and each confirmation, payment and cancellation); the totals run at every
// close and on the sessions screen.

#include <PizzaCore/PizzaCore.hpp>
#include <benchmark/benchmark.h>
#include <support/SyntheticDocument.hpp>

namespace {

using pizzacore::Database;
using pizzacore::Instant;
using pizzacore::Settings;
namespace BusinessClock = pizzacore::BusinessClock;

const Instant evening = Instant::fromUnix(1773086400); // 2026-03-09 21:00 in Madrid

void BusinessClockDay(benchmark::State& state) {
    const Settings settings;
    for (auto _ : state)
        benchmark::DoNotOptimize(BusinessClock::day(evening, settings));
}
BENCHMARK(BusinessClockDay);

void BusinessClockNext(benchmark::State& state) {
    const Settings settings;
    for (auto _ : state)
        benchmark::DoNotOptimize(BusinessClock::next(evening, settings));
}
BENCHMARK(BusinessClockNext);

// A reconciliation with nothing due, as on almost every tick.
void ReconcileNothingDue(benchmark::State& state) {
    Database database;
    database.reconcile(evening);
    for (auto _ : state) {
        database.reconcile(evening);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(ReconcileNothingDue);

// The three figures a close freezes, over a year of a busy restaurant (50,000 orders).
class BusyYear : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State&) override {
        if (document.sessions.empty())
            document = pizzacore::testing::makeDocument(pizzacore::testing::DocumentShape::busyYear(), 2025);
    }

protected:
    Database document;
};

BENCHMARK_F(BusyYear, CloseTotals)(benchmark::State& state) {
    const pizzacore::Session& session = document.sessions.back();
    for (auto _ : state) {
        benchmark::DoNotOptimize(document.sales(session));
        benchmark::DoNotOptimize(document.receipts(std::nullopt, session));
        benchmark::DoNotOptimize(document.unpaid());
    }
    state.counters["orders"] = static_cast<double>(document.orders.size());
}

} // namespace
