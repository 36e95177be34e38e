#include <Velmora/Stores/AppStore.hpp>

#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Platform/QtText.hpp>

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Json/Json.hpp>
#include <PizzaCore/Models/PhoneKey.hpp>
#include <PizzaCore/Persistence/DataDirectory.hpp>
#include <PizzaCore/Persistence/Repository.hpp>

#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <string>
#include <string_view>
#include <system_error>

namespace velmora {

namespace {

// The Spanish text of the system errors a data directory meets in practice; anything else keeps
// the system's own wording.
std::string spanishReason(const std::error_code& code) {
    if (code.category() != std::generic_category() && code.category() != std::system_category())
        return code.message();
    switch (code.value()) {
    case EACCES:
    case EPERM:
        return "Permiso denegado";
    case ENOENT:
        return "No existe el archivo o la carpeta";
    case ENOTDIR:
        return "Una parte de la ruta no es una carpeta";
    case EISDIR:
        return "Es una carpeta";
    case EEXIST:
        return "Ya existe";
    case ENOSPC:
        return "No queda espacio en el disco";
    case EDQUOT:
        return "Se ha superado la cuota de disco";
    case EROFS:
        return "El disco es de solo lectura";
    case EIO:
        return "Error de entrada o salida del disco";
    case ENAMETOOLONG:
        return "El nombre es demasiado largo";
    case EMFILE:
    case ENFILE:
        return "Hay demasiados archivos abiertos";
    case ELOOP:
        return "Demasiados enlaces simbólicos en la ruta";
    default:
        return code.message();
    }
}

// std::filesystem_error's what() reads "filesystem error: <what>: <reason> [<path>]"; the operator
// sees "<what>: <reason en español> [<path>]".
std::string describeFileSystem(const std::filesystem::filesystem_error& error) {
    std::string text = error.what();
    constexpr std::string_view prefix = "filesystem error: ";
    if (text.starts_with(prefix)) text.erase(0, prefix.size());
    if (error.code()) {
        const std::string english = ": " + error.code().message();
        if (const auto at = text.rfind(english); at != std::string::npos)
            text.replace(at, english.size(), ": " + spanishReason(error.code()));
    }
    return text;
}

} // namespace

QString describeFailure(const std::exception_ptr& error) {
    if (!error) return QStringLiteral("Error desconocido.");
    try {
        std::rethrow_exception(error);
    } catch (const pizzacore::PCError& failure) {
        return qtext(failure.message());
    } catch (const pizzacore::JSONError& failure) {
        return qtext(failure.what());
    } catch (const std::filesystem::filesystem_error& failure) {
        return qtext(describeFileSystem(failure));
    } catch (const std::system_error& failure) {
        return QStringLiteral("Error del sistema: ") + qtext(spanishReason(failure.code()));
    } catch (const std::bad_alloc&) {
        return QStringLiteral("No hay memoria suficiente para completar la operación.");
    } catch (const std::exception& failure) {
        return QStringLiteral("Error inesperado: ") + qtext(failure.what());
    } catch (...) {
        return QStringLiteral("Error inesperado.");
    }
}

AppStore::AppStore(pizzacore::Clock clock, PlatformServices& platform, QObject* parent)
    : QObject(parent)
    , clock_(std::move(clock))
    , platform_(platform) {
    connect(&engine_, &TransactionEngine::published, this, &AppStore::published);
    connect(&engine_, &TransactionEngine::savingChanged, this, &AppStore::savingChanged);
    connect(&engine_, &TransactionEngine::autosaveFailed, this,
            [this](const QString& description) { setMessage(description); });
}

AppStore::AppStore(std::filesystem::path dataDirectory, pizzacore::Clock clock, PlatformServices& platform,
                   QObject* parent)
    : AppStore(std::move(clock), platform, parent) {
    requestedDirectory_ = std::move(dataDirectory);
}

// The engine, destroyed with the controller, finishes what it was writing first.
AppStore::~AppStore() = default;

void AppStore::start() {
    startInBackground();
    engine_.finishOpening();
    // The reconciliation queued by the opening, and the day's copy should it close a shift.
    engine_.settle();
}

void AppStore::startInBackground() {
    if (started_) return;
    started_ = true;
    connect(this, &AppStore::dbChanged, this, &AppStore::keepDailyBackup);
    try {
        resolvedDirectory_ = requestedDirectory_ ? *requestedDirectory_ : pizzacore::dataDirectory();
    } catch (...) {
        enterFatal(describeFailure(std::current_exception()));
        return;
    }
    // Read before the opening writes anything: the newest of the document and its journal.
    for (const char* name : {"Velmora.json", "Velmora.journal", "Velmora.journal-wal"}) {
        std::error_code error;
        const auto written = std::filesystem::last_write_time(*resolvedDirectory_ / name, error);
        if (error) continue;
        const auto since = std::chrono::file_clock::to_sys(written).time_since_epoch();
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
        if (!lastWrittenBeforeStart_ || when > *lastWrittenBeforeStart_) lastWrittenBeforeStart_ = when;
    }
    opening_ = true;
    emit openingChanged();
    engine_.openInBackground(*resolvedDirectory_,
                             [this](const std::exception_ptr& failure) { opened(failure); });
}

void AppStore::opened(const std::exception_ptr& failure) {
    if (failure) {
        enterFatal(describeFailure(failure));
        endOpening();
        return;
    }
    // Closes what fell due while the application was not running; on a new directory this is the
    // first save, which creates the document file.
    const pizzacore::Instant now = clock_.now();
    transact([now](pizzacore::Database& db) { db.reconcile(now); }, this,
             [this](const Outcome& outcome) {
                 if (!outcome) enterFatal(outcome.failure);
                 endOpening();
             });
}

void AppStore::endOpening() {
    opening_ = false;
    emit openingChanged();
}

void AppStore::enterFatal(const QString& description) {
    engine_.refuse();
    fatal_ = QStringLiteral("No se han abierto los datos. ") + description +
             QStringLiteral("\nNo se creará una base vacía encima del archivo existente. Carpeta: ") +
             QString::fromStdString(location().string());
    emit fatalChanged();
}

std::filesystem::path AppStore::location() const {
    if (repository()) return repository()->directory();
    if (resolvedDirectory_) return *resolvedDirectory_;
    return requestedDirectory_.value_or(std::filesystem::path());
}

void AppStore::setDraft(const pizzacore::Draft& draft) {
    if (engine_.setDraft(draft)) emit draftChanged();
}

QWidget* AppStore::messageWindow() const {
    return messageWindow_.data();
}

void AppStore::setMessage(const QString& message, AlertKind kind, QWidget* window) {
    if (message_ == message) return;
    message_ = message;
    messageKind_ = kind;
    messageWindow_ = window ? window : flowWindow_.data();
    emit messageChanged();
}

void AppStore::clearMessage() {
    if (!message_) return;
    message_.reset();
    messageKind_ = AlertKind::warning;
    messageWindow_.clear();
    emit messageChanged();
}

AppStore::FlowWindow::FlowWindow(AppStore& store, QWidget* window)
    : store_(store)
    , previous_(store.flowWindow_) {
    store_.flowWindow_ = window;
}

AppStore::FlowWindow::~FlowWindow() {
    store_.flowWindow_ = previous_;
}

void AppStore::setSelectedTab(const QString& tab) {
    if (tab == selectedTab_) return;
    selectedTab_ = tab;
    emit selectedTabChanged();
}

void AppStore::setSelectedOrder(const std::optional<pizzacore::Uuid>& order) {
    if (order == selectedOrder_) return;
    selectedOrder_ = order;
    emit selectedOrderChanged();
}

void AppStore::showOrder(const pizzacore::Uuid& order) {
    setSelectedOrder(order);
    emit selectedOrderShown();
    setSelectedTab(QStringLiteral("Pedidos"));
}

Outcome AppStore::transact(const Change& change) {
    return engine_.transact(change);
}

void AppStore::transact(Change change, QObject* context, Then then) {
    engine_.transact(std::move(change), context, std::move(then));
}

Outcome AppStore::useRepository(const RepositoryJob& job) {
    return engine_.useRepository(job);
}

void AppStore::saveDraftSoon() {
    if (fatal_) return;
    engine_.saveDraftSoon();
}

void AppStore::flush() {
    engine_.settle();
}

void AppStore::fold() {
    if (fatal_) return;
    engine_.fold();
}

// The document and the draft are both in place before any screen hears of either, so a screen
// that reacts to one (and perhaps starts another transaction) always sees the document and draft
// of the same save.
void AppStore::published(bool draftReplaced) {
    phoneIndex_.update(db().orders);
    emit dbChanged();
    if (draftReplaced) emit draftChanged();
}

bool AppStore::saveDraft() {
    // The transaction itself puts the current draft into the document.
    const Outcome outcome = transact([](pizzacore::Database&) {});
    if (!outcome) setMessage(outcome.failure);
    return outcome.ok;
}

std::vector<pizzacore::Order> AppStore::recentOrders(std::string_view phone, std::size_t count) const {
    const std::vector<std::uint32_t>& positions = phoneIndex_.positions(pizzacore::phoneKey(phone));
    const std::size_t first = positions.size() > count ? positions.size() - count : 0;
    std::vector<pizzacore::Order> orders;
    for (std::size_t at = first; at < positions.size(); ++at)
        if (positions[at] < db().orders.size()) orders.push_back(db().orders[positions[at]]);
    return orders;
}

void AppStore::tick() {
    if (fatal_ || !repository()) return;
    // Reconciling changes something only when no session is open or the open one has reached its
    // scheduled end; any other tick would save an unchanged document. The open session need not
    // be the last one listed (a restored or hand-edited document can order them otherwise).
    const auto& sessions = db().sessions;
    const auto open = std::find_if(sessions.begin(), sessions.end(),
                                   [](const pizzacore::Session& session) { return !session.closed; });
    const pizzacore::Instant now = clock_.now();
    if (open != sessions.end() && now < open->scheduledEnd) return;
    if (const Outcome outcome = transact([now](pizzacore::Database& db) { db.reconcile(now); }); !outcome)
        setMessage(outcome.failure);
}

} // namespace velmora
