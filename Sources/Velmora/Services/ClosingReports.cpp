#include <Velmora/Services/ClosingReports.hpp>

#include <Velmora/Platform/QtText.hpp>
#include <Velmora/Services/TicketService.hpp>
#include <Velmora/Stores/AppStore.hpp>

#include <PizzaCore/Documents/ClosingReportRenderer.hpp>
#include <PizzaCore/Models/ClosingReport.hpp>
#include <PizzaCore/Models/Database.hpp>

#include <algorithm>
#include <exception>

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

std::optional<ClosingReports::Rendered> ClosingReports::shiftReport(const pizzacore::Uuid& session,
                                                                    const QString& failure) {
    const pizzacore::Database& db = store_.db();
    try {
        const std::optional<pizzacore::ClosingReport> report = pizzacore::ClosingReport::ofShift(db, session);
        if (!report) {
            store_.setMessage(failure + QStringLiteral(" El tramo ya no está en los datos."));
            return std::nullopt;
        }
        const QString title = QStringLiteral("Informe de cierre ") + qtext(report->day) +
                              QStringLiteral(" tramo ") + QString::number(report->shifts.front().ordinal);
        return Rendered{{pizzacore::ClosingReportRenderer::render(*report, db.settings), title, failure},
                        qtext(pizzacore::ClosingReportRenderer::suggestedName(*report, db.settings.paper))};
    } catch (...) {
        store_.setMessage(failure + QLatin1Char(' ') + describeFailure(std::current_exception()));
        return std::nullopt;
    }
}

std::optional<ClosingReports::Rendered> ClosingReports::dayReport(const std::string& day,
                                                                  const QString& failure) {
    const pizzacore::Database& db = store_.db();
    try {
        const pizzacore::ClosingReport report = pizzacore::ClosingReport::ofDay(db, day);
        return Rendered{{pizzacore::ClosingReportRenderer::render(report, db.settings),
                         QStringLiteral("Informe de cierre ") + qtext(day), failure},
                        qtext(pizzacore::ClosingReportRenderer::suggestedName(report, db.settings.paper))};
    } catch (...) {
        store_.setMessage(failure + QLatin1Char(' ') + describeFailure(std::current_exception()));
        return std::nullopt;
    }
}

void ClosingReports::printShift(const pizzacore::Uuid& session) {
    if (std::optional<Rendered> rendered = shiftReport(session, notPrinted))
        printing_->printDocument(std::move(rendered->document), false);
}

void ClosingReports::printDay(const std::string& day) {
    if (std::optional<Rendered> rendered = dayReport(day, notPrinted))
        printing_->printDocument(std::move(rendered->document), false);
}

void ClosingReports::previewShift(const pizzacore::Uuid& session) {
    if (const std::optional<Rendered> rendered =
            shiftReport(session, QStringLiteral("No se ha guardado el informe.")))
        printing_->previewDocument(rendered->document, rendered->name);
}

void ClosingReports::previewDay(const std::string& day) {
    if (const std::optional<Rendered> rendered =
            dayReport(day, QStringLiteral("No se ha guardado el informe.")))
        printing_->previewDocument(rendered->document, rendered->name);
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
    if (std::optional<Rendered> rendered = shiftReport(*closing, notPrintedAtClose))
        printing_->printDocument(std::move(rendered->document), true);
}

} // namespace velmora
