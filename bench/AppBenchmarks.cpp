// The screens of the customers, products and sessions sections on the busy year's document: a
// keystroke in each customer search (search, list reset and paint), showing the customers screen
// (search of every card, the summary of 50,000 orders and the first paint), scrolling the products
// list with real 150 KB photos, and counting the sessions screen.
//
// The orders screen's list on the same document: one keystroke in its search field (the filter
// over every order, then the list's layout and paint), the "Sin cobrar" switch, a change of the
// document (the list's records brought up to date) and the selection of an order.
//
// The controller and the checkout:
//
// SaveDraft: one saveDraft, with a small restaurant's document and with a busy year's (50,000
// orders, 200 products with photos). Each iteration changes the draft and saves it: copy of the
// document, encoding, validation, the check of the stored file, the previous copy and the atomic
// replacement, written by the controller's writer thread while the caller waits.
//
// The checkout on the busy year, with the main window on the offscreen platform; "stall_ms" is
// the longest time the user-interface thread went without coming back to its event loop:
// - TypingStall: 20 keys typed into "Teléfono" and "Nombre", one every 60 ms, with the draft
//   autosave writing in the background;
// - ConfirmStall: Ctrl+Return on an order while a key is typed into the next draft every 60 ms;
//   "confirm_ms" is the time from Ctrl+Return until the order is selected in "Pedidos".
//
// Also the daily copy kept at each close, on the busy year's document file, and the ticket the
// settings window's preview draws for every pause in the typing.
//
// The cost of a change on the busy year with its main window, from the call until the change is
// durable (wall time, and the processor time of the whole process, writer included): a
// confirmation, a payment and one draft autosave; the bytes each writes (/proc/self/io: "wchar"
// counts what the process wrote, "write_bytes" what reached the storage layer); a confirmation
// while a fold of the busy year runs, and the fold itself. In processes of their own: the
// resident memory after opening, after the first draft save, after the first confirmation and
// after 100, against the data file's size; and the launch of the application until its window is
// on screen and until the data is open.

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Stores/CustomerSummaries.hpp>
#include <Velmora/Stores/DailyBackups.hpp>
#include <Velmora/Views/Customers/CustomersView.hpp>
#include <Velmora/Views/Window/MainWindow.hpp>
#include <Velmora/Views/Orders/OrdersModel.hpp>
#include <Velmora/Views/Products/ProductsView.hpp>
#include <Velmora/Views/Sessions/SessionsView.hpp>
#include <Velmora/Views/Shared/ThumbnailCache.hpp>
#include <Velmora/Views/Orders/TicketPreview.hpp>
#include <support/TestFiles.hpp>

#include <PizzaCore/PizzaCore.hpp>
#include <app/TestPlatformServices.hpp>
#include <benchmark/benchmark.h>
#include <support/SyntheticDocument.hpp>

#include <PizzaCore/Documents/TicketRenderer.hpp>

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <Velmora/App/VelmoraApp.hpp>

#include <QWindow>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <time.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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
    if (application || QCoreApplication::instance()) return;
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
        for (std::size_t i = 0; i < document.products.size(); ++i) {
            pizzacore::Product& product = document.products.modify(i);
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

// A busy year's rows are made on a worker thread; the list benchmarks start once they are listed.
void waitForRows(const velmora::OrdersModel& model) {
    while (!model.ready())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void BM_OrdersSearchKeystrokeBusyYear(benchmark::State& state) {
    velmora::AppStore& store = *busyYear().store;
    velmora::OrdersModel model(store);
    waitForRows(model);
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
    waitForRows(model);
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
    waitForRows(model);
    for (auto _ : state)
        model.refresh();
}

void BM_OrdersSelectBusyYear(benchmark::State& state) {
    velmora::AppStore& store = *busyYear().store;
    velmora::OrdersModel model(store);
    waitForRows(model);
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

// The longest time between two passes of the user-interface thread through its event loop, seen by
// a 1-ms timer: a key handled, a save published, a screen redrawn all count. Measured as elapsed
// time, which on a loaded machine includes time the thread waited for a processor, and as the
// thread's own processor time, which is the work done.
class StallMeter {
public:
    StallMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] { lap(); });
    }
    void start() {
        worst_ = 0;
        worstWork_ = 0;
        since_.start();
        work_ = threadTime();
        timer_.start();
    }
    void stop() {
        lap();
        timer_.stop();
    }
    double worstMilliseconds() const { return static_cast<double>(worst_) / 1e6; }
    double worstWorkMilliseconds() const { return static_cast<double>(worstWork_) / 1e6; }

private:
    static qint64 threadTime() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<qint64>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    }
    void lap() {
        worst_ = std::max(worst_, since_.nsecsElapsed());
        since_.restart();
        const qint64 now = threadTime();
        worstWork_ = std::max(worstWork_, now - work_);
        work_ = now;
    }
    QTimer timer_;
    QElapsedTimer since_;
    qint64 worst_ = 0;
    qint64 work_ = 0;
    qint64 worstWork_ = 0;
};

// The median of a few measurements.
double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Lets the event loop run for `milliseconds`.
void runEvents(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
}

// The busy year opened by the application with its main window, made once for every benchmark.
struct BusyDesk {
    BusyDesk() {
        const pizzacore::Database document =
            pizzacore::testing::makeDocument(DocumentShape::busyYear(), 2025);
        pizzacore::Repository(directory.path(), false).save(document);
        now = pizzacore::Instant{document.sessions.back().opened.seconds + 60};
        product = document.products.front();
        for (const pizzacore::Product& each : document.products)
            if (each.active) product = each;
        store = std::make_unique<velmora::AppStore>(directory.path(), pizzacore::Clock::fixed(now), platform);
        store->start();
        window = std::make_unique<velmora::MainWindow>(*store);
        window->show();
        phone = window->findChild<QLineEdit*>(QStringLiteral("phone"));
        name = window->findChild<QLineEdit*>(QStringLiteral("name"));
    }
    // Back on the checkout with an empty draft, everything saved.
    void reset() {
        store->setSelectedTab(QStringLiteral("Caja"));
        store->setDraft(pizzacore::Draft());
        store->flush();
        runEvents(50);
    }

    TemporaryDirectory directory;
    pizzacore::Instant now;
    pizzacore::Product product;
    velmora::testing::TestPlatformServices platform;
    std::unique_ptr<velmora::AppStore> store;
    std::unique_ptr<velmora::MainWindow> window;
    QLineEdit* phone = nullptr;
    QLineEdit* name = nullptr;
};

// Made on first use and closed before the application object goes.
std::unique_ptr<BusyDesk>& busyDeskHolder() {
    static std::unique_ptr<BusyDesk> desk;
    return desk;
}

BusyDesk& busyDesk() {
    std::unique_ptr<BusyDesk>& desk = busyDeskHolder();
    if (!desk) desk = std::make_unique<BusyDesk>();
    return *desk;
}

void BM_TypingStallBusyYear(benchmark::State& state) {
    BusyDesk& desk = busyDesk();
    if (desk.store->fatal() || !desk.phone || !desk.name) {
        state.SkipWithError("the busy year did not open");
        return;
    }
    std::vector<double> stalls;
    std::vector<double> work;
    for (auto _ : state) {
        state.PauseTiming();
        desk.reset();
        state.ResumeTiming();
        StallMeter meter;
        meter.start();
        const QString keys = QStringLiteral("6123456789Ana Garcia");
        for (qsizetype key = 0; key < keys.size(); ++key) {
            QLineEdit* field = key < 10 ? desk.phone : desk.name;
            field->setFocus();
            QTest::keyClick(field, keys[key].toLatin1());
            runEvents(60);
        }
        meter.stop();
        stalls.push_back(meter.worstMilliseconds());
        work.push_back(meter.worstWorkMilliseconds());
    }
    state.counters["stall_ms"] = median(stalls);
    state.counters["stall_max_ms"] = *std::max_element(stalls.begin(), stalls.end());
    state.counters["stall_cpu_ms"] = median(work);
}

void BM_ConfirmStallBusyYear(benchmark::State& state) {
    BusyDesk& desk = busyDesk();
    if (desk.store->fatal() || !desk.phone) {
        state.SkipWithError("the busy year did not open");
        return;
    }
    std::vector<double> stalls;
    std::vector<double> work;
    std::vector<double> confirms;
    for (auto _ : state) {
        desk.reset();
        desk.store->add(desk.product);
        pizzacore::Draft draft = desk.store->draft();
        draft.phone = "612 345 678";
        desk.store->setDraft(draft);
        desk.store->flush();
        runEvents(20);
        const std::size_t before = desk.store->db().orders.size();

        // The next caller's number typed while the order is written.
        QTimer typing;
        typing.setInterval(60);
        QObject::connect(&typing, &QTimer::timeout, [&] { QTest::keyClick(desk.phone, '6'); });
        StallMeter meter;
        QElapsedTimer clock;
        meter.start();
        typing.start();
        clock.start();
        QTest::keyClick(desk.phone, Qt::Key_Return, Qt::ControlModifier);
        // The checkout may confirm without waiting: the time counts until the order is shown.
        while ((desk.store->db().orders.size() != before + 1 ||
                desk.store->selectedTab() != QStringLiteral("Pedidos")) &&
               clock.elapsed() < 10'000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        const double confirmed = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        typing.stop();
        runEvents(30);
        meter.stop();
        stalls.push_back(meter.worstMilliseconds());
        work.push_back(meter.worstWorkMilliseconds());
        confirms.push_back(confirmed);
        state.SetIterationTime(confirmed / 1000.0);
        if (desk.store->db().orders.size() != before + 1 ||
            desk.store->selectedTab() != QStringLiteral("Pedidos") ||
            desk.store->selectedOrder() != desk.store->db().orders.back().id ||
            desk.window->visibleSection() != 1) {
            state.SkipWithError("the order was not confirmed and shown");
            return;
        }
    }
    state.counters["stall_ms"] = median(stalls);
    state.counters["stall_max_ms"] = *std::max_element(stalls.begin(), stalls.end());
    state.counters["stall_cpu_ms"] = median(work);
    state.counters["confirm_ms"] = median(confirms);
}

BENCHMARK(BM_TypingStallBusyYear)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ConfirmStallBusyYear)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// What the process has written so far: the bytes handed to write() and the like ("wchar") and
// the bytes sent towards the disk ("write_bytes").
struct Written {
    double wchar = 0;
    double disk = 0;
};

Written written() {
    Written result;
    if (std::FILE* io = std::fopen("/proc/self/io", "r")) {
        char key[64];
        unsigned long long value = 0;
        while (std::fscanf(io, "%63[^:]: %llu\n", key, &value) == 2) {
            if (std::string_view(key) == "wchar") result.wchar = static_cast<double>(value);
            if (std::string_view(key) == "write_bytes") result.disk = static_cast<double>(value);
        }
        std::fclose(io);
    }
    return result;
}

// The resident memory of the process, in bytes: now ("VmRSS"), or the most it has held so far
// ("VmHWM").
double residentBytes(const char* field = "VmRSS") {
    double bytes = 0;
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const std::string format = std::string(field) + ": %llu kB";
        while (std::fgets(line, sizeof line, status))
            if (unsigned long long kilobytes = 0; std::sscanf(line, format.c_str(), &kilobytes) == 1)
                bytes = static_cast<double>(kilobytes) * 1024;
        std::fclose(status);
    }
    return bytes;
}

// Prints the resident memory now and the most so far, as `name` and `name`_peak.
void printResident(const char* name) {
    std::printf("%s %.0f\n%s_peak %.0f\n", name, residentBytes(), name, residentBytes("VmHWM"));
}

// A draft ready to confirm on the desk: one line and a telephone, already saved.
void prepareOrder(BusyDesk& desk) {
    desk.reset();
    desk.store->add(desk.product);
    pizzacore::Draft draft = desk.store->draft();
    draft.phone = "612 345 678";
    desk.store->setDraft(draft);
    desk.store->flush();
    runEvents(20);
}

// Bytes written by `action`, counted once everything it started has finished.
template <class Action>
Written bytesOf(BusyDesk& desk, Action action) {
    desk.store->flush();
    const Written before = written();
    action();
    desk.store->flush();
    const Written after = written();
    return {after.wchar - before.wchar, after.disk - before.disk};
}

void reportBytes(benchmark::State& state, std::vector<double> wchar, std::vector<double> disk) {
    state.counters["wchar_bytes"] = median(std::move(wchar));
    state.counters["disk_bytes"] = median(std::move(disk));
}

// The time from start() until the controller first publishes a document: the change is durable
// by then, and what follows is the screens' own work.
class PublicationClock {
public:
    explicit PublicationClock(velmora::AppStore& store) {
        QObject::connect(&store, &velmora::AppStore::dbChanged, &receiver_, [this] {
            if (running_) {
                times_.push_back(static_cast<double>(clock_.nsecsElapsed()) / 1e6);
                running_ = false;
            }
        });
    }
    void start() {
        running_ = true;
        clock_.start();
    }
    double median() const { return ::median(times_); }

private:
    QObject receiver_;
    QElapsedTimer clock_;
    bool running_ = false;
    std::vector<double> times_;
};

void BM_ConfirmDurableBusyYear(benchmark::State& state) {
    BusyDesk& desk = busyDesk();
    if (desk.store->fatal()) {
        state.SkipWithError("the busy year did not open");
        return;
    }
    std::vector<double> wchar;
    std::vector<double> disk;
    PublicationClock published(*desk.store);
    for (auto _ : state) {
        state.PauseTiming();
        prepareOrder(desk);
        const Written before = written();
        state.ResumeTiming();
        published.start();
        if (!desk.store->confirm()) {
            state.SkipWithError("the order was not confirmed");
            return;
        }
        state.PauseTiming();
        const Written after = written();
        wchar.push_back(after.wchar - before.wchar);
        disk.push_back(after.disk - before.disk);
        state.ResumeTiming();
    }
    reportBytes(state, wchar, disk);
    state.counters["published_ms"] = published.median();
}

void BM_PayDurableBusyYear(benchmark::State& state) {
    BusyDesk& desk = busyDesk();
    if (desk.store->fatal()) {
        state.SkipWithError("the busy year did not open");
        return;
    }
    std::vector<double> wchar;
    std::vector<double> disk;
    PublicationClock published(*desk.store);
    for (auto _ : state) {
        state.PauseTiming();
        prepareOrder(desk);
        if (!desk.store->confirm()) {
            state.SkipWithError("the order was not confirmed");
            return;
        }
        const pizzacore::Uuid order = desk.store->db().orders.back().id;
        desk.store->flush();
        const Written before = written();
        state.ResumeTiming();
        published.start();
        if (!desk.store->payOrder(order, pizzacore::PaymentMethod::card, QString())) {
            state.SkipWithError("the order was not paid");
            return;
        }
        state.PauseTiming();
        const Written after = written();
        wchar.push_back(after.wchar - before.wchar);
        disk.push_back(after.disk - before.disk);
        state.ResumeTiming();
    }
    reportBytes(state, wchar, disk);
    state.counters["published_ms"] = published.median();
}

void BM_DraftAutosaveDurableBusyYear(benchmark::State& state) {
    BusyDesk& desk = busyDesk();
    if (desk.store->fatal()) {
        state.SkipWithError("the busy year did not open");
        return;
    }
    desk.reset();
    std::vector<double> wchar;
    std::vector<double> disk;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        desk.store->flush();
        pizzacore::Draft draft = desk.store->draft();
        draft.notes = "Llamar al timbre " + std::to_string(++round);
        // The window asks for the autosave, which waits for more typing before it writes.
        desk.store->setDraft(draft);
        const Written before = written();
        state.ResumeTiming();
        // flush starts the autosave at once and waits for it.
        desk.store->flush();
        state.PauseTiming();
        const Written after = written();
        wchar.push_back(after.wchar - before.wchar);
        disk.push_back(after.disk - before.disk);
        state.ResumeTiming();
    }
    reportBytes(state, wchar, disk);
}

// The busy year's checkout typed into: 20 characters, one every 60 ms, autosaves included.
void BM_TypingBytesBusyYear(benchmark::State& state) {
    BusyDesk& desk = busyDesk();
    if (desk.store->fatal() || !desk.phone || !desk.name) {
        state.SkipWithError("the busy year did not open");
        return;
    }
    std::vector<double> wchar;
    std::vector<double> disk;
    for (auto _ : state) {
        state.PauseTiming();
        desk.reset();
        state.ResumeTiming();
        const Written bytes = bytesOf(desk, [&] {
            const QString keys = QStringLiteral("6123456789Ana Garcia");
            for (qsizetype key = 0; key < keys.size(); ++key) {
                QLineEdit* field = key < 10 ? desk.phone : desk.name;
                field->setFocus();
                QTest::keyClick(field, keys[key].toLatin1());
                runEvents(60);
            }
        });
        wchar.push_back(bytes.wchar);
        disk.push_back(bytes.disk);
    }
    reportBytes(state, wchar, disk);
}

// A confirmation while a fold of the whole busy year is being written, and the fold's own time
// from the request until its thread reports.
void BM_ConfirmDuringFoldBusyYear(benchmark::State& state) {
    BusyDesk& desk = busyDesk();
    if (desk.store->fatal()) {
        state.SkipWithError("the busy year did not open");
        return;
    }
    std::vector<double> folds;
    for (auto _ : state) {
        state.PauseTiming();
        prepareOrder(desk);
        QElapsedTimer fold;
        fold.start();
        desk.store->fold();
        state.ResumeTiming();
        if (!desk.store->confirm()) {
            state.SkipWithError("the order was not confirmed");
            return;
        }
        state.PauseTiming();
        desk.store->flush();
        folds.push_back(static_cast<double>(fold.nsecsElapsed()) / 1e6);
        state.ResumeTiming();
    }
    state.counters["fold_ms"] = median(folds);
}

BENCHMARK(BM_ConfirmDurableBusyYear)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(10)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(BM_PayDurableBusyYear)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(10)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(BM_DraftAutosaveDurableBusyYear)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(10)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(BM_TypingBytesBusyYear)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ConfirmDuringFoldBusyYear)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(5);

// The measurements made in a process of their own, so that nothing else the benchmarks allocated
// counts: this program run again with one of these arguments and the busy year's folder.
constexpr std::string_view memoryMode = "--velmora-memory";
constexpr std::string_view launchMode = "--velmora-launch";

// Runs this program again as `mode` on `folder` and reads the "name value" lines it prints.
std::vector<std::pair<std::string, double>> runChild(std::string_view mode, const fs::path& folder) {
    std::vector<std::pair<std::string, double>> values;
    int ends[2];
    if (::pipe(ends) != 0) return values;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, ends[0]);
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string modeText(mode);
    std::string folderText = folder.string();
    char* argv[] = {self.data(), modeText.data(), folderText.data(), nullptr};
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, self.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    std::string output;
    if (spawned == 0) {
        char buffer[4096];
        for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;)
            output.append(buffer, static_cast<std::size_t>(got));
        int status = 0;
        ::waitpid(child, &status, 0);
    }
    ::close(ends[0]);
    std::size_t at = 0;
    while (at < output.size()) {
        const std::size_t end = std::min(output.find('\n', at), output.size());
        const std::string line = output.substr(at, end - at);
        at = end + 1;
        char name[64];
        double value = 0;
        if (std::sscanf(line.c_str(), "%63s %lf", name, &value) == 2) values.emplace_back(name, value);
    }
    return values;
}

// A busy year's folder, made once and kept for the child processes.
const fs::path& busyYearFolder() {
    static TemporaryDirectory directory;
    static const bool made = [] {
        pizzacore::Repository(directory.path(), false)
            .save(pizzacore::testing::makeDocument(DocumentShape::busyYear(), 2025));
        return true;
    }();
    (void)made;
    return directory.path();
}

// A clock inside the busy year's open session, so that opening closes nothing.
pizzacore::Clock clockOfFolder(const fs::path& folder) {
    const pizzacore::Database document = pizzacore::Repository(folder, false).load();
    return pizzacore::Clock::fixed(pizzacore::Instant{document.sessions.back().opened.seconds + 60});
}

void BM_MemoryBusyYear(benchmark::State& state) {
    const fs::path& folder = busyYearFolder();
    std::vector<std::pair<std::string, double>> values;
    for (auto _ : state)
        values = runChild(memoryMode, folder);
    if (values.empty()) {
        state.SkipWithError("the measuring process reported nothing");
        return;
    }
    const double json = static_cast<double>(fs::file_size(folder / "Velmora.json"));
    state.counters["json_MB"] = json / 1e6;
    for (const auto& [name, value] : values) {
        state.counters[name + "_MB"] = value / 1e6;
        state.counters[name + "_x_json"] = value / json;
    }
}

void BM_LaunchBusyYear(benchmark::State& state) {
    const fs::path& folder = busyYearFolder();
    std::vector<std::vector<std::pair<std::string, double>>> runs;
    for (auto _ : state) {
        runs.push_back(runChild(launchMode, folder));
        if (runs.back().empty()) {
            state.SkipWithError("the launching process reported nothing");
            return;
        }
    }
    for (const auto& [name, value] : runs.front()) {
        std::vector<double> each;
        for (const auto& run : runs)
            for (const auto& [other, measured] : run)
                if (other == name) each.push_back(measured);
        state.counters[name] = median(each);
    }
}

BENCHMARK(BM_MemoryBusyYear)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_LaunchBusyYear)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Child: the busy year opened with its main window; the resident memory after opening, after the
// first draft autosave, after the first confirmation and after 100.
int measureMemory(const fs::path& folder) {
    velmora::testing::TestPlatformServices platform;
    velmora::AppStore store(folder, clockOfFolder(folder), platform);
    store.start();
    if (store.fatal()) return 1;
    velmora::MainWindow window(store);
    window.show();
    runEvents(200);
    printResident("open");
    pizzacore::Product product = store.db().products.front();
    for (const pizzacore::Product& each : store.db().products)
        if (each.active) product = each;

    // A fresh draft: the one stored with the synthetic year holds lines of another catalogue.
    pizzacore::Draft draft;
    draft.phone = "612 345 678";
    store.setDraft(draft);
    store.saveDraftSoon();
    store.flush();
    runEvents(50);
    printResident("first_draft");
    for (int round = 1; round <= 100; ++round) {
        store.add(product);
        pizzacore::Draft next = store.draft();
        next.phone = "612 345 678";
        store.setDraft(next);
        if (!store.confirm()) {
            std::fprintf(stderr, "no confirmation: %s\n",
                         store.message().value_or(QString()).toStdString().c_str());
            return 1;
        }
        runEvents(5);
        if (round == 1) printResident("first_confirm");
    }
    store.flush();
    runEvents(50);
    printResident("after_100");
    std::fflush(stdout);
    return 0;
}

// Child: the application launched on the busy year as the program launches it, timed from before
// the controller exists until its window is on screen, and until the data is open and the
// sections shown; also the longest time the window went without handling events meanwhile.
int measureLaunch(const fs::path& folder) {
    const pizzacore::Clock clock = clockOfFolder(folder);
    velmora::testing::TestPlatformServices platform;
    QElapsedTimer since;
    StallMeter meter;
    since.start();
    velmora::VelmoraApp app(platform, folder, clock, velmora::VelmoraApp::Opening::inBackground);
    app.show();
    meter.start();
    while (!app.window().windowHandle() || !app.window().windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    app.window().repaint();
    std::printf("window_ms %.1f\n", static_cast<double>(since.nsecsElapsed()) / 1e6);
    while (app.store().opening())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    QCoreApplication::processEvents();
    app.window().repaint();
    std::printf("ready_ms %.1f\n", static_cast<double>(since.nsecsElapsed()) / 1e6);
    meter.stop();
    std::printf("stall_ms %.1f\n", meter.worstMilliseconds());
    std::fflush(stdout);
    return app.store().fatal() ? 1 : 0;
}

} // namespace

// The controller waits for its writer in an event loop, and the checkout is a widget: both need
// the application object, on the offscreen platform.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    if (argc == 3 && argv[1] == memoryMode) return measureMemory(argv[2]);
    if (argc == 3 && argv[1] == launchMode) return measureLaunch(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    busyDeskHolder().reset();
    return 0;
}
