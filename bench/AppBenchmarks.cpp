// One saveDraft of the application's controller, the save the main window makes after every change
// of the order being taken, on a real data directory: with a small restaurant's document and with a
// busy year's (50,000 orders, 200 products with photos). Each iteration changes the draft and saves
// it: copy of the document, encoding, validation, the check of the stored file, the previous copy
// and the atomic replacement.

#include <Velmora/Stores/AppStore.hpp>
#include <support/TestFiles.hpp>

#include <PizzaCore/PizzaCore.hpp>
#include <app/TestPlatformServices.hpp>
#include <benchmark/benchmark.h>
#include <support/SyntheticDocument.hpp>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::TemporaryDirectory;

void saveDraft(benchmark::State& state, const DocumentShape& shape) {
    TemporaryDirectory directory;
    const pizzacore::Database document = pizzacore::testing::makeDocument(shape, 2025);
    pizzacore::Repository(directory.path(), false).save(document);
    // A clock inside the open session, so that start-up closes nothing.
    const pizzacore::Instant now{document.sessions.back().opened.seconds + 60};

    velmora::testing::TestPlatformServices platform;
    velmora::AppStore store(directory.path(), pizzacore::Clock::fixed(now), platform);
    store.start();
    if (store.fatal()) {
        state.SkipWithError(store.fatal()->toStdString().c_str());
        return;
    }
    pizzacore::Draft draft = store.draft();
    std::int64_t round = 0;
    for (auto _ : state) {
        draft.notes = "Llamar al timbre " + std::to_string(++round);
        store.setDraft(draft);
        if (!store.saveDraft()) {
            state.SkipWithError(store.message()->toStdString().c_str());
            return;
        }
    }
    state.counters["bytes"] = static_cast<double>(fs::file_size(store.location() / "Velmora.json"));
}

void BM_SaveDraftTiny(benchmark::State& state) {
    saveDraft(state, DocumentShape::tiny());
}
void BM_SaveDraftSmall(benchmark::State& state) {
    saveDraft(state, DocumentShape::small());
}
void BM_SaveDraftBusyYear(benchmark::State& state) {
    saveDraft(state, DocumentShape::busyYear());
}

BENCHMARK(BM_SaveDraftTiny)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveDraftSmall)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveDraftBusyYear)->Unit(benchmark::kMillisecond)->MinTime(5.0);

} // namespace
