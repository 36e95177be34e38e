// The power-loss shim models a disk that keeps only what was flushed; these tests hold it to that
// with a program (PowerLossProbe) that writes step by step and dies, and show that a save survives
// the cut while a write that was never flushed does not.

#include <PizzaCore/Persistence/Repository.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>
#include <support/ChildProcess.hpp>
#include <support/PowerLoss.hpp>
#include <support/SyntheticDocument.hpp>
#include <support/TestFiles.hpp>

#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <sqlite3.h>
#include <sys/wait.h>

using namespace pizzacore;

namespace {

namespace fs = std::filesystem;
using pizzacore::testing::ChildProcess;
using pizzacore::testing::readFile;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::writeFile;

Database documentFor(std::uint64_t seed) {
    return pizzacore::testing::makeDocument(pizzacore::testing::DocumentShape::tiny(), seed);
}

// A folder, a probe run on it with the shim, and the folder as the disk shows it after the cut.
class PowerLossTest : public ::testing::Test {
protected:
    PowerLossTest() { fs::create_directory(folder_); }

    void runThenCut(std::vector<std::string> steps) {
        pizzacore::testing::powerloss::recordDurable(folder_, shadow_);
        steps.insert(steps.begin(), folder_.string());
        {
            ChildProcess probe(
                VELMORA_POWER_LOSS_PROBE, steps, errors_,
                pizzacore::testing::powerloss::environment(VELMORA_POWER_LOSS_SHIM, folder_, shadow_));
            ASSERT_EQ(probe.readLine(), "done") << readFile(errors_);
            const int status = probe.wait();
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << readFile(errors_);
        }
        pizzacore::testing::powerloss::cutPower(shadow_, folder_);
    }

    TemporaryDirectory temporary_{"velmora-power"};
    const fs::path folder_ = temporary_.path() / "data";
    const fs::path shadow_ = temporary_.path() / "shadow";
    const fs::path errors_ = temporary_.path() / "stderr";
};

TEST_F(PowerLossTest, SavedDocumentsSurviveTheCut) {
    runThenCut({"save:1", "save:2", "write:notes=never flushed"});
    Repository repository(folder_, true);
    EXPECT_EQ(repository.load(), documentFor(2));
    EXPECT_EQ(Repository::decode(readFile(repository.previousFile())), documentFor(1));
    EXPECT_FALSE(fs::exists(folder_ / "notes"));
}

TEST_F(PowerLossTest, OnlyFlushedContentsAndNamesRemain) {
    writeFile(folder_ / "kept", "from the start");
    writeFile(folder_ / "old", "old text");
    runThenCut({// Made durable: contents flushed, then the folder.
                "write:a=one", "flush:a", "write:c=never", "write:d=moved", "flush:d", "flush-folder",
                // Not made durable: no flush after any of these.
                "write:a=two", "write:b=new", "flush:b", "rename:d=e", "remove:kept", "write:old=changed"});
    const std::map<std::string, std::string> expected = {
        {"a", "one"},               // rewritten, never flushed again
        {"c", ""},                  // named durably, its contents never flushed
        {"d", "moved"},             // the rename was never flushed
        {"kept", "from the start"}, // the removal was never flushed
        {"old", "old text"},        // rewritten in place, never flushed
    };
    EXPECT_EQ(pizzacore::testing::snapshot(folder_), expected);
}

TEST_F(PowerLossTest, ReusedInodesKeepTheirOwnContents) {
    // Once the removal reaches the file system's own journal (ext4 commits it with any flush, here
    // one outside the folder), the removed file's inode is free and the next new file gets it. That
    // file's flushed contents must not become those of the removed name, which the folder's last
    // flush still holds.
    runThenCut({"write:x=old", "flush:x", "flush-folder", "remove:x", "flush-outside", "write:y=new",
                "flush:y", "write:z=newer", "flush:z"});
    EXPECT_EQ(pizzacore::testing::snapshot(folder_), (std::map<std::string, std::string>{{"x", "old"}}));
}

TEST_F(PowerLossTest, ASaveThatNeverFlushesItsFileIsLost) {
    // Renamed into place and the folder flushed, but the file's own contents were not: the name
    // survives with nothing in it, which is exactly what AtomicFile's flush before the rename
    // prevents.
    runThenCut({"save:1", "careless-save:2"});
    EXPECT_EQ(readFile(folder_ / "Velmora.json"), "");
    Repository repository(folder_, true);
    EXPECT_ANY_THROW(repository.load());
}

// The rows of table t in the folder's "test.db" as SQLite reads it after the cut (recovering its
// write-ahead log); 0 when there is no such table.
int sqliteRows(const fs::path& folder) {
    sqlite3* db = nullptr;
    int rows = 0;
    if (sqlite3_open((folder / "test.db").c_str(), &db) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM t", -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            rows = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return rows;
}

// SQLite flushes its write-ahead log with fdatasync and, once, the folder after creating the log;
// its shared-memory index is never flushed and is rebuilt from the log. With every flush the
// commits survive; without them none does.
TEST_F(PowerLossTest, SQLiteCommitsSurviveWhenFlushed) {
    runThenCut({"sqlite:FULL:20"});
    EXPECT_EQ(sqliteRows(folder_), 20);
}

TEST_F(PowerLossTest, SQLiteCommitsThatWereNeverFlushedAreLost) {
    runThenCut({"sqlite:FULL:5", "sqlite:OFF:20"});
    EXPECT_EQ(sqliteRows(folder_), 5);
}

} // namespace
