// The journal of changes beside the document: what a commit, a fold and a save leave in the data
// directory, how opening replays what was committed after the document was written, and how a
// damaged or mismatched journal is refused without anything being written.

#include <PizzaCore/Persistence/Envelope.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>
#include <support/SyntheticDocument.hpp>
#include <support/TestFiles.hpp>

#include <sqlite3.h>

#include "RandomOperations.hpp"

#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace pizzacore;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::makeDocument;
using pizzacore::testing::RandomOperations;
using pizzacore::testing::readFile;
using pizzacore::testing::snapshot;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::writeFile;

const Instant monday13h = Instant::fromUnix(1773057600); // 2026-03-09 13:00 in Madrid, a Monday

std::string damagedMessage(const fs::path& directory) {
    return "El diario de cambios «" + (directory / "Velmora.journal").string() +
           "» está dañado. No se ha modificado nada.";
}

// Expects `call` to throw a PCError carrying `message`.
void expectRefusal(const std::function<void()>& call, const std::string& message) {
    try {
        call();
        ADD_FAILURE() << "no refusal, expected: " << message;
    } catch (const PCError& error) {
        EXPECT_EQ(error.message(), message);
    }
}

// A confirmed order of the first active product, in the session open at `now`.
Order confirmOne(Database& db, Instant now) {
    Draft draft;
    for (const Product& product : db.products)
        if (product.active) {
            draft.lines.push_back(Line::make(product));
            break;
        }
    return db.confirm(draft, now);
}

// The documents of a few transactions, each committed as the application commits them.
class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        db = makeDocument(DocumentShape::tiny(), 7);
        Repository repository(folder.path(), true);
        repository.save(db);
    }

    // Runs `operation` on a copy of `db` and commits the change; `db` becomes the result.
    std::int64_t commitStep(Repository& repository, const std::function<void(Database&)>& operation,
                            std::string_view kind = "transaction") {
        Database after = db;
        operation(after);
        const std::int64_t sequence = repository.commit(kind, diff(db, after), after);
        db = std::move(after);
        return sequence;
    }

    TemporaryDirectory folder;
    Database db;
};

TEST_F(JournalTest, CommittedChangesAreReplayedOnOpeningAndTheDocumentIsNotRewritten) {
    const std::string stored = readFile(folder.path() / "Velmora.json");
    {
        Repository repository(folder.path(), true);
        EXPECT_EQ(repository.load(), db);
        EXPECT_EQ(commitStep(repository, [](Database& d) { confirmOne(d, monday13h); }), 1);
        EXPECT_EQ(commitStep(
                      repository, [](Database& d) { d.draft.notes = "Sin cebolla"; }, "draft"),
                  2);
        EXPECT_EQ(commitStep(repository,
                             [](Database& d) {
                                 d.pay(d.orders.back().id, PaymentMethod::card, std::nullopt, monday13h);
                             }),
                  3);
        EXPECT_EQ(repository.lastSequence(), 3);
        EXPECT_EQ(repository.pendingEntries(), 3);
    }
    EXPECT_EQ(readFile(folder.path() / "Velmora.json"), stored);
    EXPECT_TRUE(fs::exists(folder.path() / "Velmora.journal"));

    Repository reopened(folder.path(), true);
    EXPECT_EQ(reopened.load(), db);
    EXPECT_EQ(reopened.pendingEntries(), 3);
    // Numbering goes on after the entries already taken.
    EXPECT_EQ(commitStep(
                  reopened, [](Database& d) { d.draft.notes = "Con cebolla"; }, "draft"),
              4);
}

TEST_F(JournalTest, AnEmptyChangeWritesNothing) {
    Repository repository(folder.path(), true);
    repository.load();
    EXPECT_EQ(repository.commit("draft", diff(db, db), db), 0);
    EXPECT_FALSE(fs::exists(folder.path() / "Velmora.journal"));
}

TEST_F(JournalTest, FoldWritesTheDocumentNamingItsLastEntryAndDropsTheEntries) {
    Repository repository(folder.path(), true);
    repository.load();
    const std::string before = readFile(folder.path() / "Velmora.json");
    commitStep(repository, [](Database& d) { confirmOne(d, monday13h); });
    const std::int64_t sequence = commitStep(
        repository, [](Database& d) { d.draft.notes = "Bien hecha"; }, "draft");
    repository.fold(db, sequence);

    EXPECT_EQ(repository.pendingEntries(), 0);
    EXPECT_EQ(readFile(folder.path() / "Velmora.previous.json"), before);
    const std::string stored = readFile(folder.path() / "Velmora.json");
    EXPECT_TRUE(stored.starts_with(R"({"format":"Velmora","journal":2,"payload":")")) << stored.substr(0, 60);
    EXPECT_EQ(stored, Envelope::wrap(toJSON(db), 2));
    EXPECT_EQ(Repository::decode(stored), db);

    // After a fold the numbering goes on, also in a repository opened afresh.
    Repository reopened(folder.path(), false);
    EXPECT_EQ(reopened.load(), db);
    EXPECT_EQ(reopened.pendingEntries(), 0);
    EXPECT_EQ(commitStep(
                  reopened, [](Database& d) { d.draft.notes = "Poco hecha"; }, "draft"),
              3);
    EXPECT_EQ(Repository(folder.path(), false).load(), db);
}

TEST_F(JournalTest, AFoldOlderThanTheStoredDocumentChangesNothing) {
    Repository repository(folder.path(), true);
    repository.load();
    const Database first = db;
    const std::int64_t one = commitStep(repository, [](Database& d) { confirmOne(d, monday13h); });
    const std::int64_t two = commitStep(
        repository, [](Database& d) { d.draft.notes = "Sin sal"; }, "draft");
    repository.fold(db, two);
    const auto files = snapshot(folder.path());
    repository.fold(first, one);
    EXPECT_EQ(snapshot(folder.path()), files);
    EXPECT_EQ(Repository(folder.path(), false).load(), db);
}

TEST(JournalFiles, ASaveIntoAnEmptyFolderWritesTheDocumentAsBeforeAndNoJournal) {
    TemporaryDirectory folder;
    const Database db = makeDocument(DocumentShape::tiny(), 3);
    Repository repository(folder.path(), false);
    EXPECT_TRUE(repository.load().orders.empty());
    repository.save(db);
    EXPECT_EQ(readFile(folder.path() / "Velmora.json"), Envelope::wrap(toJSON(db)));
    EXPECT_FALSE(fs::exists(folder.path() / "Velmora.journal"));
    repository.save(db);
    EXPECT_EQ(readFile(folder.path() / "Velmora.json"), Envelope::wrap(toJSON(db)));
}

TEST(JournalFiles, TheFirstCommitIntoAnEmptyFolderWritesTheWholeDocument) {
    TemporaryDirectory folder;
    Repository repository(folder.path(), true);
    const Database empty = repository.load();
    Database after = empty;
    after.reconcile(monday13h);
    EXPECT_EQ(repository.commit("transaction", diff(empty, after), after), 0);
    EXPECT_EQ(readFile(folder.path() / "Velmora.json"), Envelope::wrap(toJSON(after)));
    EXPECT_EQ(Repository(folder.path(), false).load(), after);
}

TEST_F(JournalTest, ACommitLeavingAnInconsistentDocumentIsRefusedAndNothingIsAppended) {
    Repository repository(folder.path(), true);
    repository.load();
    commitStep(
        repository, [](Database& d) { d.draft.notes = "Primera"; }, "draft");
    Database after = db;
    after.nextNumber = 0;
    expectRefusal([&] { repository.commit("transaction", diff(db, after), after); },
                  "Datos inconsistentes. Conserva el archivo y recupera una copia de seguridad válida.");
    EXPECT_EQ(repository.lastSequence(), 1);
    EXPECT_EQ(Repository(folder.path(), false).load(), db);
}

TEST_F(JournalTest, RestoringNeverReplaysTheOldJournalOverTheRestoredDocument) {
    const fs::path backup = folder.path() / "copia.velmorabackup";
    Repository repository(folder.path(), true);
    repository.load();
    repository.exportTo(db, backup);
    EXPECT_EQ(readFile(backup).find("journal"), std::string::npos);
    commitStep(repository, [](Database& d) { confirmOne(d, monday13h); });
    commitStep(
        repository, [](Database& d) { d.draft.notes = "Extra de queso"; }, "draft");
    const Database restored = repository.restore(backup, db, monday13h);
    EXPECT_EQ(repository.pendingEntries(), 0);
    EXPECT_EQ(Repository(folder.path(), false).load(), restored);
    EXPECT_EQ(restored.orders.size(), makeDocument(DocumentShape::tiny(), 7).orders.size());
}

TEST_F(JournalTest, AJournalThatIsNoJournalIsRefusedAndLeftAsItIs) {
    const Database stored = db;
    for (const std::string& bytes : {std::string("esto no es una base de datos"), std::string(4096, '\0')}) {
        writeFile(folder.path() / "Velmora.journal", bytes);
        const auto files = snapshot(folder.path());
        Repository repository(folder.path(), false);
        expectRefusal([&] { repository.load(); }, damagedMessage(folder.path()));
        expectRefusal([&] { repository.save(stored); }, damagedMessage(folder.path()));
        EXPECT_EQ(snapshot(folder.path()), files);
    }
}

// Runs SQL on the journal behind the repository's back.
void tamper(const fs::path& journal, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(journal.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

TEST_F(JournalTest, AnEntryWhoseTextKindOrDigestIsWrongIsRefused) {
    {
        Repository repository(folder.path(), true);
        repository.load();
        commitStep(repository, [](Database& d) { confirmOne(d, monday13h); });
    }
    const fs::path journal = folder.path() / "Velmora.journal";
    const std::string copy = (folder.path() / "sano.journal").string();
    fs::copy_file(journal, copy);
    const std::vector<std::string> damages = {
        // An amount changed by one digit: the digest no longer matches.
        "UPDATE entries SET change = replace(change, '\"cents\":', '\"cents\":1')",
        "UPDATE entries SET kind = 'otra'",
        "UPDATE entries SET sha256 = zeroblob(32)",
        // Text that reads as a change no longer, with a digest that matches it.
        "UPDATE entries SET change = '{\"orders\":7}', sha256 = X'" +
            Envelope::hex(Envelope::sha256(R"({"orders":7})")) + "'",
        "DROP TABLE folded",
        "PRAGMA application_id = 7",
    };
    for (const std::string& damage : damages) {
        SCOPED_TRACE(damage);
        fs::copy_file(copy, journal, fs::copy_options::overwrite_existing);
        tamper(journal, damage);
        const auto files = snapshot(folder.path());
        expectRefusal([&] { Repository(folder.path(), false).load(); }, damagedMessage(folder.path()));
        EXPECT_EQ(snapshot(folder.path()), files);
    }
}

TEST_F(JournalTest, ADocumentOlderThanWhatTheJournalDroppedIsRefused) {
    Repository repository(folder.path(), true);
    repository.load();
    const std::string old = readFile(folder.path() / "Velmora.json");
    const std::int64_t sequence = commitStep(repository, [](Database& d) { confirmOne(d, monday13h); });
    repository.fold(db, sequence);
    // The older document put back by hand: the entry it lacks is gone from the journal.
    writeFile(folder.path() / "Velmora.json", old);
    expectRefusal([&] { Repository(folder.path(), false).load(); },
                  "El documento «Velmora.json» es anterior al diario de cambios «" +
                      (folder.path() / "Velmora.journal").string() +
                      "»: faltan cambios que el diario ya no guarda. No se ha modificado nada.");
}

TEST_F(JournalTest, AJournalMadeAnewContinuesAfterTheDocumentsMark) {
    {
        Repository repository(folder.path(), true);
        repository.load();
        const std::int64_t sequence = commitStep(repository, [](Database& d) { confirmOne(d, monday13h); });
        repository.fold(db, sequence);
    }
    fs::remove(folder.path() / "Velmora.journal");
    Repository repository(folder.path(), true);
    EXPECT_EQ(repository.load(), db);
    EXPECT_EQ(commitStep(
                  repository, [](Database& d) { d.draft.notes = "Nueva"; }, "draft"),
              2);
    EXPECT_EQ(Repository(folder.path(), false).load(), db);
}

TEST_F(JournalTest, AReadOnlyRepositoryReadsWhileTheWriterAppendsAndWritesNothing) {
    Repository writer(folder.path(), true);
    writer.load();
    commitStep(writer, [](Database& d) { confirmOne(d, monday13h); });
    Repository reader(folder.path(), Repository::Access::readOnly);
    EXPECT_EQ(reader.load(), db);
    EXPECT_EQ(reader.pendingEntries(), 1);
    expectRefusal([&] { reader.save(db); },
                  "Los datos están abiertos solo para consulta. No se ha guardado nada.");
    commitStep(
        writer, [](Database& d) { d.draft.notes = "Después"; }, "draft");
    EXPECT_EQ(Repository(folder.path(), Repository::Access::readOnly).load(), db);
}

TEST_F(JournalTest, AReadOnlyRepositoryCreatesNoFileWhenNoOneIsWriting) {
    {
        Repository writer(folder.path(), true);
        writer.load();
        commitStep(writer, [](Database& d) { confirmOne(d, monday13h); });
    }
    const auto files = snapshot(folder.path());
    EXPECT_FALSE(files.contains("Velmora.journal-wal"));
    Repository reader(folder.path(), Repository::Access::readOnly);
    EXPECT_EQ(reader.load(), db);
    EXPECT_EQ(reader.pendingEntries(), 1);
    EXPECT_EQ(snapshot(folder.path()), files);
}

// The kind of entry the application would write for the step.
std::string_view kindOf(const DocumentChange& change) {
    DocumentChange rest = change;
    rest.draft.reset();
    return rest.empty() ? "draft" : "transaction";
}

TEST(JournalProperty, RandomStepsThroughJournalFoldsSavesAndReopeningGiveTheDocumentInMemory) {
    for (const std::uint64_t seed : {21u, 22u, 23u}) {
        SCOPED_TRACE(seed);
        TemporaryDirectory folder;
        Database db = makeDocument(DocumentShape::tiny(), seed);
        auto repository = std::make_unique<Repository>(folder.path(), true);
        repository->save(db);
        RandomOperations random(seed, db.sessions.back().opened);
        for (int step = 0; step < 200; ++step) {
            SCOPED_TRACE(step);
            switch (random.random()() % 20) {
            case 0:
                repository->fold(db, repository->lastSequence());
                EXPECT_EQ(repository->pendingEntries(), 0);
                break;
            case 1:
                repository.reset();
                repository = std::make_unique<Repository>(folder.path(), true);
                ASSERT_EQ(repository->load(), db);
                break;
            case 2:
                repository->save(db);
                break;
            case 3: {
                // An edit that may leave an inconsistent document: committed exactly when a
                // save would accept it.
                Database after = db;
                random.edit(after);
                std::optional<std::string> refusal;
                try {
                    Repository::validate(after);
                } catch (const PCError& error) {
                    refusal = error.message();
                }
                const std::int64_t last = repository->lastSequence();
                if (refusal) {
                    expectRefusal([&] { repository->commit("transaction", diff(db, after), after); },
                                  *refusal);
                    EXPECT_EQ(repository->lastSequence(), last);
                } else {
                    repository->commit("transaction", diff(db, after), after);
                    db = std::move(after);
                }
                break;
            }
            default: {
                Database after = db;
                random.operate(after);
                const DocumentChange change = diff(db, after);
                const std::int64_t last = repository->lastSequence();
                const std::int64_t sequence = repository->commit(kindOf(change), change, after);
                EXPECT_EQ(sequence, change.empty() ? last : last + 1);
                db = std::move(after);
            }
            }
            if (HasFatalFailure()) return;
        }
        repository.reset();
        EXPECT_EQ(Repository(folder.path(), true).load(), db);
    }
}

TEST(JournalProperty, FoldsOnAnotherThreadNeverLoseACommittedChange) {
    TemporaryDirectory folder;
    Database db = makeDocument(DocumentShape::small(), 31);
    Repository repository(folder.path(), true);
    repository.save(db);
    RandomOperations random(31, db.sessions.back().opened);
    std::future<void> folding;
    for (int step = 0; step < 300; ++step) {
        Database after = db;
        random.operate(after);
        const DocumentChange change = diff(db, after);
        const std::int64_t sequence = repository.commit(kindOf(change), change, after);
        db = std::move(after);
        if (step % 25 == 0) {
            if (folding.valid()) folding.get();
            // The fold encodes and writes its own copy while the steps go on.
            folding = std::async(std::launch::async, [&repository, snapshot = db, sequence] {
                repository.fold(snapshot, sequence);
            });
        }
    }
    folding.get();
    EXPECT_LT(repository.pendingEntries(), 25);
    EXPECT_EQ(Repository(folder.path(), false).load(), db);
}

// What a check gave: nothing for an acceptance, the message of a refusal.
std::optional<std::string> verdict(const std::function<void()>& check) {
    try {
        check();
        return std::nullopt;
    } catch (const PCError& error) {
        return error.message();
    }
}

TEST(ValidateChange, GivesTheWholeChecksVerdictOnRandomStepsFromAConsistentDocument) {
    int accepted = 0;
    int refused = 0;
    for (const std::uint64_t seed : {41u, 42u, 43u, 44u}) {
        Database db = makeDocument(DocumentShape::small(), seed);
        RandomOperations random(seed, db.sessions.back().opened);
        for (int step = 0; step < 300; ++step) {
            Database after = db;
            const std::string what = random.random()() % 2 == 0 ? random.edit(after) : random.operate(after);
            const std::optional<std::string> whole = verdict([&] { Repository::validate(after); });
            const std::optional<std::string> part =
                verdict([&] { Repository::validateChange(after, diff(db, after)); });
            EXPECT_EQ(part, whole) << seed << "/" << step << ": " << what;
            if (whole) {
                ++refused;
            } else {
                ++accepted;
                db = std::move(after);
            }
        }
    }
    EXPECT_GT(accepted, 300);
    EXPECT_GT(refused, 100);
}

} // namespace
