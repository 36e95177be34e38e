// Writing and reading whole documents: a year of a busy restaurant (photos included) and a
// small one. The figures are bytes of document per second.

#include <PizzaCore/PizzaCore.hpp>
#include <benchmark/benchmark.h>
#include <support/SyntheticDocument.hpp>

#include <cstdint>
#include <string>

namespace {

using pizzacore::Database;
using pizzacore::fromJSON;
using pizzacore::toJSON;
using pizzacore::testing::DocumentShape;

constexpr std::uint64_t seed = 2025;

// The document and its JSON, made once per fixture and kept between runs.
class DocumentFixture : public benchmark::Fixture {
public:
    explicit DocumentFixture(DocumentShape shape)
        : shape_(shape) {}

    void SetUp(const benchmark::State&) override {
        if (!json.empty()) return;
        document = pizzacore::testing::makeDocument(shape_, seed);
        json = toJSON(document);
    }

protected:
    void report(benchmark::State& state) const {
        state.SetBytesProcessed(static_cast<std::int64_t>(json.size()) * state.iterations());
        state.counters["document_MB"] = static_cast<double>(json.size()) / 1e6;
    }

    Database document;
    std::string json;

private:
    DocumentShape shape_;
};

class BusyYear : public DocumentFixture {
public:
    BusyYear()
        : DocumentFixture(DocumentShape::busyYear()) {}
};

class Small : public DocumentFixture {
public:
    Small()
        : DocumentFixture(DocumentShape::small()) {}
};

BENCHMARK_DEFINE_F(BusyYear, Write)(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(toJSON<Database>(document));
    report(state);
}

BENCHMARK_DEFINE_F(BusyYear, Read)(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(fromJSON<Database>(json));
    report(state);
}

BENCHMARK_DEFINE_F(Small, Write)(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(toJSON<Database>(document));
    report(state);
}

BENCHMARK_DEFINE_F(Small, Read)(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(fromJSON<Database>(json));
    report(state);
}

BENCHMARK_REGISTER_F(BusyYear, Write)
    ->Name("BM_WriteBusyYear")
    ->UseRealTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_REGISTER_F(BusyYear, Read)
    ->Name("BM_ReadBusyYear")
    ->UseRealTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_REGISTER_F(Small, Write)->Name("BM_WriteSmall")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_REGISTER_F(Small, Read)->Name("BM_ReadSmall")->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace
