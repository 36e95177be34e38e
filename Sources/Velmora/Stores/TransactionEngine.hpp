#pragma once

// moc cannot parse the C++20 concepts the core's headers pull in, and needs none of their types.
#ifndef Q_MOC_RUN
#include <algorithm>
#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Models/Orders.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>
#endif

#include <Velmora/Stores/Writer.hpp>

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace pizzacore {
class Repository;
}

class QTimer;

namespace velmora {

// The outcome of a transaction: success, or the failure's description for the operator.
struct Outcome {
    bool ok = true;
    QString failure;
    // The core refused the change itself (a rule of the operation, not the storage); nothing was
    // written. Set by the editors' commands, whose sheets show the refusal in their own line.
    bool refused = false;

    explicit operator bool() const { return ok; }
    static Outcome success() { return {}; }
    static Outcome failed(QString description) { return {false, std::move(description)}; }
};

// The Spanish description of a failure caught as `error`: the core's own message for its refusals
// and unreadable documents, the system's description of a file-system failure, a generic text for
// anything else.
QString describeFailure(const std::exception_ptr& error);

// The one path by which the document changes, and the threads it runs on.
//
// It holds the document as last made durable (the published one) and the order draft being
// taken. A change runs on the writer thread on a copy of the published document with the current
// draft put in; the copy is made durable and only then published, on the window's thread, so
// that screens never see a document that a crash could take back. Writes run one at a time in the
// order they were asked for; the draft autosave waits until no transaction does.
//
// Callers either wait (transact() returns with the outcome, handling events in a nested loop
// meanwhile) or are called back (the asynchronous transact()). Edits of the draft made while a
// change is written are kept: when the change replaced the draft (a confirmation leaves a fresh
// one), every field edited meanwhile keeps its new value in the draft that replaces it.
//
// A second thread folds: it writes the whole document into the data file from time to time, so
// that the file never falls far behind; a transaction never waits for it.
class TransactionEngine : public QObject {
    Q_OBJECT
public:
    // A change of the document. It runs on the writer's thread: it may use what it captured and
    // the document it is given, and must not touch widgets or the controller's state.
    using Change = std::function<void(pizzacore::Database&)>;
    // Work with the repository itself (export, restore), run on the writer's thread in turn with
    // the saves. It receives the document as last saved; when it returns a document, that
    // document (which the job has saved) is published as a transaction's would be.
    using RepositoryJob =
        std::function<std::optional<pizzacore::Database>(pizzacore::Repository&, const pizzacore::Database&)>;
    // What runs with the outcome of an asynchronous transaction.
    using Then = std::function<void(const Outcome&)>;
    // Work for the fold thread once the published document is folded into the data file; it
    // throws to report a failure.
    using AfterFold = std::function<void(pizzacore::Repository&)>;
    // What runs on the window's thread once a fold (and its AfterFold) is over, with the failure
    // of either, or null.
    using FoldDone = std::function<void(const std::exception_ptr& failure)>;

    // How long the draft autosave gathers keystrokes before it writes.
    static constexpr int draftSaveDelay = 100;
    // A fold starts once this many changes wait in the journal… A fold of a busy year writes
    // about 190 MB: spread over 3,000 changes (drafts included, an evening's work) that is about
    // 63 KB per change, and replaying that many entries on opening costs a fraction of a second.
    static constexpr std::int64_t defaultFoldEntries = 3000;
    // …or this long after the last fold with any change waiting, in milliseconds. Shift closes and
    // closing Velmora fold too, so an hour only bounds how stale the data file may get.
    static constexpr int foldInterval = 60 * 60 * 1000;
    // How long a failed fold waits before it is tried again, in milliseconds.
    static constexpr int foldRetryDelay = 60 * 1000;

    explicit TransactionEngine(QObject* parent = nullptr);
    // Finishes the write in progress, writes a draft still waiting for its autosave and folds what
    // the journal holds, so that closing loses no typing and leaves a complete data file. Nothing
    // is announced any more.
    ~TransactionEngine() override;

    TransactionEngine(const TransactionEngine&) = delete;
    TransactionEngine& operator=(const TransactionEngine&) = delete;

    // Takes the open repository and publishes `document`, read from it, with its stored draft.
    void open(std::unique_ptr<pizzacore::Repository> repository, pizzacore::Database document);
    // Opens the data directory `directory` on the writer's thread (its lock, then the document
    // with the journal replayed: seconds for a busy year), so that the window can show meanwhile.
    // Once read, on the window's thread, the document is published as open() does and `opened`
    // runs with the failure, if any; nothing is published then. Writes are refused until then.
    using Opened = std::function<void(const std::exception_ptr& failure)>;
    void openInBackground(std::filesystem::path directory, Opened opened);
    // Completes the opening under way now, waiting for the writer if it is still reading.
    void finishOpening();
    // Whether an opening is under way.
    bool opening() const { return opening_ != nullptr; }
    // Refuses every write from now on: the data cannot be trusted (the controller's fatal state).
    void refuse();
    // Whether writes are accepted: open and not refused.
    bool available() const { return repository_ && !refused_; }
    // The open repository, if any. Its directory and file names may be read on any thread.
    const pizzacore::Repository* repository() const { return repository_.get(); }

    // The document as last saved.
    const pizzacore::Database& db() const { return db_; }
    // The order being taken.
    const pizzacore::Draft& draft() const { return draft_; }
    // Replaces the draft in memory; false when it was the same.
    bool setDraft(const pizzacore::Draft& draft);

    // Runs one change: see the class. On any failure the published document, the draft and the
    // files stay as they were and the failure's description comes back.
    Outcome transact(const Change& change);
    // The same without waiting; `then` runs on the window's thread with the outcome once the
    // change is published (or has failed), only while `context` exists (a null context bounds
    // nothing). Never called from inside this call; never when the engine is destroyed first.
    void transact(Change change, QObject* context, Then then);
    // Applies `change` to a copy as transact would and throws the copy away.
    Outcome check(const Change& change);
    // Runs `job` with the repository on the writer, in turn with the saves; see RepositoryJob.
    // No fold runs meanwhile.
    Outcome useRepository(const RepositoryJob& job);

    // Saves the current draft soon, without waiting: changes made in quick succession are written
    // together and the latest draft wins. A failure is announced by autosaveFailed().
    void saveDraftSoon();
    // Waits until every write has finished, the draft asked for by saveDraftSoon() included.
    void flush();
    // Waits until every write and every fold asked for so far has finished, handling events
    // meanwhile as transact() does.
    void settle();
    // Whether a write is in progress.
    bool saving() const { return inFlight_ != nullptr; }

    // Folds the document as published now into the data file: the writer copies it before any
    // write still waiting (cheap: the copy shares the records), the fold thread writes it, then
    // runs `after` there; `done` then runs on the window's thread. A transaction never waits for
    // the writing. A failed fold loses nothing (the journal keeps every change) and is tried
    // again later. Folds also start by themselves: once foldEntries() changes wait in the journal,
    // or foldInterval after the first change that the data file does not hold yet.
    void fold(AfterFold after = {}, FoldDone done = {});
    // How many changes wait in the journal for a fold, as far as the window's thread knows.
    std::int64_t pendingEntries() const { return lastSequence_ - foldedSequence_; }
    // How many waiting changes start a fold by themselves (defaultFoldEntries unless set).
    std::int64_t foldEntries() const { return foldEntries_; }
    void setFoldEntries(std::int64_t entries) { foldEntries_ = std::max<std::int64_t>(1, entries); }

    // Changes whenever a published document brings other products, categories or settings.
    std::uint64_t catalogueRevision() const { return catalogueRevision_; }

signals:
    // A new document is in place; `draftReplaced` when the draft changed with it.
    void published(bool draftReplaced);
    // saving() changed.
    void savingChanged();
    // A draft autosave failed and the draft stays unsaved.
    void autosaveFailed(const QString& description);
    // A fold has finished, well or not.
    void foldReported();

private:
    struct Write;
    struct Opening;
    // The writer's part of a write: the document to publish, if any, from the published one and
    // the draft; it says whether the catalogue changed.
    using Work = std::function<std::optional<pizzacore::Database>(
        pizzacore::Repository&, const pizzacore::Database&, const pizzacore::Draft&, Write&)>;

    static Work transaction(Change change);
    std::shared_ptr<Write> enqueue(Work work);
    Outcome run(Work work);
    void pump();
    void startDraftSave();
    void begin(const std::shared_ptr<Write>& write);
    void writeFinished();
    void complete();
    void callBack(Write& write);
    void waitFor(Write& write);
    void finishBlocking();
    void publish(pizzacore::Database db, const pizzacore::Draft& base);
    void dispose(pizzacore::Database&& db);
    void announceSaving();
    void foldIfDue();
    void foldFinished(std::int64_t sequence, const std::exception_ptr& failure);

    // The data file as this program last wrote or read it, watched so that no change is made
    // durable over a file changed behind its back; see checkDataFile().
    class DataFileReplacement {
    public:
        DataFileReplacement(TransactionEngine& engine, const pizzacore::Repository& repository);
        ~DataFileReplacement();
        DataFileReplacement(const DataFileReplacement&) = delete;
        DataFileReplacement& operator=(const DataFileReplacement&) = delete;

    private:
        TransactionEngine& engine_;
        const pizzacore::Repository& repository_;
    };
    void knowDataFile(const pizzacore::Repository& repository);
    bool dataFileKnown() const {
        const std::lock_guard lock(dataFileMutex_);
        return dataFile_.has_value();
    }
    void checkDataFile(const pizzacore::Repository& repository);

    std::unique_ptr<pizzacore::Repository> repository_;
    bool refused_ = false;
    std::shared_ptr<Opening> opening_;

    pizzacore::Database db_;
    pizzacore::Draft draft_;
    std::uint64_t catalogueRevision_ = 0;

    // Writes waiting their turn, and the one being written.
    std::deque<std::shared_ptr<Write>> queue_;
    std::shared_ptr<Write> inFlight_;
    // The draft autosave: asked for and not yet written; the timer that gathers keystrokes.
    bool draftWanted_ = false;
    QTimer* draftTimer_;
    bool announcedSaving_ = false;

    // The journal's last sequence number as published, and the last one folded into the file.
    std::int64_t lastSequence_ = 0;
    std::int64_t foldedSequence_ = 0;
    // Folds asked for and reported back; the timer of the periodic fold and of retries.
    std::uint64_t foldsAsked_ = 0;
    std::uint64_t foldsReported_ = 0;
    bool folding_ = false;
    bool foldFailed_ = false;
    std::int64_t foldEntries_ = defaultFoldEntries;
    QTimer* foldTimer_;

    // The identity of the data file, and a count that is odd while a fold replaces it; shared by
    // the writer and the fold thread.
    mutable std::mutex dataFileMutex_;
    std::optional<pizzacore::AtomicFile::FileIdentity> dataFile_;
    std::uint64_t dataFileGeneration_ = 0;

    // Declared last, so that they are destroyed first: their threads stop before anything they use.
    Writer folder_;
    Writer writer_;
};

} // namespace velmora
