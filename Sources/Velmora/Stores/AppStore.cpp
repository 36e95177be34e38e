#include <Velmora/Stores/AppStore.hpp>

#include <Velmora/Services/PlatformServices.hpp>

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Json/Json.hpp>
#include <PizzaCore/Persistence/DataDirectory.hpp>
#include <PizzaCore/Persistence/Repository.hpp>

#include <cerrno>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <system_error>

namespace velmora {

namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

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
        return fromUtf8(failure.message());
    } catch (const pizzacore::JSONError& failure) {
        return fromUtf8(failure.what());
    } catch (const std::filesystem::filesystem_error& failure) {
        return fromUtf8(describeFileSystem(failure));
    } catch (const std::system_error& failure) {
        return QStringLiteral("Error del sistema: ") + fromUtf8(spanishReason(failure.code()));
    } catch (const std::bad_alloc&) {
        return QStringLiteral("No hay memoria suficiente para completar la operación.");
    } catch (const std::exception& failure) {
        return QStringLiteral("Error inesperado: ") + fromUtf8(failure.what());
    } catch (...) {
        return QStringLiteral("Error inesperado.");
    }
}

AppStore::AppStore(pizzacore::Clock clock, PlatformServices& platform, QObject* parent)
    : QObject(parent)
    , clock_(std::move(clock))
    , platform_(platform) {}

AppStore::AppStore(std::filesystem::path dataDirectory, pizzacore::Clock clock, PlatformServices& platform,
                   QObject* parent)
    : QObject(parent)
    , clock_(std::move(clock))
    , platform_(platform)
    , requestedDirectory_(std::move(dataDirectory)) {}

AppStore::~AppStore() = default;

void AppStore::start() {
    if (started_) return;
    started_ = true;
    connect(this, &AppStore::dbChanged, this, &AppStore::keepDailyBackup);
    try {
        resolvedDirectory_ = requestedDirectory_ ? *requestedDirectory_ : pizzacore::dataDirectory();
        repository_ = std::make_unique<pizzacore::Repository>(*resolvedDirectory_, true);
        publish(repository_->load());
    } catch (...) {
        enterFatal(describeFailure(std::current_exception()));
        return;
    }
    // Closes what fell due while the application was not running; on a new directory this is the
    // first save, which creates the document file.
    const pizzacore::Instant now = clock_.now();
    if (const Outcome outcome = transact([now](pizzacore::Database& db) { db.reconcile(now); }); !outcome)
        enterFatal(outcome.failure);
}

void AppStore::enterFatal(const QString& description) {
    fatal_ = QStringLiteral("No se han abierto los datos. ") + description +
             QStringLiteral("\nNo se creará una base vacía encima del archivo existente. Carpeta: ") +
             QString::fromStdString(location().string());
    emit fatalChanged();
}

std::filesystem::path AppStore::location() const {
    if (repository_) return repository_->directory();
    if (resolvedDirectory_) return *resolvedDirectory_;
    return requestedDirectory_.value_or(std::filesystem::path());
}

void AppStore::setDraft(const pizzacore::Draft& draft) {
    if (draft == draft_) return;
    draft_ = draft;
    emit draftChanged();
}

void AppStore::setMessage(const QString& message) {
    if (message_ == message) return;
    message_ = message;
    emit messageChanged();
}

void AppStore::clearMessage() {
    if (!message_) return;
    message_.reset();
    emit messageChanged();
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

Outcome AppStore::transact(const Change& change) {
    if (fatal_ || !repository_)
        return Outcome::failed(QStringLiteral("El almacenamiento no está disponible."));
    pizzacore::Database copy = db_;
    copy.draft = draft_;
    try {
        change(copy);
        repository_->save(copy);
    } catch (...) {
        return Outcome::failed(describeFailure(std::current_exception()));
    }
    publish(std::move(copy));
    return Outcome::success();
}

// Both values are in place before any screen hears of either, so a screen that reacts to one
// (and perhaps starts another transaction) always sees the document and draft of the same save.
void AppStore::publish(pizzacore::Database db) {
    db_ = std::move(db);
    const bool draftReplaced = db_.draft != draft_;
    if (draftReplaced) draft_ = db_.draft;
    emit dbChanged();
    if (draftReplaced) emit draftChanged();
}

bool AppStore::saveDraft() {
    // The transaction itself puts the current draft into the document.
    const Outcome outcome = transact([](pizzacore::Database&) {});
    if (!outcome) setMessage(outcome.failure);
    return outcome.ok;
}

void AppStore::tick() {
    if (fatal_ || !repository_) return;
    const pizzacore::Instant due = db_.sessions.empty()
                                       ? pizzacore::Instant{std::numeric_limits<double>::lowest()}
                                       : db_.sessions.back().scheduledEnd;
    const pizzacore::Instant now = clock_.now();
    if (now < due) return;
    if (const Outcome outcome = transact([now](pizzacore::Database& db) { db.reconcile(now); }); !outcome)
        setMessage(outcome.failure);
}

} // namespace velmora
