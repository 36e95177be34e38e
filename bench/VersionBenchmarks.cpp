// Versions of a year of a busy restaurant (50,000 orders, 5,000 cards, 200 products with photos):
// what a transaction pays before its own operation runs. The controller copies the published
// document, changes the copy and publishes it, so the cost of that copy, and the memory two
// versions that differ by one order take, come with every change the operator makes.
//
// - CopyBusyYear: one copy of the document, released again.
// - CopyThenConfirmBusyYear: a copy with one order confirmed in it, released again; the original
//   stays as it was, so every iteration does the same work.
// - TransactionsBusyYear: copy, confirm, then replace the original with the copy, as the
//   controller publishes a transaction; the document grows by one order per iteration.
// - TwoVersionsBusyYear: resident memory of a process holding the loaded busy year, then that
//   document and a copy with one more order (PeakMemory versions, in a process of its own).

#include <PizzaCore/Persistence/Repository.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <benchmark/benchmark.h>
#include <support/SyntheticDocument.hpp>
#include <support/TestFiles.hpp>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using pizzacore::Database;
using pizzacore::Draft;
using pizzacore::Instant;
using pizzacore::Line;
using pizzacore::Product;

const Database& busyYear() {
    static const Database document =
        pizzacore::testing::makeDocument(pizzacore::testing::DocumentShape::busyYear(), 2025);
    return document;
}

// Inside the open shift, well before its end: no reconciliation is due.
Instant insideLastShift(const Database& document) {
    const Instant now{document.sessions.back().opened.seconds + 600};
    if (now >= document.sessions.back().scheduledEnd) throw std::logic_error("the last shift is too short");
    return now;
}

// A three-line draft of active products, with a fresh id each time.
Draft threeLineDraft(const Database& document, std::size_t variant) {
    std::vector<const Product*> active;
    for (const Product& product : document.products)
        if (product.active) active.push_back(&product);
    if (active.empty()) throw std::logic_error("no active products");
    Draft draft;
    for (std::size_t k = 0; k < 3; ++k) {
        Line line = Line::make(*active[(variant * 7 + k * 13) % active.size()]);
        line.quantity = static_cast<std::int64_t>(k + 1);
        draft.lines.push_back(line);
    }
    return draft;
}

void CopyBusyYear(benchmark::State& state) {
    const Database& document = busyYear();
    for (auto _ : state) {
        Database copy = document;
        benchmark::DoNotOptimize(copy);
        benchmark::ClobberMemory();
    }
    state.counters["orders"] = static_cast<double>(document.orders.size());
}
BENCHMARK(CopyBusyYear)->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(5)->ReportAggregatesOnly(true);

void CopyThenConfirmBusyYear(benchmark::State& state) {
    const Database& document = busyYear();
    const Instant now = insideLastShift(document);
    const Draft draft = threeLineDraft(document, 0);
    for (auto _ : state) {
        Database copy = document;
        benchmark::DoNotOptimize(copy.confirm(draft, now));
        benchmark::ClobberMemory();
    }
    if (document.orders.size() != busyYear().orders.size()) state.SkipWithError("the original changed");
}
BENCHMARK(CopyThenConfirmBusyYear)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void TransactionsBusyYear(benchmark::State& state) {
    Database published = busyYear();
    const Instant now = insideLastShift(published);
    std::vector<Draft> drafts;
    for (std::int64_t i = 0; i < state.max_iterations; ++i)
        drafts.push_back(threeLineDraft(published, static_cast<std::size_t>(i)));
    std::size_t next = 0;
    for (auto _ : state) {
        Database changed = published;
        changed.confirm(drafts[next++], now);
        published = std::move(changed);
        benchmark::ClobberMemory();
    }
    if (published.orders.size() != busyYear().orders.size() + next)
        state.SkipWithError("an order was not confirmed");
}
BENCHMARK(TransactionsBusyYear)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

struct VersionFigures {
    double json = 0;
    double one = 0;
    double two = 0;
    bool measured = false;
};

VersionFigures measureVersions(const std::filesystem::path& directory) {
    VersionFigures figures;
    const std::string line = std::string("'") + VELMORA_PEAK_MEMORY + "' versions '" + directory.string() + "'";
    FILE* output = ::popen(line.c_str(), "r");
    if (!output) return figures;
    const int read = std::fscanf(output, "%lf %lf %lf", &figures.json, &figures.one, &figures.two);
    figures.measured = ::pclose(output) == 0 && read == 3;
    return figures;
}

void TwoVersionsBusyYear(benchmark::State& state) {
    const pizzacore::testing::TemporaryDirectory directory("velmora-bench");
    pizzacore::Repository(directory.path(), true).save(busyYear());
    VersionFigures figures;
    for (auto _ : state)
        figures = measureVersions(directory.path());
    if (!figures.measured) {
        state.SkipWithError("PeakMemory failed");
        return;
    }
    state.counters["json_MB"] = figures.json / 1e6;
    state.counters["one_version_MB"] = figures.one / 1e6;
    state.counters["two_versions_MB"] = figures.two / 1e6;
    state.counters["second_version_MB"] = (figures.two - figures.one) / 1e6;
}
BENCHMARK(TwoVersionsBusyYear)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
