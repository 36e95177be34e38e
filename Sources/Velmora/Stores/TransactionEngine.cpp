#include <Velmora/Stores/TransactionEngine.hpp>

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Journal/DocumentChange.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>
#include <PizzaCore/Persistence/Repository.hpp>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QtGlobal>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace velmora {

namespace {

const char* const unavailableText = "El almacenamiento no está disponible.";

// Whether a change brings other products, categories or settings.
bool touchesCatalogue(const pizzacore::DocumentChange& change) {
    return change.products || change.categories || change.settings;
}

} // namespace

// One write, from the moment it is asked for until its caller has its outcome.
struct TransactionEngine::Write {
    // An autosave of the draft: published without a change signal of the document, its failure
    // announced by autosaveFailed().
    bool draftOnly = false;
    Work work;
    // The draft stored with the write, taken when its turn comes.
    pizzacore::Draft draft;

    // Filled on the writer's thread.
    std::optional<pizzacore::Database> result;
    // Whether the result has other products, categories or settings than the document it
    // replaces (compared on the writer: a catalogue with photos is large).
    bool catalogueChanged = false;
    // The storage's sequence number once the write is durable; nothing when it wrote nothing.
    std::optional<std::int64_t> sequence;
    // The last sequence number the data file holds, when the write changed it.
    std::optional<std::int64_t> folded;
    std::exception_ptr error;
    std::atomic<bool> finished = false;

    // The outcome, once the window's thread has published (or dropped) the result.
    bool done = false;
    Outcome outcome;
    QEventLoop* loop = nullptr;

    // The engine, for the writer's checks of the data file.
    TransactionEngine* engine = nullptr;

    // Asynchronous writes only: what runs with the outcome, and the object that bounds it.
    Then then;
    QPointer<QObject> context;
    bool bounded = false;
};

TransactionEngine::TransactionEngine(QObject* parent)
    : QObject(parent)
    , draftTimer_(new QTimer(this))
    , foldTimer_(new QTimer(this)) {
    draftTimer_->setSingleShot(true);
    draftTimer_->setInterval(draftSaveDelay);
    connect(draftTimer_, &QTimer::timeout, this, &TransactionEngine::startDraftSave);
    foldTimer_->setSingleShot(true);
    foldTimer_->setInterval(foldInterval);
    connect(foldTimer_, &QTimer::timeout, this, [this] {
        if (pendingEntries() > 0) fold();
    });
}

TransactionEngine::~TransactionEngine() {
    draftTimer_->stop();
    foldTimer_->stop();
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
        waiting->outcome = Outcome::failed(QString::fromUtf8(unavailableText));
    }
    queue_.clear();
    if (!available()) return;
    if (draftWanted_ && db_.draft != draft_) {
        writer_.post([this] {
            try {
                pizzacore::DocumentChange change;
                change.draft = draft_;
                pizzacore::Database copy = db_;
                copy.draft = draft_;
                checkDataFile(*repository_);
                lastSequence_ = repository_->commit("draft", change, copy);
                db_.draft = draft_;
            } catch (...) {
                // Nowhere left to say it; the draft saved before stays on disk.
            }
        });
        writer_.drain();
    }
    // The last fold, after the last write: the data file holds everything, the journal nothing.
    folder_.drain();
    try {
        const std::int64_t sequence = repository_->lastSequence();
        if (sequence > repository_->foldedSequence() || repository_->pendingEntries() > 0)
            repository_->fold(db_, sequence);
    } catch (const std::exception& failure) {
        // The journal keeps every change; the next opening replays them.
        qWarning("Velmora: no se pudo consolidar el diario al cerrar: %s", failure.what());
    }
}

void TransactionEngine::open(std::unique_ptr<pizzacore::Repository> repository,
                             pizzacore::Database document) {
    repository_ = std::move(repository);
    lastSequence_ = repository_->lastSequence();
    foldedSequence_ = repository_->foldedSequence();
    if (!dataFileKnown()) knowDataFile(*repository_);
    ++catalogueRevision_;
    publish(std::move(document), draft_);
}

// An opening under way: filled on the writer's thread, taken on the window's.
struct TransactionEngine::Opening {
    std::filesystem::path directory;
    Opened opened;
    std::unique_ptr<pizzacore::Repository> repository;
    std::optional<pizzacore::Database> document;
    std::exception_ptr error;
};

void TransactionEngine::openInBackground(std::filesystem::path directory, Opened opened) {
    auto job = std::make_shared<Opening>();
    job->directory = std::move(directory);
    job->opened = std::move(opened);
    opening_ = job;
    writer_.post([this, job] {
        try {
            auto repository = std::make_unique<pizzacore::Repository>(job->directory, true);
            job->document = repository->load();
            knowDataFile(*repository);
            job->repository = std::move(repository);
        } catch (...) {
            job->error = std::current_exception();
        }
        QMetaObject::invokeMethod(this, &TransactionEngine::finishOpening, Qt::QueuedConnection);
    });
}

void TransactionEngine::finishOpening() {
    if (!opening_) return; // already finished by a caller that could not wait for the report
    writer_.drain();
    const std::shared_ptr<Opening> job = std::move(opening_);
    opening_.reset();
    if (!job->error) open(std::move(job->repository), std::move(*job->document));
    if (job->opened) job->opened(job->error);
}

void TransactionEngine::refuse() {
    refused_ = true;
    draftWanted_ = false;
    draftTimer_->stop();
}

bool TransactionEngine::setDraft(const pizzacore::Draft& draft) {
    if (draft == draft_) return false;
    draft_ = draft;
    return true;
}

// The writer's part of a transaction: a copy of the published document with the current draft
// put in, changed, made durable and handed back for publication.
TransactionEngine::Work TransactionEngine::transaction(Change change) {
    return [change = std::move(change)](pizzacore::Repository& repository, const pizzacore::Database& db,
                                        const pizzacore::Draft& draft,
                                        Write& write) -> std::optional<pizzacore::Database> {
        pizzacore::Database copy = db;
        copy.draft = draft;
        change(copy);
        // Records the copy shares with the published document cost nothing to compare.
        const pizzacore::DocumentChange difference = pizzacore::diff(db, copy);
        // Nothing changed: nothing is written, and there is nothing new to publish.
        if (difference.empty()) return std::nullopt;
        write.engine->checkDataFile(repository);
        write.sequence = repository.commit("transaction", difference, copy);
        // The first change of a new folder writes the data file itself.
        if (!write.engine->dataFileKnown()) write.engine->knowDataFile(repository);
        write.catalogueChanged = touchesCatalogue(difference);
        return copy;
    };
}

Outcome TransactionEngine::transact(const Change& change) {
    return run(transaction(change));
}

void TransactionEngine::transact(Change change, QObject* context, Then then) {
    auto write = std::make_shared<Write>();
    write->then = std::move(then);
    write->context = context;
    write->bounded = context != nullptr;
    if (!available()) {
        write->outcome = Outcome::failed(QString::fromUtf8(unavailableText));
        write->done = true;
        QMetaObject::invokeMethod(
            this, [this, write] { callBack(*write); }, Qt::QueuedConnection);
        return;
    }
    write->work = transaction(std::move(change));
    queue_.push_back(std::move(write));
    pump();
}

Outcome TransactionEngine::check(const Change& change) {
    // Copying a year of orders would hold up the window; the writer does it, in turn with the
    // saves, and nothing is saved or published.
    return run([&change](pizzacore::Repository&, const pizzacore::Database& db, const pizzacore::Draft& draft,
                         Write&) -> std::optional<pizzacore::Database> {
        pizzacore::Database copy = db;
        copy.draft = draft;
        change(copy);
        return std::nullopt;
    });
}

Outcome TransactionEngine::useRepository(const RepositoryJob& job) {
    return run([this, &job](pizzacore::Repository& repository, const pizzacore::Database& db,
                            const pizzacore::Draft&, Write& write) {
        // A fold of the document as it was must not land after the job replaced it.
        folder_.drain();
        std::optional<pizzacore::Database> result = job(repository, db);
        write.catalogueChanged = result.has_value();
        // A restore folds the journal into the document it writes.
        knowDataFile(repository);
        write.sequence = repository.lastSequence();
        write.folded = repository.foldedSequence();
        return result;
    });
}

std::shared_ptr<TransactionEngine::Write> TransactionEngine::enqueue(Work work) {
    auto write = std::make_shared<Write>();
    write->work = std::move(work);
    queue_.push_back(write);
    pump();
    return write;
}

Outcome TransactionEngine::run(Work work) {
    if (!available()) return Outcome::failed(QString::fromUtf8(unavailableText));
    const std::shared_ptr<Write> write = enqueue(std::move(work));
    waitFor(*write);
    return write->outcome;
}

// Starts the next write when none is in progress: the transactions first, in the order they were
// asked for, then the draft autosave.
void TransactionEngine::pump() {
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

void TransactionEngine::saveDraftSoon() {
    if (!available()) return;
    draftWanted_ = true;
    // The first change starts the timer and later ones do not restart it, so that steady typing
    // is still written every few tenths of a second.
    if (!draftTimer_->isActive()) draftTimer_->start();
}

void TransactionEngine::startDraftSave() {
    if (inFlight_ || !queue_.empty()) return; // pump() comes back once the writer is free
    if (!draftWanted_) return;
    draftWanted_ = false;
    if (!available() || draft_ == db_.draft) return;
    auto write = std::make_shared<Write>();
    write->draftOnly = true;
    write->work = [](pizzacore::Repository& repository, const pizzacore::Database& db,
                     const pizzacore::Draft& draft, Write& self) -> std::optional<pizzacore::Database> {
        // Only the draft is new, and the change says so without comparing anything else.
        pizzacore::DocumentChange change;
        change.draft = draft;
        pizzacore::Database copy = db;
        copy.draft = draft;
        self.engine->checkDataFile(repository);
        self.sequence = repository.commit("draft", change, copy);
        if (!self.engine->dataFileKnown()) self.engine->knowDataFile(repository);
        // The copy is thrown away here, on the writer's thread.
        return std::nullopt;
    };
    begin(write);
    announceSaving();
}

void TransactionEngine::begin(const std::shared_ptr<Write>& write) {
    inFlight_ = write;
    write->engine = this;
    write->draft = draft_;
    // Until this write is complete the published document is not replaced, so the writer may
    // read it while the screens do.
    writer_.post([this, write] {
        try {
            write->result = write->work(*repository_, db_, write->draft, *write);
        } catch (...) {
            write->error = std::current_exception();
        }
        write->finished = true;
        QMetaObject::invokeMethod(this, &TransactionEngine::writeFinished, Qt::QueuedConnection);
    });
}

// On the window's thread, once the writer reports.
void TransactionEngine::writeFinished() {
    if (inFlight_ && inFlight_->finished) complete();
}

void TransactionEngine::complete() {
    const std::shared_ptr<Write> write = std::move(inFlight_);
    inFlight_.reset();
    write->done = true;
    if (write->loop) write->loop->quit();
    if (write->error) {
        write->outcome = Outcome::failed(describeFailure(write->error));
    } else {
        if (write->sequence) lastSequence_ = *write->sequence;
        if (write->folded) foldedSequence_ = std::max(foldedSequence_, *write->folded);
        if (write->draftOnly) {
            db_.draft = write->draft;
        } else if (write->result) {
            if (write->catalogueChanged) ++catalogueRevision_;
            publish(std::move(*write->result), write->draft);
            write->result.reset();
        }
    }
    // A draft typed while this was written, and not stored with it, is saved next.
    if (draft_ != db_.draft && !write->error) draftWanted_ = true;
    pump();
    foldIfDue();
    if (write->error && write->draftOnly) emit autosaveFailed(write->outcome.failure);
    // Last, with the document published: the call may well start the next transaction.
    callBack(*write);
}

void TransactionEngine::callBack(Write& write) {
    if (!write.then || (write.bounded && !write.context)) return;
    // Taken out first: the call may start other writes, and runs once.
    const Then then = std::move(write.then);
    write.then = nullptr;
    then(write.outcome);
}

void TransactionEngine::waitFor(Write& write) {
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

void TransactionEngine::finishBlocking() {
    writer_.drain();
    if (inFlight_ && inFlight_->finished) complete();
}

void TransactionEngine::flush() {
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

void TransactionEngine::settle() {
    flush();
    while (foldsReported_ < foldsAsked_) {
        if (QCoreApplication::instance() && QThread::currentThread() == thread()) {
            QEventLoop loop;
            connect(this, &TransactionEngine::foldReported, &loop, &QEventLoop::quit);
            loop.exec();
        } else {
            finishBlocking();
            folder_.drain();
            QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        }
    }
}

void TransactionEngine::fold(AfterFold after, FoldDone done) {
    if (!available()) {
        if (done)
            QMetaObject::invokeMethod(
                this,
                [done = std::move(done)] {
                    done(std::make_exception_ptr(pizzacore::PCError::invalid(unavailableText)));
                },
                Qt::QueuedConnection);
        return;
    }
    ++foldsAsked_;
    folding_ = true;
    foldTimer_->stop();
    auto write = std::make_shared<Write>();
    write->work = [this, after = std::move(after), done = std::move(done)](
                      pizzacore::Repository& repository, const pizzacore::Database& db,
                      const pizzacore::Draft&, Write&) mutable -> std::optional<pizzacore::Database> {
        // The published document is copied here, in turn with the writes, so that it is exactly
        // the document of the last sequence number; the fold thread then writes it while the
        // next transactions go on.
        auto snapshot = std::make_shared<const pizzacore::Database>(db);
        const std::int64_t sequence = repository.lastSequence();
        folder_.post([this, &repository, snapshot = std::move(snapshot), sequence, after = std::move(after),
                      done = std::move(done)]() mutable {
            std::exception_ptr foldFailure;
            std::exception_ptr afterFailure;
            {
                const DataFileReplacement replacement(*this, repository);
                try {
                    repository.fold(*snapshot, sequence);
                } catch (...) {
                    foldFailure = std::current_exception();
                }
                if (!foldFailure && after) {
                    try {
                        after(repository);
                    } catch (...) {
                        afterFailure = std::current_exception();
                    }
                }
            }
            // The document of a busy year is freed here, not on the window's thread.
            snapshot.reset();
            QMetaObject::invokeMethod(
                this,
                [this, sequence, foldFailure, afterFailure, done = std::move(done)] {
                    foldFinished(sequence, foldFailure);
                    if (done) done(foldFailure ? foldFailure : afterFailure);
                    emit foldReported();
                },
                Qt::QueuedConnection);
        });
        return std::nullopt;
    };
    // Ahead of the writes still waiting: the fold is of the document as published now.
    queue_.push_front(std::move(write));
    pump();
}

// While it lives, the data file is being replaced by this program (a fold and what runs after
// it): commits do not check it. Once the replacement is over, its identity is the known one.
TransactionEngine::DataFileReplacement::DataFileReplacement(TransactionEngine& engine,
                                                            const pizzacore::Repository& repository)
    : engine_(engine)
    , repository_(repository) {
    const std::lock_guard lock(engine_.dataFileMutex_);
    ++engine_.dataFileGeneration_;
}

TransactionEngine::DataFileReplacement::~DataFileReplacement() {
    const std::optional<pizzacore::AtomicFile::FileIdentity> identity =
        pizzacore::AtomicFile::identity(repository_.file());
    const std::lock_guard lock(engine_.dataFileMutex_);
    engine_.dataFile_ = identity;
    ++engine_.dataFileGeneration_;
}

void TransactionEngine::knowDataFile(const pizzacore::Repository& repository) {
    const std::optional<pizzacore::AtomicFile::FileIdentity> identity =
        pizzacore::AtomicFile::identity(repository.file());
    const std::lock_guard lock(dataFileMutex_);
    dataFile_ = identity;
}

// A change builds on the data file: the journal's entries are replayed over it on the next
// opening. A data file changed behind the program's back (damaged, replaced, removed) would make
// every change acknowledged from then on unreachable, so no change is acknowledged over one that
// does not read. Telling costs one stat() per change; only a file that changed is read again.
void TransactionEngine::checkDataFile(const pizzacore::Repository& repository) {
    std::uint64_t generation = 0;
    std::optional<pizzacore::AtomicFile::FileIdentity> known;
    {
        const std::lock_guard lock(dataFileMutex_);
        generation = dataFileGeneration_;
        known = dataFile_;
    }
    // A fold is replacing it: the fold checks the file it replaces.
    if (generation % 2 != 0) return;
    const std::optional<pizzacore::AtomicFile::FileIdentity> now =
        pizzacore::AtomicFile::identity(repository.file());
    if (now == known) return;
    {
        const std::lock_guard lock(dataFileMutex_);
        // A fold came and went meanwhile: what is there now is its file.
        if (dataFileGeneration_ != generation) return;
    }
    const int fd = ::open(repository.file().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::filesystem::filesystem_error("No se pudo leer el archivo de datos", repository.file(),
                                                std::error_code(errno, std::generic_category()));
    try {
        pizzacore::Repository::decodeFile(fd, repository.file());
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    const std::lock_guard lock(dataFileMutex_);
    if (dataFileGeneration_ == generation) dataFile_ = now;
}

void TransactionEngine::foldIfDue() {
    if (!available() || folding_ || pendingEntries() <= 0) return;
    // After a failure the next try waits for the timer, however many changes come meanwhile.
    if (foldFailed_ && foldTimer_->isActive()) return;
    if (pendingEntries() >= foldEntries_)
        fold();
    else if (!foldTimer_->isActive())
        foldTimer_->start(foldInterval);
}

void TransactionEngine::foldFinished(std::int64_t sequence, const std::exception_ptr& failure) {
    ++foldsReported_;
    if (foldsReported_ == foldsAsked_) folding_ = false;
    foldFailed_ = failure != nullptr;
    if (!failure) {
        foldedSequence_ = std::max(foldedSequence_, sequence);
    } else {
        // The journal still holds every change: nothing is lost, the fold is only late.
        qWarning("Velmora: no se pudo consolidar el diario en el archivo de datos: %s",
                 describeFailure(failure).toUtf8().constData());
        foldTimer_->start(foldRetryDelay);
    }
    if (!failure) foldIfDue();
}

void TransactionEngine::dispose(pizzacore::Database&& db) {
    // Freeing a year of orders takes a while; the writer does it.
    writer_.post([old = std::make_shared<pizzacore::Database>(std::move(db))] {});
}

void TransactionEngine::announceSaving() {
    if (saving() == announcedSaving_) return;
    announcedSaving_ = saving();
    emit savingChanged();
}

// Both values are in place before any screen hears of either, so a screen that reacts to one
// (and perhaps starts another transaction) always sees the document and draft of the same save.
// `base` is the draft that went into the saved document; the draft edited since then is kept
// unless the change replaced the draft, and then only its edited fields are kept.
void TransactionEngine::publish(pizzacore::Database db, const pizzacore::Draft& base) {
    std::swap(db_, db);
    dispose(std::move(db));
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
    emit published(draftReplaced);
}

} // namespace velmora
