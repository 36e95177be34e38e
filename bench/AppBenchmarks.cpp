// The orders screen's list on the busy year's document: one keystroke in its search field (the
// filter over every order, with the list view attached), a change of the document (the list's
// records brought up to date) and the selection of an order.
//
// One saveDraft of the application's controller, the save the main window makes after every change
// of the order being taken, on a real data directory: with a small restaurant's document and with a
// busy year's (50,000 orders, 200 products with photos). Each iteration changes the draft and saves
// it: copy of the document, encoding, validation, the check of the stored file, the previous copy
// and the atomic replacement.

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/OrdersModel.hpp>
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

#include <QApplication>
#include <QListView>

#include <memory>
#include <vector>

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

// Widgets need an application; benchmarks run without a display.
void ensureApplication() {
    if (QApplication::instance()) return;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "VelmoraBenchmarks";
    static char* argv[] = {name, nullptr};
    static QApplication application(argc, argv);
}

// The busy year opened by a controller, shared by the list benchmarks.
struct BusyYear {
    BusyYear() {
        document = pizzacore::testing::makeDocument(DocumentShape::busyYear(), 2025);
        pizzacore::Repository(directory.path(), false).save(document);
        const pizzacore::Instant now{document.sessions.back().opened.seconds + 60};
        store = std::make_unique<velmora::AppStore>(directory.path(), pizzacore::Clock::fixed(now), platform);
        store->start();
    }
    TemporaryDirectory directory;
    pizzacore::Database document;
    velmora::testing::TestPlatformServices platform;
    std::unique_ptr<velmora::AppStore> store;
};

BusyYear& busyYear() {
    static BusyYear year;
    return year;
}

void BM_OrdersSearchKeystrokeBusyYear(benchmark::State& state) {
    ensureApplication();
    velmora::AppStore& store = *busyYear().store;
    if (store.fatal()) {
        state.SkipWithError(store.fatal()->toStdString().c_str());
        return;
    }
    velmora::OrdersModel model(store);
    QListView view;
    view.setUniformItemSizes(true);
    view.setModel(&model);
    view.resize(320, 700);
    view.show();
    QCoreApplication::processEvents();
    // Typing and deleting a number, a name and a telephone, one character at a time.
    const std::vector<QString> typed = {"1", "12", "123", "1234", "123", "12", "1", "",
                                        "m", "ma", "mar", "mari", "mar", "ma", "m", "",
                                        "6", "60", "600", "60",   "6",   ""};
    std::size_t next = 0;
    for (auto _ : state) {
        velmora::OrdersFilter filter = model.filter();
        filter.query = typed[next++ % typed.size()];
        model.setFilter(filter);
        // The list lays out and paints the rows on screen.
        QCoreApplication::processEvents();
    }
    state.counters["orders"] = static_cast<double>(store.db().orders.size());
}

void BM_OrdersPendingToggleBusyYear(benchmark::State& state) {
    ensureApplication();
    velmora::AppStore& store = *busyYear().store;
    velmora::OrdersModel model(store);
    QListView view;
    view.setUniformItemSizes(true);
    view.setModel(&model);
    bool pending = false;
    for (auto _ : state) {
        velmora::OrdersFilter filter = model.filter();
        filter.pending = pending = !pending;
        model.setFilter(filter);
    }
}

// What the list does after every saved change of the document.
void BM_OrdersRefreshAfterChangeBusyYear(benchmark::State& state) {
    ensureApplication();
    velmora::AppStore& store = *busyYear().store;
    velmora::OrdersModel model(store);
    QListView view;
    view.setUniformItemSizes(true);
    view.setModel(&model);
    for (auto _ : state)
        model.refresh();
}

void BM_OrdersSelectBusyYear(benchmark::State& state) {
    ensureApplication();
    velmora::AppStore& store = *busyYear().store;
    velmora::OrdersModel model(store);
    const auto& orders = store.db().orders;
    std::size_t next = 0;
    for (auto _ : state) {
        const pizzacore::Uuid& id = orders[(next += 7919) % orders.size()].id;
        benchmark::DoNotOptimize(model.rowOf(id));
        benchmark::DoNotOptimize(model.order(id));
    }
}

BENCHMARK(BM_OrdersSearchKeystrokeBusyYear)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_OrdersPendingToggleBusyYear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrdersRefreshAfterChangeBusyYear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrdersSelectBusyYear)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveDraftTiny)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveDraftSmall)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveDraftBusyYear)->Unit(benchmark::kMillisecond)->MinTime(5.0);

} // namespace
