// The controller's transaction engine on real data directories: the asynchronous transaction
// returns at once and calls back once its change is saved and published, only while the object
// that bounds it lives; failures come back without changing anything. Changes go to the journal
// beside the data file and are durable before any screen sees them; folds write the data file
// on their own thread without holding up a transaction, lose nothing when they fail, and the
// last one runs when the controller closes.

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Stores/TransactionEngine.hpp>
#include <support/TestFiles.hpp>

#include "TestPlatformServices.hpp"

#include <PizzaCore/Journal/Journal.hpp>
#include <PizzaCore/PizzaCore.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using pizzacore::Clock;
using pizzacore::Database;
using pizzacore::Instant;
using pizzacore::Journal;
using pizzacore::Repository;
using pizzacore::testing::readFile;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::writeFile;
using velmora::AppStore;
using velmora::Outcome;
using velmora::TransactionEngine;
using velmora::testing::TestPlatformServices;

// 2025-03-07 12:00 UTC, a Friday afternoon.
constexpr Instant friday = Instant::fromUnix(1741348800.0);

// Handles events until `done` holds, for at most five seconds.
bool spinUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class Engine : public ::testing::Test {
protected:
    void SetUp() override {
        store_ = std::make_unique<AppStore>(directory_.path(), Clock::manual(now_), platform_);
        store_->start();
        ASSERT_FALSE(store_->fatal());
    }
    AppStore& store() { return *store_; }
    Database stored() const { return Repository(directory_.path(), Repository::Access::readOnly).load(); }

    AppStore::Change record(const std::string& action) {
        return [action, now = *now_](Database& db) { db.record(action, "", now); };
    }

    TemporaryDirectory directory_;
    std::shared_ptr<Instant> now_ = std::make_shared<Instant>(friday);
    TestPlatformServices platform_;
    std::unique_ptr<AppStore> store_;
};

TEST_F(Engine, AnAsynchronousTransactionReturnsAtOnceAndCallsBackOnceSavedAndPublished) {
    const std::size_t before = store().db().audit.size();
    QObject context;
    std::vector<std::string> calls;
    std::optional<Database> seenAtCall;
    store().transact(record("Primera"), &context, [&](const Outcome& outcome) {
        EXPECT_TRUE(outcome) << outcome.failure.toStdString();
        calls.push_back("Primera");
        // Published before the call, and durable: another reader of the folder sees it.
        seenAtCall = stored();
        EXPECT_EQ(store().db().audit.size(), before + 1);
    });
    store().transact(record("Segunda"), &context, [&](const Outcome& outcome) {
        EXPECT_TRUE(outcome);
        calls.push_back("Segunda");
    });
    // Nothing has been written or published yet: the call did not wait.
    EXPECT_EQ(store().db().audit.size(), before);
    EXPECT_TRUE(calls.empty());

    ASSERT_TRUE(spinUntil([&] { return calls.size() == 2; }));
    EXPECT_EQ(calls, (std::vector<std::string>{"Primera", "Segunda"}));
    ASSERT_TRUE(seenAtCall);
    // The second change may already be durable by then: the writer does not wait for callbacks.
    ASSERT_GT(seenAtCall->audit.size(), before);
    EXPECT_EQ(seenAtCall->audit[before].action, "Primera");
    EXPECT_EQ(store().db().audit.back().action, "Segunda");
    EXPECT_EQ(stored(), store().db());
}

TEST_F(Engine, AClosedContextIsNeverCalledBackButItsChangeIsKept) {
    auto context = std::make_unique<QObject>();
    bool called = false;
    store().transact(record("Sin pantalla"), context.get(), [&](const Outcome&) { called = true; });
    context.reset();
    store().flush();
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
    EXPECT_EQ(store().db().audit.back().action, "Sin pantalla");
    EXPECT_EQ(stored(), store().db());
}

TEST_F(Engine, AFailedAsynchronousChangeChangesNothingAndSaysWhy) {
    const Database before = store().db();
    QObject context;
    std::optional<Outcome> result;
    store().transact(
        [](Database& db) {
            db.record("A medias", "", Instant::fromUnix(0));
            throw pizzacore::PCError::invalid("Pedido no válido.");
        },
        &context, [&](const Outcome& outcome) { result = outcome; });
    ASSERT_TRUE(spinUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(result->ok);
    EXPECT_EQ(result->failure, QStringLiteral("Pedido no válido."));
    EXPECT_EQ(store().db(), before);
    EXPECT_EQ(stored(), before);
    // The failure is the caller's to report.
    EXPECT_FALSE(store().message());
}

TEST_F(Engine, ABlockingTransactionWaitsBehindAnAsynchronousOne) {
    QObject context;
    bool called = false;
    store().transact(record("Antes"), &context, [&](const Outcome&) { called = true; });
    ASSERT_TRUE(store().transact(record("Después")));
    EXPECT_TRUE(called);
    const auto& audit = store().db().audit;
    ASSERT_GE(audit.size(), 2u);
    EXPECT_EQ(audit[audit.size() - 2].action, "Antes");
    EXPECT_EQ(audit.back().action, "Después");
}

TEST(EngineFatal, AnAsynchronousTransactionFailsFromTheEventLoop) {
    TemporaryDirectory directory;
    writeFile(directory.path() / "Velmora.json", "{ no es un documento");
    TestPlatformServices platform;
    AppStore store(directory.path(), Clock::fixed(friday), platform);
    store.start();
    ASSERT_TRUE(store.fatal());
    QObject context;
    std::optional<Outcome> result;
    store.transact([](Database&) {}, &context, [&](const Outcome& outcome) { result = outcome; });
    EXPECT_FALSE(result);
    ASSERT_TRUE(spinUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(result->ok);
    EXPECT_EQ(result->failure, QStringLiteral("El almacenamiento no está disponible."));
}

// The kinds of the journal's entries not yet folded, oldest first.
std::vector<std::string> journalKinds(const fs::path& directory) {
    std::vector<std::string> kinds;
    for (const Journal::Entry& entry :
         Journal(directory / Journal::fileName, Journal::Access::read).entries(0))
        kinds.push_back(entry.kind);
    return kinds;
}

TEST_F(Engine, AChangeIsDurableBeforeAnyScreenHearsOfIt) {
    std::vector<std::string> seen;
    QObject::connect(&store(), &AppStore::dbChanged, [&] {
        // Read by another repository, as the next opening after a crash would read it.
        const Database reopened = stored();
        seen.push_back(reopened.audit.empty() ? "" : reopened.audit.back().action);
        EXPECT_EQ(reopened, store().db());
    });
    ASSERT_TRUE(store().transact(record("Primera")));
    ASSERT_TRUE(store().transact(record("Segunda")));
    EXPECT_EQ(seen, (std::vector<std::string>{"Primera", "Segunda"}));
    // They went to the journal: the data file was not written again for them.
    EXPECT_EQ(journalKinds(directory_.path()), (std::vector<std::string>{"transaction", "transaction"}));
}

TEST_F(Engine, AChangeThatChangesNothingWritesNothing) {
    const std::string file = readFile(directory_.path() / "Velmora.json");
    int heard = 0;
    QObject::connect(&store(), &AppStore::dbChanged, [&] { ++heard; });
    ASSERT_TRUE(store().transact([](Database&) {}));
    ASSERT_TRUE(store().saveDraft());
    EXPECT_EQ(heard, 0);
    EXPECT_TRUE(journalKinds(directory_.path()).empty());
    EXPECT_EQ(readFile(directory_.path() / "Velmora.json"), file);
}

TEST_F(Engine, TheDraftAutosaveGoesToTheJournalAsADraftAlone) {
    const std::string file = readFile(directory_.path() / "Velmora.json");
    for (const char* typed : {"6", "61", "612"}) {
        pizzacore::Draft draft = store().draft();
        draft.phone = typed;
        store().setDraft(draft);
        store().saveDraftSoon();
        store().flush();
    }
    EXPECT_EQ(journalKinds(directory_.path()), (std::vector<std::string>{"draft", "draft", "draft"}));
    EXPECT_EQ(readFile(directory_.path() / "Velmora.json"), file) << "the data file is not rewritten";
    EXPECT_EQ(stored().draft.phone, "612");
    EXPECT_EQ(stored(), store().db());
}

TEST_F(Engine, ClosingTheControllerFoldsEverythingIntoTheDataFile) {
    ASSERT_TRUE(store().transact(record("Antes de cerrar")));
    pizzacore::Draft draft = store().draft();
    draft.notes = "Sin cebolla";
    store().setDraft(draft);
    store().saveDraftSoon();
    const Database last = [&] {
        Database db = store().db();
        db.draft = draft;
        return db;
    }();
    store_.reset();

    EXPECT_TRUE(journalKinds(directory_.path()).empty());
    const Repository reopened(directory_.path(), false);
    EXPECT_EQ(reopened.pendingEntries(), 0);
    EXPECT_EQ(Repository::decode(readFile(directory_.path() / "Velmora.json")), last);
    EXPECT_EQ(reopened.load(), last);
}

// The engine on its own, over a repository of a folder holding `document`.
struct OpenEngine {
    explicit OpenEngine(const fs::path& directory) {
        auto repository = std::make_unique<Repository>(directory, true);
        Database document = repository->load();
        engine.open(std::move(repository), std::move(document));
    }
    TransactionEngine engine;
};

TEST(EngineFold, TransactionsGoOnWhileAFoldWritesAndNoneIsLost) {
    TemporaryDirectory directory;
    OpenEngine open(directory.path());
    TransactionEngine& engine = open.engine;
    ASSERT_TRUE(engine.transact([](Database& db) { db.record("Primera", "", friday); }));

    // The fold holds its thread until five transactions are published: were a transaction to wait
    // for the fold, neither would finish and the fold would give up.
    std::atomic<bool> released = false;
    std::atomic<bool> gaveUp = false;
    std::optional<std::exception_ptr> reported;
    engine.fold(
        [&](Repository&) {
            for (int round = 0; round < 500 && !released; ++round)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            gaveUp = !released;
        },
        [&](const std::exception_ptr& failure) { reported = failure; });
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(
            engine.transact([i](Database& db) { db.record("Durante " + std::to_string(i), "", friday); }));
    released = true;
    engine.settle();
    EXPECT_FALSE(gaveUp);
    ASSERT_TRUE(reported);
    EXPECT_FALSE(*reported);

    // The fold wrote the document as it was when asked; the five after it wait in the journal.
    const Database inFile = Repository::decode(readFile(directory.path() / "Velmora.json"));
    EXPECT_EQ(inFile.audit.back().action, "Primera");
    EXPECT_EQ(journalKinds(directory.path()).size(), 5u);
    EXPECT_EQ(engine.pendingEntries(), 5);
    EXPECT_EQ(Repository(directory.path(), Repository::Access::readOnly).load(), engine.db());
}

TEST(EngineFold, AFailedFoldLosesNothingAndALaterOneCatchesUp) {
    TemporaryDirectory directory;
    OpenEngine open(directory.path());
    TransactionEngine& engine = open.engine;
    ASSERT_TRUE(engine.transact([](Database& db) { db.record("Primera", "", friday); }));
    ASSERT_TRUE(engine.transact([](Database& db) { db.record("Segunda", "", friday); }));

    // A data file damaged behind the program's back is never written over.
    const fs::path file = directory.path() / "Velmora.json";
    const std::string good = readFile(file);
    writeFile(file, "dañado");
    std::optional<std::exception_ptr> reported;
    engine.fold({}, [&](const std::exception_ptr& failure) { reported = failure; });
    engine.settle();
    ASSERT_TRUE(reported);
    EXPECT_TRUE(*reported);
    EXPECT_EQ(readFile(file), "dañado");
    EXPECT_EQ(engine.pendingEntries(), 1);
    // Transactions go on meanwhile, into the journal.
    ASSERT_TRUE(engine.transact([](Database& db) { db.record("Tercera", "", friday); }));
    EXPECT_EQ(engine.pendingEntries(), 2);

    writeFile(file, good);
    reported.reset();
    engine.fold({}, [&](const std::exception_ptr& failure) { reported = failure; });
    engine.settle();
    ASSERT_TRUE(reported);
    EXPECT_FALSE(*reported);
    EXPECT_EQ(engine.pendingEntries(), 0);
    EXPECT_EQ(Repository::decode(readFile(file)), engine.db());
}

TEST(EngineFold, AFoldStartsByItselfOnceEnoughChangesWait) {
    TemporaryDirectory directory;
    OpenEngine open(directory.path());
    TransactionEngine& engine = open.engine;
    engine.setFoldEntries(20);
    // The first change creates the data file; the journal holds the others.
    for (std::int64_t i = 0; i < engine.foldEntries(); ++i)
        ASSERT_TRUE(
            engine.transact([i](Database& db) { db.record("Cambio " + std::to_string(i), "", friday); }));
    engine.settle();
    EXPECT_EQ(engine.pendingEntries(), engine.foldEntries() - 1);
    ASSERT_TRUE(engine.transact([](Database& db) { db.record("La que llena el diario", "", friday); }));
    engine.settle();
    EXPECT_EQ(engine.pendingEntries(), 0);
    EXPECT_TRUE(journalKinds(directory.path()).empty());
    EXPECT_EQ(Repository::decode(readFile(directory.path() / "Velmora.json")), engine.db());
}

} // namespace
