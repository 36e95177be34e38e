// The orders and customers screens on the busy year's document (50,000 orders, 5,000 cards), as
// the window's thread sees them:
//
// OrdersScreenFirstShow: the orders screen made (as the main window makes every section at
// launch) and then shown for the first time. "construct_ms" is the time its construction took on
// the window's thread, "stall_ms" the longest the window's thread then went without coming back to
// its event loop until every order was listed, "listed_ms" the time from show() until then; the
// "_cpu_ms" figures are the window thread's own processor time for the same spans.
//
// OrdersScreenConfirmation / CustomersScreenConfirmation: the screen on view while an order is
// confirmed; the time measured (manual time, "update_ms") is what the window's thread spends on the
// screen's reaction to the published document: from the document's change signal to the repaint of
// what is on screen ("update_cpu_ms": the window thread's processor time for it). The
// confirmation's own save is not counted.

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Customers/CustomersView.hpp>
#include <Velmora/Views/Orders/OrdersModel.hpp>
#include <Velmora/Views/Orders/OrdersView.hpp>
#include <support/TestFiles.hpp>

#include <PizzaCore/PizzaCore.hpp>
#include <app/TestPlatformServices.hpp>
#include <benchmark/benchmark.h>
#include <support/SyntheticDocument.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include <time.h>

namespace {

using pizzacore::testing::DocumentShape;
using pizzacore::testing::TemporaryDirectory;

double milliseconds(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

// The processor time of the calling thread: on a machine shared with other work, what the
// window's thread itself did, without the time it waited for a processor.
double threadMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The longest time between two passes of the window's thread through its event loop, as elapsed
// time and as the thread's own processor time.
class LoopStalls {
public:
    LoopStalls() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] { lap(); });
    }
    void start() {
        worst_ = 0;
        worstWork_ = 0;
        since_.start();
        work_ = threadMilliseconds();
        timer_.start();
    }
    void stop() {
        lap();
        timer_.stop();
    }
    double worstMilliseconds() const { return static_cast<double>(worst_) / 1e6; }
    double worstWorkMilliseconds() const { return worstWork_; }

private:
    void lap() {
        worst_ = std::max(worst_, since_.nsecsElapsed());
        since_.restart();
        const double now = threadMilliseconds();
        worstWork_ = std::max(worstWork_, now - work_);
        work_ = now;
    }
    QTimer timer_;
    QElapsedTimer since_;
    qint64 worst_ = 0;
    double work_ = 0;
    double worstWork_ = 0;
};

// A busy year opened by a controller inside its open session, with an active product to order
// and a card to order for; made once.
struct Year {
    Year() {
        const pizzacore::Database document =
            pizzacore::testing::makeDocument(DocumentShape::busyYear(), 2025);
        pizzacore::Repository(directory.path(), false).save(document);
        const pizzacore::Instant now{document.sessions.back().opened.seconds + 60};
        for (const pizzacore::Product& each : document.products)
            if (each.active) product = each;
        card = document.customers.front();
        store = std::make_unique<velmora::AppStore>(directory.path(), pizzacore::Clock::fixed(now), platform);
        store->start();
    }

    // Confirms one order of the product, for the card, through the controller.
    bool confirm() {
        pizzacore::Draft draft;
        draft.customerID = card.id;
        draft.name = card.name;
        draft.phone = card.phone;
        draft.lines.push_back(pizzacore::Line::make(product));
        store->setDraft(draft);
        return store->confirm();
    }

    TemporaryDirectory directory;
    velmora::testing::TestPlatformServices platform;
    pizzacore::Product product;
    pizzacore::Customer card;
    std::unique_ptr<velmora::AppStore> store;
};

Year& year() {
    static Year shared;
    return shared;
}

void runEventsUntil(const std::function<bool()>& done, int limitMilliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMilliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void BM_OrdersScreenFirstShowBusyYear(benchmark::State& state) {
    Year& busy = year();
    if (busy.store->fatal()) {
        state.SkipWithError("the busy year did not open");
        return;
    }
    const auto orders = static_cast<int>(busy.store->db().orders.size());
    std::vector<double> constructions;
    std::vector<double> constructionWork;
    std::vector<double> stalls;
    std::vector<double> stallWork;
    std::vector<double> listings;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        const double work = threadMilliseconds();
        auto view = std::make_unique<velmora::OrdersView>(*busy.store);
        view->resize(1090, 800);
        constructions.push_back(milliseconds(clock));
        constructionWork.push_back(threadMilliseconds() - work);

        LoopStalls stallsMeter;
        stallsMeter.start();
        clock.restart();
        view->show();
        runEventsUntil([&] { return view->model().rowCount() == orders; }, 10'000);
        QCoreApplication::processEvents();
        listings.push_back(milliseconds(clock));
        stallsMeter.stop();
        stalls.push_back(stallsMeter.worstMilliseconds());
        stallWork.push_back(stallsMeter.worstWorkMilliseconds());
        state.SetIterationTime(constructions.back() / 1000.0 + stalls.back() / 1000.0);
        if (view->model().rowCount() != orders) {
            state.SkipWithError("the orders were not listed");
            return;
        }
        view.reset();
        QCoreApplication::processEvents();
    }
    state.counters["construct_ms"] = median(constructions);
    state.counters["construct_cpu_ms"] = median(constructionWork);
    state.counters["stall_ms"] = median(stalls);
    state.counters["stall_cpu_ms"] = median(stallWork);
    state.counters["stall_max_ms"] = *std::max_element(stalls.begin(), stalls.end());
    state.counters["listed_ms"] = median(listings);
}

// A screen whose reaction to each published document is timed from the change signal, whose
// handler is connected before the screen's own.
template <class View>
struct Timed {
    explicit Timed(velmora::AppStore& store) {
        QObject::connect(&store, &velmora::AppStore::dbChanged, &connection, [this] {
            updateClock.start();
            updateWork = threadMilliseconds();
        });
        view = std::make_unique<View>(store);
        view->resize(1090, 800);
        view->show();
    }
    QObject connection;
    QElapsedTimer updateClock;
    double updateWork = 0;
    std::unique_ptr<View> view;
};

// Runs confirmations with `screen` on view and measures the window thread's work from the
// document's change signal to the repaint of `list`.
template <class Screen>
void confirmationUpdate(benchmark::State& state, Screen& screen, QListView& list) {
    Year& busy = year();
    std::vector<double> updates;
    std::vector<double> work;
    for (auto _ : state) {
        if (!busy.confirm()) {
            state.SkipWithError("the order was not confirmed");
            return;
        }
        // The screen reacted inside the publication; what is left is the repaint.
        list.viewport()->repaint();
        const double spent = milliseconds(screen.updateClock);
        updates.push_back(spent);
        work.push_back(threadMilliseconds() - screen.updateWork);
        state.SetIterationTime(spent / 1000.0);
        QCoreApplication::processEvents();
    }
    state.counters["update_ms"] = median(updates);
    state.counters["update_max_ms"] = *std::max_element(updates.begin(), updates.end());
    state.counters["update_cpu_ms"] = median(work);
}

void BM_OrdersScreenConfirmationBusyYear(benchmark::State& state) {
    Year& busy = year();
    Timed<velmora::OrdersView> screen(*busy.store);
    const auto& model = screen.view->model();
    runEventsUntil([&] { return model.rowCount() == static_cast<int>(busy.store->db().orders.size()); },
                   10'000);
    auto* list = screen.view->template findChild<QListView*>(QStringLiteral("ordersList"));
    confirmationUpdate(state, screen, *list);
    if (model.rowCount() != static_cast<int>(busy.store->db().orders.size()))
        state.SkipWithError("the list did not follow the confirmations");
}

void BM_CustomersScreenConfirmationBusyYear(benchmark::State& state) {
    Year& busy = year();
    Timed<velmora::CustomersView> screen(*busy.store);
    QCoreApplication::processEvents();
    screen.view->list().viewport()->repaint();
    confirmationUpdate(state, screen, screen.view->list());
}

BENCHMARK(BM_OrdersScreenFirstShowBusyYear)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_OrdersScreenConfirmationBusyYear)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_CustomersScreenConfirmationBusyYear)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

} // namespace
