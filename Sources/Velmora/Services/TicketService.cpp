#include <Velmora/Services/TicketService.hpp>

#include <Velmora/Services/CupsJob.hpp>
#include <Velmora/Services/PdfPages.hpp>
#include <Velmora/Services/PlatformServices.hpp>
#include <Velmora/Stores/AppStore.hpp>

#include <PizzaCore/Documents/TicketRenderer.hpp>
#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Models/Enumerations.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

const QString TicketService::notCompleted =
    QStringLiteral("Impresión cancelada o no completada. El pedido sigue guardado. El siguiente intento "
                   "llevará la marca COPIA.");

namespace {

const QString kept = QStringLiteral("El pedido sigue guardado. ");

// A job whose state the server cannot tell this many times in a row is no longer followed.
constexpr int unknownLimit = 10;

} // namespace

// Sends jobs and follows them, on the service's own thread; reports back to the service on the
// user-interface thread. The service outlives the thread, which it stops before going away.
class TicketService::Jobs : public QObject {
public:
    Jobs(TicketService& service, int pollInterval)
        : service_(service)
        , pollInterval_(pollInterval) {}

    void submit(const CupsJob::Request& request, const pizzacore::Bytes& pdf) {
        const CupsJob::Submission submission = CupsJob::submit(request, pdf);
        const QString failure = QString::fromStdString(submission.failure);
        report([job = submission.job, failure](TicketService& service) { service.submitted(job, failure); });
        if (submission.job <= 0) return;
        followed_.push_back({submission.job, 0});
        if (!timer_) {
            timer_ = new QTimer(this);
            timer_->setInterval(pollInterval_);
            connect(timer_, &QTimer::timeout, this, [this] { poll(); });
        }
        timer_->start();
    }

private:
    struct Followed {
        int job;
        int unknowns;
    };

    void poll() {
        for (auto it = followed_.begin(); it != followed_.end();) {
            const CupsJob::State state = CupsJob::state(it->job);
            bool over = true;
            switch (state) {
            case CupsJob::State::waiting:
                // A queue that is paused or a printer out of paper keeps the job waiting; that
                // is no failure, and the job is followed for as long as it takes.
                it->unknowns = 0;
                over = false;
                break;
            case CupsJob::State::completed:
                report([](TicketService& service) { service.ended(true); });
                break;
            case CupsJob::State::cancelled:
            case CupsJob::State::aborted:
            case CupsJob::State::stopped:
                report([](TicketService& service) { service.ended(false); });
                break;
            case CupsJob::State::unknown:
                // The server forgot the job or went away: nothing honest can be said about it.
                over = ++it->unknowns >= unknownLimit;
                if (over) report([](TicketService& service) { service.ended(true); });
                break;
            }
            it = over ? followed_.erase(it) : it + 1;
        }
        if (followed_.empty()) timer_->stop();
    }

    template <class F>
    void report(F call) {
        TicketService* service = &service_;
        QMetaObject::invokeMethod(
            service, [service, call] { call(*service); }, Qt::QueuedConnection);
    }

    TicketService& service_;
    int pollInterval_;
    QTimer* timer_ = nullptr;
    std::vector<Followed> followed_;
};

TicketService::Renderer TicketService::standardRenderer() {
    return &pizzacore::TicketRenderer::render;
}

TicketService::TicketService(AppStore& store, Renderer renderer, QObject* parent, int pollInterval)
    : QObject(parent)
    , store_(store)
    , renderer_(std::move(renderer))
    , jobs_(new Jobs(*this, pollInterval)) {
    thread_.setObjectName(QStringLiteral("TicketPrinting"));
    jobs_->moveToThread(&thread_);
    // The thread deletes its worker as it finishes, timers and all.
    connect(&thread_, &QThread::finished, jobs_, &QObject::deleteLater);
    thread_.start();
}

TicketService::~TicketService() {
    thread_.quit();
    thread_.wait();
}

QString TicketService::suggestedName(const pizzacore::Order& order, pizzacore::Paper paper) {
    const std::string_view label = pizzacore::rawValue(paper);
    return QStringLiteral("Pedido-") + QString::number(order.number) + QLatin1Char('-') +
           QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size())) + QStringLiteral(".pdf");
}

// The order as the document holds it now, which is what gets printed; the caller's copy may be
// older than the last transaction.
std::optional<pizzacore::Order> TicketService::current(const pizzacore::Order& order) const {
    for (const pizzacore::Order& stored : store_.db().orders)
        if (stored.id == order.id) return stored;
    return std::nullopt;
}

void TicketService::printOrder(const pizzacore::Order& given) {
    const pizzacore::Order order = current(given).value_or(given);
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
    // The preferred printer when it still exists, otherwise the system's default.
    const std::string printer =
        CupsJob::printerExists(settings.printer) ? settings.printer : CupsJob::defaultPrinter();
    // Roll paper gives pages of different heights; the tallest decides the paper.
    const double width = pages->front().width;
    double height = 0;
    for (const PageSize& page : *pages)
        height = std::max(height, page.height);
    if (!(width > 0) || !(height > 0)) {
        store_.setMessage(kept + QStringLiteral("No se pudo crear el trabajo de impresión."));
        return;
    }

    // The attempt counts before the dialog opens, so that whatever happens next the following
    // tickets carry the copy mark.
    if (current(order)) {
        const pizzacore::Instant now = store_.now();
        const Outcome outcome = store_.transact([id = order.id, now](pizzacore::Database& db) {
            for (pizzacore::Order& stored : db.orders) {
                if (stored.id != id) continue;
                ++stored.printAttempts;
                db.record("Intento de impresión", std::to_string(stored.number), now);
                return;
            }
        });
        if (!outcome) {
            store_.setMessage(outcome.failure);
            return;
        }
    }

    const QString title = QStringLiteral("Pedido ") + QString::number(order.number);
    const QPointer<TicketService> alive(this);
    const std::optional<PrintChoice> choice = store_.platform().choosePrinter(
        {title, QString::fromStdString(printer), QSizeF(width, height)}, nullptr);
    if (!alive) return;
    if (!choice || choice->printer.isEmpty()) {
        store_.setMessage(notCompleted);
        emit printFinished(false);
        return;
    }
    CupsJob::Request request{choice->printer.toStdString(), title.toStdString(), width, height,
                             std::max(1, choice->copies)};
    ++inProgress_;
    QMetaObject::invokeMethod(
        jobs_,
        [jobs = jobs_, request = std::move(request), pdf = std::move(pdf)] { jobs->submit(request, pdf); },
        Qt::QueuedConnection);
}

void TicketService::submitted(int job, const QString& failure) {
    if (job > 0) {
        emit jobAccepted(job);
        return;
    }
    // Refused at once: the queue does not exist, rejects jobs, or the server is unreachable.
    Q_UNUSED(failure);
    ended(false);
}

void TicketService::ended(bool completed) {
    inProgress_ = std::max(0, inProgress_ - 1);
    if (!completed) store_.setMessage(notCompleted);
    emit printFinished(completed);
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

} // namespace velmora
