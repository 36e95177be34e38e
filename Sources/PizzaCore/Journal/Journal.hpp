#pragma once

// The journal of changes beside the document: "Velmora.journal" in the data directory, an SQLite
// database in write-ahead-log mode (with its "-wal" and "-shm" files) with synchronous=FULL, so
// that an entry is on the disk when append returns. Each entry holds a sequence number (growing,
// never reused, also after entries were dropped), a kind ("transaction" or "draft"), the change as
// JSON text and the SHA-256 of that text: SQLite does not check the content of its pages, and a
// flipped bit in an amount would otherwise replay as another amount.
//
// The journal is never repaired or overwritten: a file that is not such a journal, or an entry
// whose kind, digest or text is wrong, is refused with the message of damagedMessage.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace pizzacore {

class Journal {
public:
    static constexpr std::string_view fileName = "Velmora.journal";
    static constexpr std::string_view transactionKind = "transaction";
    static constexpr std::string_view draftKind = "draft";

    enum class Access {
        // Creates the file when it is missing.
        write,
        // Never writes or creates anything: a missing file is an empty journal. It reads while
        // another process appends, without taking any lock of the data directory.
        read,
    };

    struct Entry {
        std::int64_t sequence = 0;
        std::string kind;
        std::string change;
    };

    // Opens the journal at `file`; anything that is not a journal of this program (another
    // database, a damaged file, a folder) is refused with PCError damagedMessage(file), and
    // nothing is written to it.
    Journal(std::filesystem::path file, Access access);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    const std::filesystem::path& file() const { return file_; }

    // Appends an entry and gives its sequence number once it is durable. Throws PCError (in
    // Spanish, naming the file) when it cannot be written; nothing is appended then.
    std::int64_t append(std::string_view kind, std::string_view change);
    // The entries after `sequence`, oldest first, each checked (kind and digest); a damaged one
    // is refused with damagedMessage.
    std::vector<Entry> entries(std::int64_t after) const;
    // How many entries follow `sequence`.
    std::int64_t countAfter(std::int64_t sequence) const;
    // Drops the entries up to `sequence` in one short transaction, remembering that they were.
    void dropThrough(std::int64_t sequence);
    // The highest sequence number given so far (appended or dropped), 0 for none.
    std::int64_t lastSequence() const;
    // The highest sequence number dropped so far, 0 for none.
    std::int64_t droppedThrough() const;
    // Makes the next sequence number greater than `sequence`.
    void continueAfter(std::int64_t sequence);
    // Copies what the log holds into the database file, so that the log starts again from its
    // beginning; on a connection of its own, without holding up appends. Failures are ignored:
    // the log only grows until the next attempt.
    void checkpoint();

    static std::string damagedMessage(const std::filesystem::path& file);

private:
    void openWritable();
    void openReadable();
    void checkSchema();
    [[noreturn]] void damaged() const;

    std::filesystem::path file_;
    Access access_;
    // Null for a missing journal opened for reading.
    sqlite3* db_ = nullptr;
    sqlite3* checkpointer_ = nullptr;
    mutable std::mutex mutex_;
    std::mutex checkpointMutex_;
    std::int64_t next_ = 1;
    std::int64_t dropped_ = 0;
};

} // namespace pizzacore
