// The screens of the customers, products and sessions sections on the busy year's document: a
// keystroke in each customer search (search, list reset and paint), showing the customers screen
// (search of every card, the summary of 50,000 orders and the first paint), scrolling the products
// list with real 150 KB photos, and counting the sessions screen.
//
// The orders screen's list on the same document: one keystroke in its search field (the filter
// over every order, then the list's layout and paint), the "Sin cobrar" switch, a change of the
// document (the list's records brought up to date) and the selection of an order.
//
// One saveDraft of the application's controller, the save the main window makes after every change
// of the order being taken, on a real data directory: with a small restaurant's document and with a
// busy year's (50,000 orders, 200 products with photos). Each iteration changes the draft and saves
// it: copy of the document, encoding, validation, the check of the stored file, the previous copy
// and the atomic replacement.
//
// Also the daily copy kept at each close, on the busy year's document file, and the ticket the
// settings window's preview draws for every pause in the typing.

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Stores/CustomerSummaries.hpp>
#include <Velmora/Stores/DailyBackups.hpp>
#include <Velmora/Views/CustomersView.hpp>
#include <Velmora/Views/OrdersModel.hpp>
#include <Velmora/Views/ProductsView.hpp>
#include <Velmora/Views/SessionsView.hpp>
#include <Velmora/Views/ThumbnailCache.hpp>
#include <Velmora/Views/TicketPreview.hpp>
#include <support/TestFiles.hpp>

#include <PizzaCore/PizzaCore.hpp>
#include <app/TestPlatformServices.hpp>
#include <benchmark/benchmark.h>
#include <support/SyntheticDocument.hpp>

#include <PizzaCore/Documents/TicketRenderer.hpp>

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QRandomGenerator>
#include <QScrollBar>

#include <memory>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
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

// The copy of a busy year's document file into the daily folder, a new business day each time so
// that the rotation to 30 copies runs too.
void BM_DailyBackupBusyYear(benchmark::State& state) {
    TemporaryDirectory directory;
    const pizzacore::Database document = pizzacore::testing::makeDocument(DocumentShape::busyYear(), 2025);
    pizzacore::Repository repository(directory.path(), false);
    repository.save(document);
    const fs::path folder = velmora::DailyBackups::folder(directory.path());
    int day = 0;
    for (auto _ : state) {
        char name[16];
        std::snprintf(name, sizeof name, "2025-%02d-%02d", 1 + (day / 28) % 12, 1 + day % 28);
        ++day;
        velmora::DailyBackups::write(repository.file(), folder, name);
    }
    state.counters["bytes"] = static_cast<double>(fs::file_size(repository.file()));
}

// The preview's sample order with a logo, on A4 and on 80 mm roll paper (kitchen, bar and
// customer tickets).
void previewTicket(benchmark::State& state, pizzacore::Paper paper) {
    pizzacore::Settings settings;
    settings.paper = paper;
    settings.bar = true;
    QImage logo(300, 150, QImage::Format_RGB32);
    logo.fill(QColor(0xC0, 0x40, 0x20));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    logo.save(&buffer, "PNG");
    settings.logo = pizzacore::Bytes(png.begin(), png.end());
    const pizzacore::Order order = velmora::TicketPreview::sampleOrder(pizzacore::Instant{763041600});
    const pizzacore::Payment payment = velmora::TicketPreview::samplePayment(order);
    for (auto _ : state)
        benchmark::DoNotOptimize(pizzacore::TicketRenderer::render(order, settings, payment, false));
}
void BM_PreviewTicketA4(benchmark::State& state) {
    previewTicket(state, pizzacore::Paper::a4);
}
void BM_PreviewTicketRoll80(benchmark::State& state) {
    previewTicket(state, pizzacore::Paper::mm80);
}

BENCHMARK(BM_DailyBackupBusyYear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewTicketA4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewTicketRoll80)->Unit(benchmark::kMillisecond);

// The one application the widget benchmarks need, on the offscreen platform.
void ensureApplication() {
    static std::unique_ptr<QApplication> application;
    if (application) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "VelmoraBenchmarks";
    static char* argv[] = {name, nullptr};
    application = std::make_unique<QApplication>(argc, argv);
}

// Lets the list lay its rows out (Qt does it from the event loop) and paints what is on screen.
void settle(QListView& list) {
    QCoreApplication::processEvents();
    list.viewport()->repaint();
}

// A busy year opened by a controller, inside its open session; made once and shared.
struct BusyYear {
    BusyYear() {
        pizzacore::Database document = pizzacore::testing::makeDocument(DocumentShape::busyYear(), 2025);
        // Real photos of about 150 KB (noise compresses badly), so that thumbnails really decode.
        QRandomGenerator random(7);
        for (pizzacore::Product& product : document.products) {
            QImage photo(230, 170, QImage::Format_RGB32);
            for (int y = 0; y < photo.height(); ++y)
                for (int x = 0; x < photo.width(); ++x)
                    photo.setPixel(x, y, random.generate());
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            photo.save(&buffer, "PNG");
            product.image = pizzacore::Bytes(png.begin(), png.end());
        }
        pizzacore::Repository(directory.path(), false).save(document);
        const pizzacore::Instant now{document.sessions.back().opened.seconds + 60};
        store = std::make_unique<velmora::AppStore>(directory.path(), pizzacore::Clock::fixed(now), platform);
        store->start();
    }

    TemporaryDirectory directory;
    velmora::testing::TestPlatformServices platform;
    std::unique_ptr<velmora::AppStore> store;
};

BusyYear& busyYear() {
    ensureApplication();
    static BusyYear shared;
    return shared;
}

// Typing in one search field: each iteration types one more character or takes one away, and the
// list repaints what is on screen.
void customerKeystrokes(benchmark::State& state, QLineEdit& (velmora::CustomersView::*field)() const,
                        const std::vector<QString>& texts) {
    BusyYear& year = busyYear();
    velmora::CustomersView view(*year.store);
    view.resize(1100, 760);
    view.show();
    settle(view.list());
    std::size_t next = 0;
    for (auto _ : state) {
        (view.*field)().setText(texts[next++ % texts.size()]);
        settle(view.list());
    }
    state.counters["shown"] = view.model().rowCount();
}

void BM_CustomersNameKeystroke(benchmark::State& state) {
    customerKeystrokes(state, &velmora::CustomersView::nameField,
                       {"g", "ga", "gar", "garc", "garci", "garcia"});
}
void BM_CustomersPhoneKeystroke(benchmark::State& state) {
    customerKeystrokes(state, &velmora::CustomersView::phoneField, {"6", "61", "612", "6123", "61234"});
}
void BM_CustomersAddressKeystroke(benchmark::State& state) {
    customerKeystrokes(state, &velmora::CustomersView::addressField, {"c", "ca", "cal", "call", "calle"});
}

// Showing the customers screen after the document changed: every card searched and sorted, the
// order summary made again and the first rows painted.
void BM_CustomersShowScreen(benchmark::State& state) {
    BusyYear& year = busyYear();
    for (auto _ : state) {
        velmora::CustomersView view(*year.store);
        view.resize(1100, 760);
        view.show();
        settle(view.list());
        benchmark::DoNotOptimize(view.model().rowCount());
    }
}

// The order summary alone: one pass over 50,000 orders and their payments.
void BM_CustomerSummaries(benchmark::State& state) {
    BusyYear& year = busyYear();
    for (auto _ : state) {
        velmora::CustomerSummaries summaries(year.store->db());
        benchmark::DoNotOptimize(summaries.summary(year.store->db().customers.front()).orders);
    }
}

// Scrolling the products list one step and repainting it, the thumbnails already decoded.
void BM_ProductsScroll(benchmark::State& state) {
    BusyYear& year = busyYear();
    velmora::ThumbnailCache thumbnails;
    velmora::ProductsView view(*year.store, thumbnails);
    view.resize(1100, 760);
    view.show();
    settle(view.list());
    QScrollBar* bar = view.list().verticalScrollBar();
    for (int value = 0; value <= bar->maximum(); value += 120) { // every thumbnail decoded once
        bar->setValue(value);
        settle(view.list());
    }
    int value = 0;
    for (auto _ : state) {
        value = (value + 120) % (bar->maximum() + 1);
        bar->setValue(value);
        settle(view.list());
    }
    state.counters["scrollHeight"] = bar->maximum();
}

// The sessions screen counting the day's tiles and the history of 400 shifts.
void BM_SessionsShowScreen(benchmark::State& state) {
    BusyYear& year = busyYear();
    for (auto _ : state) {
        velmora::SessionsView view(*year.store);
        view.resize(1100, 760);
        view.show();
        settle(view.history());
    }
}

void BM_OrdersSearchKeystrokeBusyYear(benchmark::State& state) {
    velmora::AppStore& store = *busyYear().store;
    velmora::OrdersModel model(store);
    QListView view;
    view.setUniformItemSizes(true);
    view.setModel(&model);
    view.resize(320, 700);
    view.show();
    settle(view);
    // Typing and deleting a number, a name and a telephone, one character at a time.
    const std::vector<QString> typed = {"1", "12", "123", "1234", "123", "12", "1", "",
                                        "m", "ma", "mar", "mari", "mar", "ma", "m", "",
                                        "6", "60", "600", "60",   "6",   ""};
    std::size_t next = 0;
    for (auto _ : state) {
        velmora::OrdersFilter filter = model.filter();
        filter.query = typed[next++ % typed.size()];
        model.setFilter(filter);
        settle(view);
    }
    state.counters["orders"] = static_cast<double>(store.db().orders.size());
}

void BM_OrdersPendingToggleBusyYear(benchmark::State& state) {
    velmora::AppStore& store = *busyYear().store;
    velmora::OrdersModel model(store);
    QListView view;
    view.setUniformItemSizes(true);
    view.setModel(&model);
    view.resize(320, 700);
    view.show();
    settle(view);
    bool pending = false;
    for (auto _ : state) {
        velmora::OrdersFilter filter = model.filter();
        filter.pending = pending = !pending;
        model.setFilter(filter);
        settle(view);
    }
}

// What the list does after every saved change of the document while it is on screen.
void BM_OrdersRefreshAfterChangeBusyYear(benchmark::State& state) {
    velmora::AppStore& store = *busyYear().store;
    velmora::OrdersModel model(store);
    for (auto _ : state)
        model.refresh();
}

void BM_OrdersSelectBusyYear(benchmark::State& state) {
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

BENCHMARK(BM_OrdersSearchKeystrokeBusyYear)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(BM_OrdersPendingToggleBusyYear)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(BM_OrdersRefreshAfterChangeBusyYear)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(BM_OrdersSelectBusyYear)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();

BENCHMARK(BM_CustomersNameKeystroke)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_CustomersPhoneKeystroke)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_CustomersAddressKeystroke)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(BM_CustomersShowScreen)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_CustomerSummaries)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_ProductsScroll)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_SessionsShowScreen)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

BENCHMARK(BM_SaveDraftTiny)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveDraftSmall)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveDraftBusyYear)->Unit(benchmark::kMillisecond)->MinTime(5.0);

} // namespace
