#include <Velmora/Services/ClosingReports.hpp>

#include <Velmora/Platform/QtText.hpp>
#include <Velmora/Services/TicketService.hpp>
#include <Velmora/Stores/AppStore.hpp>

#include <PizzaCore/Documents/ClosingReportRenderer.hpp>
#include <PizzaCore/Models/ClosingReport.hpp>
#include <PizzaCore/Models/Database.hpp>

#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>

#include <algorithm>
#include <exception>
#include <memory>

namespace velmora {

const QString ClosingReports::notPrinted = QStringLiteral("No se ha impreso el informe de cierre.");
const QString ClosingReports::notPrintedAtClose =
    QStringLiteral("El tramo se ha cerrado, pero su informe de cierre no se ha impreso.");

struct ClosingReports::Rendered {
    TicketService::Document document;
    QString name;
};

namespace {

std::optional<pizzacore::Uuid> openShift(const pizzacore::Database& db) {
    const auto open = std::find_if(db.sessions.rbegin(), db.sessions.rend(),
                                   [](const pizzacore::Session& session) { return !session.closed; });
    if (open == db.sessions.rend()) return std::nullopt;
    return open->id;
}

} // namespace

ClosingReports::ClosingReports(AppStore& store, QObject* parent, int pollInterval, int patience)
    : QObject(parent)
    , store_(store)
    , printing_(
          new TicketService(store, TicketService::standardRenderer(), this, pollInterval, patience, false))
    , open_(openShift(store.db())) {
    connect(&store_, &AppStore::dbChanged, this, &ClosingReports::documentChanged);
}

// A report ready to hand on, or the reason there is none (after the caller's own sentence).
struct ClosingReports::Produced {
    std::optional<Rendered> rendered;
    QString reason;
};

ClosingReports::Produced ClosingReports::shiftReport(const pizzacore::Database& db,
                                                     const pizzacore::Uuid& session) {
    const std::optional<pizzacore::ClosingReport> report = pizzacore::ClosingReport::ofShift(db, session);
    if (!report) return {std::nullopt, QStringLiteral("El tramo ya no está en los datos.")};
    const QString title = QStringLiteral("Informe de cierre ") + qtext(report->day) +
                          QStringLiteral(" tramo ") + QString::number(report->shifts.front().ordinal);
    return {Rendered{{pizzacore::ClosingReportRenderer::render(*report, db.settings), title, {}},
                     qtext(pizzacore::ClosingReportRenderer::suggestedName(*report, db.settings.paper))},
            {}};
}

ClosingReports::Produced ClosingReports::dayReport(const pizzacore::Database& db, const std::string& day) {
    const pizzacore::ClosingReport report = pizzacore::ClosingReport::ofDay(db, day);
    return {Rendered{{pizzacore::ClosingReportRenderer::render(report, db.settings),
                      QStringLiteral("Informe de cierre ") + qtext(day),
                      {}},
                     qtext(pizzacore::ClosingReportRenderer::suggestedName(report, db.settings.paper))},
            {}};
}

void ClosingReports::produce(std::function<Produced(const pizzacore::Database&)> make, const QString& failure,
                             Use use, bool direct) {
    // The task owns everything it reads: a copy of the document (records are shared, so copying is
    // cheap and the writer never touches them) and its own function. Nothing of this object is
    // read on the pool thread, so this object may go while the task runs; its result then goes
    // unread with the promise.
    auto promise = std::make_shared<QPromise<Produced>>();
    auto* watcher = new QFutureWatcher<Produced>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, failure, use, direct] {
        watcher->deleteLater();
        const QFuture<Produced> future = watcher->future();
        if (future.resultCount() == 0) {
            store_.setMessage(failure);
        } else if (Produced produced = future.result(); !produced.rendered) {
            store_.setMessage(failure + QLatin1Char(' ') + produced.reason);
        } else {
            produced.rendered->document.failure = failure;
            (this->*use)(*produced.rendered, direct);
        }
        emit reportHandled();
    });
    watcher->setFuture(promise->future());
    QThreadPool::globalInstance()->start(
        [promise, make = std::move(make), db = pizzacore::Database(store_.db())]() {
            promise->start();
            Produced produced;
            try {
                produced = make(db);
            } catch (...) {
                produced = {std::nullopt, describeFailure(std::current_exception())};
            }
            promise->addResult(std::move(produced));
            promise->finish();
        });
}

void ClosingReports::print(const Rendered& rendered, bool direct) {
    printing_->printDocument(rendered.document, direct);
}

void ClosingReports::preview(const Rendered& rendered, bool) {
    printing_->previewDocument(rendered.document, rendered.name);
}

void ClosingReports::printShift(const pizzacore::Uuid& session) {
    produce([session](const pizzacore::Database& db) { return shiftReport(db, session); }, notPrinted,
            &ClosingReports::print, false);
}

void ClosingReports::printDay(const std::string& day) {
    produce([day](const pizzacore::Database& db) { return dayReport(db, day); }, notPrinted,
            &ClosingReports::print, false);
}

void ClosingReports::previewShift(const pizzacore::Uuid& session) {
    produce([session](const pizzacore::Database& db) { return shiftReport(db, session); },
            QStringLiteral("No se ha guardado el informe."), &ClosingReports::preview, false);
}

void ClosingReports::previewDay(const std::string& day) {
    produce([day](const pizzacore::Database& db) { return dayReport(db, day); },
            QStringLiteral("No se ha guardado el informe."), &ClosingReports::preview, false);
}

void ClosingReports::documentChanged() {
    const pizzacore::Database& db = store_.db();
    const std::optional<pizzacore::Uuid> closing = open_;
    open_ = openShift(db);
    if (!closing || closing == open_ || !db.settings.printReportOnClose.value_or(false)) return;
    const auto session = std::find_if(db.sessions.begin(), db.sessions.end(),
                                      [&](const pizzacore::Session& s) { return s.id == *closing; });
    // Gone (another document restored) or still open: nothing closed here.
    if (session == db.sessions.end() || !session->closed) return;
    produce([session = *closing](const pizzacore::Database& db) { return shiftReport(db, session); },
            notPrintedAtClose, &ClosingReports::print, true);
}

} // namespace velmora
