#include <Velmora/Stores/AppStore.hpp>

#include <Velmora/Services/PlatformServices.hpp>

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Json/Json.hpp>
#include <PizzaCore/Models/PhoneKey.hpp>
#include <PizzaCore/Persistence/DataDirectory.hpp>
#include <PizzaCore/Persistence/Repository.hpp>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <tuple>

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

// One write of the document, from the moment it is asked for until its caller has its outcome.
struct AppStore::Write {
    // An autosave of the draft: published without a change signal of the document, its failure
    // put in `message`.
    bool draftOnly = false;
    Work work;
    // The draft stored with the write, taken when its turn comes.
    pizzacore::Draft draft;
    // Whether the result has other products, categories or settings than the document it
    // replaces (compared on the writer: a catalogue with photos is large).
    bool catalogueChanged = true;

    // Filled on the writer's thread.
    std::optional<pizzacore::Database> result;
    std::exception_ptr error;
    std::atomic<bool> finished = false;

    // Asynchronous writes only: what runs with the outcome, and the object that bounds it.
    Then then;
    QPointer<QObject> context;
    bool bounded = false;

    // The outcome, once the user-interface thread has published (or dropped) the result.
    bool done = false;
    Outcome outcome;
    QEventLoop* loop = nullptr;
};

AppStore::AppStore(pizzacore::Clock clock, PlatformServices& platform, QObject* parent)
    : QObject(parent)
    , clock_(std::move(clock))
    , platform_(platform)
    , draftTimer_(new QTimer(this)) {
    draftTimer_->setSingleShot(true);
    draftTimer_->setInterval(draftSaveDelay);
    connect(draftTimer_, &QTimer::timeout, this, &AppStore::startDraftSave);
}

AppStore::AppStore(std::filesystem::path dataDirectory, pizzacore::Clock clock, PlatformServices& platform,
                   QObject* parent)
    : AppStore(std::move(clock), platform, parent) {
    requestedDirectory_ = std::move(dataDirectory);
}

// The write in progress is finished and kept, and a draft still waiting for its autosave is
// written, so that closing the application loses no typing. Nothing is announced any more.
AppStore::~AppStore() {
    draftTimer_->stop();
    writer_.drain();
    if (inFlight_ && inFlight_->finished && !inFlight_->error) {
        if (inFlight_->result)
            db_ = std::move(*inFlight_->result);
        else if (inFlight_->draftOnly)
            db_.draft = inFlight_->draft;
    }
    inFlight_.reset();
    for (const std::shared_ptr<Write>& waiting : queue_) {
        waiting->done = true;
        waiting->outcome = Outcome::failed(QStringLiteral("El almacenamiento no está disponible."));
    }
    queue_.clear();
    if (draftWanted_ && !fatal_ && repository_ && db_.draft != draft_) {
        writer_.post([this] {
            try {
                pizzacore::Database copy = db_;
                copy.draft = draft_;
                repository_->save(copy);
            } catch (...) {
                // Nowhere left to say it; the draft saved before stays on disk.
            }
        });
        writer_.drain();
    }
}

void AppStore::start() {
    if (started_) return;
    started_ = true;
    connect(this, &AppStore::dbChanged, this, &AppStore::keepDailyBackup);
    try {
        resolvedDirectory_ = requestedDirectory_ ? *requestedDirectory_ : pizzacore::dataDirectory();
        repository_ = std::make_unique<pizzacore::Repository>(*resolvedDirectory_, true);
        ++catalogueRevision_;
        publish(repository_->load(), draft_);
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
    return run([&change](pizzacore::Repository& repository, const pizzacore::Database& db,
                         const pizzacore::Draft& draft,
                         bool& catalogueChanged) -> std::optional<pizzacore::Database> {
        pizzacore::Database copy = db;
        copy.draft = draft;
        change(copy);
        repository.save(copy);
        catalogueChanged =
            copy.products != db.products || copy.categories != db.categories || copy.settings != db.settings;
        return copy;
    });
}

void AppStore::transact(Change change, QObject* context, Then then) {
    auto write = std::make_shared<Write>();
    write->then = std::move(then);
    write->context = context;
    write->bounded = context != nullptr;
    if (fatal_ || !repository_) {
        write->outcome = Outcome::failed(QStringLiteral("El almacenamiento no está disponible."));
        write->done = true;
        QMetaObject::invokeMethod(
            this, [this, write] { callBack(*write); }, Qt::QueuedConnection);
        return;
    }
    write->work = [change = std::move(change)](pizzacore::Repository& repository,
                                               const pizzacore::Database& db, const pizzacore::Draft& draft,
                                               bool& catalogueChanged) -> std::optional<pizzacore::Database> {
        pizzacore::Database copy = db;
        copy.draft = draft;
        change(copy);
        repository.save(copy);
        catalogueChanged =
            copy.products != db.products || copy.categories != db.categories || copy.settings != db.settings;
        return copy;
    };
    queue_.push_back(std::move(write));
    pump();
}

void AppStore::callBack(Write& write) {
    if (!write.then || (write.bounded && !write.context)) return;
    // Taken out first: the call may start other writes, and runs once.
    const Then then = std::move(write.then);
    write.then = nullptr;
    then(write.outcome);
}

Outcome AppStore::useRepository(const RepositoryJob& job) {
    return run([&job](pizzacore::Repository& repository, const pizzacore::Database& db,
                      const pizzacore::Draft&, bool&) { return job(repository, db); });
}

Outcome AppStore::run(Work work) {
    if (fatal_ || !repository_)
        return Outcome::failed(QStringLiteral("El almacenamiento no está disponible."));
    auto write = std::make_shared<Write>();
    write->work = std::move(work);
    queue_.push_back(write);
    pump();
    waitFor(*write);
    return write->outcome;
}

// Starts the next write when none is in progress: the transactions first, in the order they were
// asked for, then the draft autosave.
void AppStore::pump() {
    if (!inFlight_) {
        if (!queue_.empty()) {
            std::shared_ptr<Write> next = std::move(queue_.front());
            queue_.pop_front();
            begin(next);
        } else if (draftWanted_ && !draftTimer_->isActive()) {
            startDraftSave();
        }
    }
    announceSaving();
}

void AppStore::saveDraftSoon() {
    if (fatal_ || !repository_) return;
    draftWanted_ = true;
    // The first change starts the timer and later ones do not restart it, so that steady typing
    // is still written every few tenths of a second.
    if (!draftTimer_->isActive()) draftTimer_->start();
}

void AppStore::startDraftSave() {
    if (inFlight_ || !queue_.empty()) return; // pump() comes back once the writer is free
    if (!draftWanted_) return;
    draftWanted_ = false;
    if (fatal_ || !repository_ || draft_ == db_.draft) return;
    auto write = std::make_shared<Write>();
    write->draftOnly = true;
    write->work = [](pizzacore::Repository& repository, const pizzacore::Database& db,
                     const pizzacore::Draft& draft, bool&) -> std::optional<pizzacore::Database> {
        pizzacore::Database copy = db;
        copy.draft = draft;
        repository.save(copy);
        // Only the draft is new: the copy is thrown away here, on the writer's thread.
        return std::nullopt;
    };
    begin(write);
    announceSaving();
}

void AppStore::begin(const std::shared_ptr<Write>& write) {
    inFlight_ = write;
    write->draft = draft_;
    // Until this write is complete the published document is not replaced, so the writer may
    // read it while the screens do.
    writer_.post([this, write] {
        try {
            write->result = write->work(*repository_, db_, write->draft, write->catalogueChanged);
        } catch (...) {
            write->error = std::current_exception();
        }
        write->finished = true;
        QMetaObject::invokeMethod(this, &AppStore::writeFinished, Qt::QueuedConnection);
    });
}

// On the user-interface thread, once the writer reports.
void AppStore::writeFinished() {
    if (inFlight_ && inFlight_->finished) complete();
}

void AppStore::complete() {
    const std::shared_ptr<Write> write = std::move(inFlight_);
    inFlight_.reset();
    write->done = true;
    if (write->loop) write->loop->quit();
    if (write->error) {
        write->outcome = Outcome::failed(describeFailure(write->error));
        if (write->draftOnly) setMessage(write->outcome.failure);
    } else if (write->draftOnly) {
        db_.draft = write->draft;
    } else if (write->result) {
        if (write->catalogueChanged) ++catalogueRevision_;
        publish(std::move(*write->result), write->draft);
        write->result.reset();
    }
    // A draft typed while this was written, and not stored with it, is saved next.
    if (draft_ != db_.draft && !write->error) draftWanted_ = true;
    pump();
    // Last, with the document published: the call may well start the next transaction.
    callBack(*write);
}

void AppStore::waitFor(Write& write) {
    while (!write.done) {
        if (QCoreApplication::instance() && QThread::currentThread() == thread()) {
            // Completion quits this loop from writeFinished(), whichever loop is innermost then,
            // so waits nested inside each other all end.
            QEventLoop loop;
            write.loop = &loop;
            loop.exec();
            write.loop = nullptr;
            if (write.done) break;
        }
        // No event loop runs here (no application, or one that is quitting): the writer is
        // waited for directly.
        finishBlocking();
    }
}

void AppStore::finishBlocking() {
    writer_.drain();
    if (inFlight_ && inFlight_->finished) complete();
}

void AppStore::flush() {
    for (;;) {
        draftTimer_->stop();
        if (!inFlight_) {
            if (!queue_.empty())
                pump();
            else
                startDraftSave();
        }
        if (!inFlight_) return;
        const std::shared_ptr<Write> current = inFlight_;
        waitFor(*current);
    }
}

void AppStore::dispose(pizzacore::Database&& db) {
    // Freeing a year of orders takes a while; the writer does it.
    writer_.post([old = std::make_shared<pizzacore::Database>(std::move(db))] {});
}

void AppStore::announceSaving() {
    if (saving() == announcedSaving_) return;
    announcedSaving_ = saving();
    emit savingChanged();
}

// Both values are in place before any screen hears of either, so a screen that reacts to one
// (and perhaps starts another transaction) always sees the document and draft of the same save.
// `base` is the draft that went into the saved document; the draft edited since then is kept
// unless the change replaced the draft, and then only its edited fields are kept.
void AppStore::publish(pizzacore::Database db, const pizzacore::Draft& base) {
    std::swap(db_, db);
    dispose(std::move(db));
    phoneIndex_.update(db_.orders);
    bool draftReplaced = false;
    if (db_.draft != base) {
        pizzacore::Draft merged = db_.draft;
        if (draft_ != base) {
            std::apply(
                [&](const auto&... field) {
                    ((draft_.*field.member != base.*field.member
                          ? void(merged.*field.member = draft_.*field.member)
                          : void()),
                     ...);
                },
                pizzacore::Draft::fields());
        }
        draftReplaced = merged != draft_;
        if (draftReplaced) draft_ = std::move(merged);
    }
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
        if (positions[at] < db_.orders.size()) orders.push_back(db_.orders[positions[at]]);
    return orders;
}

void AppStore::tick() {
    if (fatal_ || !repository_) return;
    // Reconciling changes something only when no session is open or the open one has reached its
    // scheduled end; any other tick would save an unchanged document. The open session need not
    // be the last one listed (a restored or hand-edited document can order them otherwise).
    const auto& sessions = db_.sessions;
    const auto open = std::find_if(sessions.begin(), sessions.end(),
                                   [](const pizzacore::Session& session) { return !session.closed; });
    const pizzacore::Instant now = clock_.now();
    if (open != sessions.end() && now < open->scheduledEnd) return;
    if (const Outcome outcome = transact([now](pizzacore::Database& db) { db.reconcile(now); }); !outcome)
        setMessage(outcome.failure);
}

} // namespace velmora
