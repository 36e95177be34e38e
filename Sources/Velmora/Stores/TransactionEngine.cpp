#include <Velmora/Stores/TransactionEngine.hpp>

#include <PizzaCore/Persistence/Repository.hpp>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QtGlobal>

#include <atomic>
#include <string_view>
#include <tuple>

namespace velmora {

namespace {

const char* const unavailableText = "El almacenamiento no está disponible.";

// Makes `after`, the published document `before` with a change applied, durable. Gives the
// sequence number the storage knows it by.
std::int64_t makeDurable(pizzacore::Repository& repository, std::string_view kind,
                         const pizzacore::Database& before, const pizzacore::Database& after) {
    std::ignore = kind;
    std::ignore = before;
    repository.save(after);
    return 0;
}

// Whether `after` has other products, categories or settings than `before`.
bool catalogueDiffers(const pizzacore::Database& before, const pizzacore::Database& after) {
    return after.products != before.products || after.categories != before.categories ||
           after.settings != before.settings;
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
    std::exception_ptr error;
    std::atomic<bool> finished = false;

    // The outcome, once the window's thread has published (or dropped) the result.
    bool done = false;
    Outcome outcome;
    QEventLoop* loop = nullptr;

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
                pizzacore::Database copy = db_;
                copy.draft = draft_;
                makeDurable(*repository_, "draft", db_, copy);
                db_.draft = draft_;
            } catch (...) {
                // Nowhere left to say it; the draft saved before stays on disk.
            }
        });
        writer_.drain();
    }
    folder_.drain();
}

void TransactionEngine::open(std::unique_ptr<pizzacore::Repository> repository,
                             pizzacore::Database document) {
    repository_ = std::move(repository);
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
        write.sequence = makeDurable(repository, "transaction", db, copy);
        write.catalogueChanged = catalogueDiffers(db, copy);
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
        pizzacore::Database copy = db;
        copy.draft = draft;
        self.sequence = makeDurable(repository, "draft", db, copy);
        // Only the draft is new: the copy is thrown away here, on the writer's thread.
        return std::nullopt;
    };
    begin(write);
    announceSaving();
}

void TransactionEngine::begin(const std::shared_ptr<Write>& write) {
    inFlight_ = write;
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
    folder_.drain();
    // The fold reports back through the event loop; its report is taken here.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void TransactionEngine::fold(AfterFold after) {
    std::ignore = after;
}

void TransactionEngine::foldIfDue() {}

void TransactionEngine::foldFinished(std::int64_t sequence, bool ok) {
    std::ignore = sequence;
    std::ignore = ok;
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
