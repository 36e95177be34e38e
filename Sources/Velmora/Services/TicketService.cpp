#include <Velmora/Services/TicketService.hpp>

#include <Velmora/Platform/CupsJob.hpp>
#include <Velmora/Platform/PdfPages.hpp>
#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Platform/QtText.hpp>
#include <Velmora/Stores/AppStore.hpp>

#include <PizzaCore/Documents/TicketRenderer.hpp>
#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Models/Enumerations.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>

#include <QDeadlineTimer>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

const QString TicketService::notCompleted =
    QStringLiteral("Impresión cancelada o no completada. El pedido sigue guardado. El siguiente intento "
                   "llevará la marca COPIA.");

namespace {

const QString kept = QStringLiteral("El pedido sigue guardado. ");

// A job whose state the server cannot tell this many times in a row, or for this long, is given
// up for lost: it is reported as not completed, since nothing says it printed.
constexpr int unknownLimit = 10;
constexpr auto unknownTime = std::chrono::seconds(30);

} // namespace

const QString TicketService::silentPrintSystem =
    kept + QStringLiteral("No se pudo crear el trabajo de impresión. ") +
    QString::fromUtf8(CupsJob::silentServer);

const QString TicketService::noPrinter =
    kept + QStringLiteral("No hay ninguna impresora disponible para imprimir al confirmar; imprime sus "
                          "tickets desde Pedidos.");

QString TicketService::drawerFailure(const QString& reason) {
    return QStringLiteral("No se pudo abrir el cajón: ") + reason;
}

QString TicketService::notCompletedBecause(const QString& reason) {
    if (reason.isEmpty()) return notCompleted;
    return notCompleted + QStringLiteral(" Motivo: ") + reason;
}

// Asks CUPS for printers, sends jobs and follows them, on the service's own thread, and reports
// back through its signals, queued to the service on the user-interface thread. It refers to
// nothing of the service, so that a thread still waiting on libcups when the service goes away
// can end on its own: it owns its copies of every request and document, and its stop flag.
class TicketJobs : public QObject {
    Q_OBJECT
public:
    TicketJobs(int pollInterval, int patience)
        : pollInterval_(pollInterval) {
        limits_.patience = std::chrono::milliseconds(patience);
        limits_.stop = &stop_;
    }

    // Makes every exchange with CUPS in progress or to come give up, within about a second (libcups
    // waits up to a second for a request's "continue" before it asks again).
    void stop() { stop_ = true; }

    // The printer to propose for print `ticket`: `preferred` when CUPS has it, else CUPS's
    // default (empty when none or when CUPS cannot be reached).
    void findPrinter(int ticket, const std::string& preferred) {
        const CupsJob::Destinations found = CupsJob::destinations(limits_);
        const bool known = !preferred.empty() &&
                           std::find(found.names.begin(), found.names.end(), preferred) != found.names.end();
        emit printerFound(ticket, QString::fromStdString(known ? preferred : found.defaultName),
                          found.silent);
    }

    void submit(const CupsJob::Request& request, const pizzacore::Bytes& pdf) {
        const CupsJob::Submission submission = CupsJob::submit(request, pdf, limits_);
        emit submitted(submission.job, QString::fromStdString(submission.failure));
        if (submission.job <= 0) return;
        followed_.push_back({submission.job, 0, {}});
        if (!timer_) {
            timer_ = new QTimer(this);
            timer_->setInterval(pollInterval_);
            connect(timer_, &QTimer::timeout, this, [this] { poll(); });
        }
        timer_->start();
    }

    // Sends the drawer pulse `pulse` as a raw job to `preferred` when CUPS has it, else to CUPS's
    // default, as tickets go; a pulse is short and needs no following once CUPS accepted it.
    void openDrawer(int pulse, const std::string& preferred) {
        const CupsJob::Destinations found = CupsJob::destinations(limits_);
        if (found.silent || found.unreachable) {
            emit drawerSent(
                pulse, QString::fromUtf8(found.silent ? CupsJob::silentServer : CupsJob::unreachableServer));
            return;
        }
        const bool known = !preferred.empty() &&
                           std::find(found.names.begin(), found.names.end(), preferred) != found.names.end();
        const std::string printer = known ? preferred : found.defaultName;
        if (printer.empty()) {
            emit drawerSent(pulse, QStringLiteral("no hay ninguna impresora disponible."));
            return;
        }
        const CupsJob::Submission submission =
            CupsJob::submitRaw(printer, "Apertura de cajón", TicketService::drawerPulse, limits_);
        emit drawerSent(pulse, submission.job > 0 ? QString() : QString::fromStdString(submission.failure));
    }

signals:
    void printerFound(int ticket, const QString& printer, bool silent);
    void submitted(int job, const QString& failure);
    void ended(int job, bool completed, const QString& reason);
    void drawerSent(int pulse, const QString& failure);

private:
    struct Followed {
        int job;
        int unknowns;
        std::chrono::steady_clock::time_point unknownSince;
    };

    void poll() {
        for (auto it = followed_.begin(); it != followed_.end();) {
            if (stop_) return;
            const CupsJob::Status status = CupsJob::status(it->job, limits_);
            const QString reason = QString::fromStdString(status.reason);
            bool over = true;
            switch (status.state) {
            case CupsJob::State::waiting:
                // A queue that is paused or a printer out of paper keeps the job waiting; that
                // is no failure, and the job is followed for as long as it takes.
                it->unknowns = 0;
                over = false;
                break;
            case CupsJob::State::completed:
                emit ended(it->job, true, {});
                break;
            case CupsJob::State::cancelled:
            case CupsJob::State::aborted:
            case CupsJob::State::stopped:
            case CupsJob::State::gone:
                emit ended(it->job, false, reason);
                break;
            case CupsJob::State::unknown: {
                // The server may be restarting; a job it cannot tell about for long is lost.
                const auto now = std::chrono::steady_clock::now();
                if (it->unknowns++ == 0) it->unknownSince = now;
                over = it->unknowns >= unknownLimit || now - it->unknownSince >= unknownTime;
                if (over) emit ended(it->job, false, reason);
                break;
            }
            }
            it = over ? followed_.erase(it) : it + 1;
        }
        if (followed_.empty()) timer_->stop();
    }

    int pollInterval_;
    std::atomic<bool> stop_ = false;
    CupsJob::Limits limits_;
    QTimer* timer_ = nullptr;
    std::vector<Followed> followed_;
};

namespace {

QString jobTitle(const pizzacore::Order& order) {
    return QStringLiteral("Pedido ") + QString::number(order.number);
}

} // namespace

TicketService::Renderer TicketService::standardRenderer() {
    return &pizzacore::TicketRenderer::render;
}

TicketService::TicketService(AppStore& store, Renderer renderer, QObject* parent, int pollInterval,
                             int patience, bool followConfirmations)
    : QObject(parent)
    , store_(store)
    , renderer_(std::move(renderer))
    , patience_(patience)
    , thread_(new QThread)
    , jobs_(new TicketJobs(pollInterval, patience)) {
    thread_->setObjectName(QStringLiteral("TicketPrinting"));
    jobs_->moveToThread(thread_);
    // The thread deletes its worker as it finishes, timers and all.
    connect(thread_, &QThread::finished, jobs_, &QObject::deleteLater);
    connect(jobs_, &TicketJobs::printerFound, this, &TicketService::printerFound, Qt::QueuedConnection);
    connect(jobs_, &TicketJobs::submitted, this, &TicketService::submitted, Qt::QueuedConnection);
    connect(jobs_, &TicketJobs::ended, this, &TicketService::ended, Qt::QueuedConnection);
    connect(jobs_, &TicketJobs::drawerSent, this, &TicketService::drawerSent, Qt::QueuedConnection);
    thread_->start();
    // Printing on confirming follows the controller's confirmations, whichever screen made them.
    // So does opening the drawer on a cash payment. A second service (for other documents) does
    // neither, or a confirmation would print twice and a payment pulse the drawer twice.
    if (followConfirmations) {
        connect(&store_, &AppStore::orderConfirmed, this, &TicketService::printConfirmed);
        connect(&store_, &AppStore::paymentRegistered, this, &TicketService::openDrawerOnPayment);
    }
}

TicketService::~TicketService() {
    jobs_->stop();
    thread_->quit();
    if (thread_->wait(QDeadlineTimer(stopWait))) {
        delete thread_;
        return;
    }
    // Still inside libcups (a connection that libcups does not let a flag interrupt): the thread
    // and its worker are left to end by themselves. They read nothing of this service, and the
    // signals queued to it die with it.
    qWarning("Velmora: la impresión en curso no ha terminado a tiempo; se abandona.");
}

QString TicketService::suggestedName(const pizzacore::Order& order, pizzacore::Paper paper) {
    const std::string_view label = pizzacore::rawValue(paper);
    return QStringLiteral("Pedido-") + QString::number(order.number) + QLatin1Char('-') + qtext(label) +
           QStringLiteral(".pdf");
}

// The order as the document holds it now, which is what gets printed; the caller's copy may be
// older than the last transaction.
std::optional<pizzacore::Order> TicketService::current(const pizzacore::Order& order) const {
    for (const pizzacore::Order& stored : store_.db().orders)
        if (stored.id == order.id) return stored;
    return std::nullopt;
}

void TicketService::printOrder(const pizzacore::Order& given) {
    start(current(given).value_or(given), false);
}

void TicketService::printConfirmed(const pizzacore::Uuid& orderID) {
    if (!store_.db().settings.printsOnConfirm()) return;
    // An order gone by now (a restore in between) has nothing left to print.
    for (const pizzacore::Order& stored : store_.db().orders)
        if (stored.id == orderID) return start(stored, true);
}

void TicketService::start(const pizzacore::Order& order, bool direct) {
    const pizzacore::Settings settings = store_.db().settings;
    pizzacore::Bytes pdf;
    try {
        pdf = renderer_(order, settings, store_.db().paymentFor(order), order.printAttempts > 0);
    } catch (...) {
        store_.setMessage(kept + describeFailure(std::current_exception()));
        return;
    }
    const std::optional<std::vector<PageSize>> pages = pdfPageSizes(pdf);
    if (!pages) {
        store_.setMessage(kept + QStringLiteral("No se pudo abrir el ticket para impresión."));
        return;
    }
    // Roll paper gives pages of different heights; the tallest decides the paper.
    const double width = pages->front().width;
    double height = 0;
    for (const PageSize& page : *pages)
        height = std::max(height, page.height);
    if (!(width > 0) || !(height > 0)) {
        store_.setMessage(kept + QStringLiteral("No se pudo crear el trabajo de impresión."));
        return;
    }

    prepare(Preparation{order, std::move(pdf), jobTitle(order), QString(), width, height, nullptr, direct},
            settings.printer);
}

void TicketService::printDocument(Document document, bool direct) {
    const std::optional<std::vector<PageSize>> pages = pdfPageSizes(document.pdf);
    double height = 0;
    if (pages)
        for (const PageSize& page : *pages)
            height = std::max(height, page.height);
    const double width = pages ? pages->front().width : 0;
    if (!(width > 0) || !(height > 0)) {
        store_.setMessage(document.failure + QStringLiteral(" No se pudo crear el trabajo de impresión."));
        emit printFinished(false);
        return;
    }
    prepare(Preparation{std::nullopt, std::move(document.pdf), document.title, document.failure, width,
                        height, nullptr, direct},
            store_.db().settings.printer);
}

void TicketService::prepare(Preparation preparation, const std::string& preferred) {
    // The printer to propose comes from CUPS, on the service's thread; the window goes on while
    // it answers, and stops waiting a little after the thread itself gives up.
    const int ticket = ++nextTicket_;
    auto* giveUp = new QTimer(this);
    giveUp->setSingleShot(true);
    giveUp->setInterval(patience_ + 1000);
    connect(giveUp, &QTimer::timeout, this, [this, ticket] { unanswered(ticket); });
    preparation.giveUp = giveUp;
    preparing_.emplace(ticket, std::move(preparation));
    giveUp->start();
    QMetaObject::invokeMethod(
        jobs_, [jobs = jobs_, ticket, preferred] { jobs->findPrinter(ticket, preferred); },
        Qt::QueuedConnection);
}

void TicketService::printerFound(int ticket, const QString& printer, bool silent) {
    const auto found = preparing_.find(ticket);
    if (found == preparing_.end()) return; // already given up
    const Preparation preparation = std::move(found->second);
    preparing_.erase(found);
    preparation.giveUp->deleteLater();
    if (silent) {
        unansweredPrint(preparation.failure);
        return;
    }
    // Unasked printing needs a printer to go to; without one nothing is sent and nothing counts.
    if (preparation.direct && printer.isEmpty()) {
        store_.setMessage(preparation.order ? noPrinter
                                            : preparation.failure +
                                                  QStringLiteral(" No hay ninguna impresora disponible."));
        emit printFinished(false);
        return;
    }
    choose(preparation, printer);
}

void TicketService::unanswered(int ticket) {
    const auto found = preparing_.find(ticket);
    if (found == preparing_.end()) return;
    found->second.giveUp->deleteLater();
    const QString failure = found->second.failure;
    preparing_.erase(found);
    unansweredPrint(failure);
}

// A scheduler that accepts connections and does not answer would hold the system print dialog,
// which asks it for its printers on the window's thread, for minutes: the print stops here,
// before the attempt counts.
void TicketService::unansweredPrint(const QString& failure) {
    store_.setMessage(failure.isEmpty()
                          ? silentPrintSystem
                          : failure + QLatin1Char(' ') + QString::fromUtf8(CupsJob::silentServer));
    emit printFinished(false);
}

void TicketService::choose(const Preparation& preparation, const QString& printer) {
    // The attempt counts before the dialog opens, so that whatever happens next the following
    // tickets carry the copy mark. A failure to count it is in the controller's message and
    // nothing is printed; an order no longer stored counts nothing and still prints.
    if (!preparation.order || !current(*preparation.order)) {
        askForPrinter(preparation, printer);
        return;
    }
    store_.countPrintAttempt(preparation.order->id, this,
                             [this, preparation, printer](const Outcome& outcome) {
                                 if (outcome) askForPrinter(preparation, printer);
                             });
}

void TicketService::askForPrinter(const Preparation& preparation, const QString& printer) {
    if (preparation.direct) {
        send(preparation, printer, 1);
        return;
    }
    const QPointer<TicketService> alive(this);
    const std::optional<PrintChoice> choice = store_.platform().choosePrinter(
        {preparation.title, printer, QSizeF(preparation.width, preparation.height)}, nullptr);
    // The dialog runs its own event loop, in which this service may go.
    if (!alive) return;
    if (!choice || choice->printer.isEmpty()) {
        store_.setMessage(preparation.failure.isEmpty()
                              ? notCompleted
                              : preparation.failure + QStringLiteral(" Impresión cancelada."));
        emit printFinished(false);
        return;
    }
    send(preparation, choice->printer, choice->copies);
}

void TicketService::send(const Preparation& preparation, const QString& printer, int copies) {
    CupsJob::Request request{printer.toStdString(), preparation.title.toStdString(), preparation.width,
                             preparation.height, std::max(1, copies)};
    ++inProgress_;
    sending_.push_back(preparation.failure);
    QMetaObject::invokeMethod(
        jobs_,
        [jobs = jobs_, request = std::move(request), pdf = preparation.pdf] { jobs->submit(request, pdf); },
        Qt::QueuedConnection);
}

void TicketService::submitted(int job, const QString& failure) {
    QString sentence;
    if (!sending_.empty()) {
        sentence = std::move(sending_.front());
        sending_.pop_front();
    }
    if (job > 0) {
        following_[job] = sentence;
        emit jobAccepted(job);
        return;
    }
    // Refused at once: the queue does not exist, rejects jobs, or the server is unreachable.
    following_[job] = sentence;
    ended(job, false, failure);
}

void TicketService::ended(int job, bool completed, const QString& reason) {
    inProgress_ = std::max(0, inProgress_ - 1);
    QString sentence;
    if (const auto found = following_.find(job); found != following_.end()) {
        sentence = found->second;
        following_.erase(found);
    }
    if (!completed)
        store_.setMessage(sentence.isEmpty() ? notCompletedBecause(reason)
                          : reason.isEmpty() ? sentence
                                             : sentence + QStringLiteral(" Motivo: ") + reason);
    emit printFinished(completed);
}

void TicketService::openDrawerOnPayment(const pizzacore::Uuid& orderID) {
    const pizzacore::Database& db = store_.db();
    if (!db.settings.opensDrawerOnCash()) return;
    for (const pizzacore::Payment& payment : db.payments)
        if (payment.orderID == orderID) {
            if (payment.method == pizzacore::PaymentMethod::cash) openDrawer(orderID);
            return;
        }
}

void TicketService::openDrawer(const pizzacore::Uuid& order) {
    const int pulse = ++nextPulse_;
    drawers_.emplace(pulse, order);
    QMetaObject::invokeMethod(
        jobs_,
        [jobs = jobs_, pulse, preferred = store_.db().settings.printer] {
            jobs->openDrawer(pulse, preferred);
        },
        Qt::QueuedConnection);
}

// The audit entry follows the pulse CUPS accepted, not the attempt: the trail says the drawer
// was opened only when the printer has the pulse to open it.
void TicketService::drawerSent(int pulse, const QString& failure) {
    const auto found = drawers_.find(pulse);
    if (found == drawers_.end()) return;
    const pizzacore::Uuid order = found->second;
    drawers_.erase(found);
    if (!failure.isEmpty()) {
        store_.setMessage(drawerFailure(failure));
        emit drawerFinished(false);
        return;
    }
    // A failure to record it is in the controller's message; the drawer is open all the same.
    store_.recordDrawerOpening(order, this, [this](const Outcome&) { emit drawerFinished(true); });
}

void TicketService::preview(const pizzacore::Order& given) {
    const pizzacore::Order order = current(given).value_or(given);
    const pizzacore::Settings settings = store_.db().settings;
    pizzacore::Bytes pdf;
    try {
        pdf = renderer_(order, settings, store_.db().paymentFor(order), order.printAttempts > 0);
    } catch (...) {
        store_.setMessage(describeFailure(std::current_exception()));
        return;
    }
    const QPointer<TicketService> alive(this);
    const std::optional<std::filesystem::path> location =
        store_.platform().chooseSaveLocation(QStringLiteral("Guardar PDF y abrir vista previa"),
                                             suggestedName(order, settings.paper), FileKind::pdf, nullptr);
    if (!alive || !location) return;
    try {
        // The ticket carries the customer's name, telephone and address: for the user only.
        pizzacore::AtomicFile::write(
            *location, std::string_view(reinterpret_cast<const char*>(pdf.data()), pdf.size()), 0600);
    } catch (...) {
        store_.setMessage(describeFailure(std::current_exception()));
        return;
    }
    if (!store_.platform().openWithDefaultApplication(*location))
        store_.setMessage(QStringLiteral("El PDF se ha guardado, pero el sistema no ha podido abrirlo."));
}

void TicketService::previewDocument(const Document& document, const QString& suggestedName) {
    const QPointer<TicketService> alive(this);
    const std::optional<std::filesystem::path> location = store_.platform().chooseSaveLocation(
        QStringLiteral("Guardar PDF y abrir vista previa"), suggestedName, FileKind::pdf, nullptr);
    if (!alive || !location) return;
    try {
        pizzacore::AtomicFile::write(
            *location,
            std::string_view(reinterpret_cast<const char*>(document.pdf.data()), document.pdf.size()), 0600);
    } catch (...) {
        store_.setMessage(describeFailure(std::current_exception()));
        return;
    }
    if (!store_.platform().openWithDefaultApplication(*location))
        store_.setMessage(QStringLiteral("El PDF se ha guardado, pero el sistema no ha podido abrirlo."));
}

} // namespace velmora

#include "TicketService.moc"
