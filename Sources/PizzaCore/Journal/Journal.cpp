#include "Journal.hpp"

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>
#include <PizzaCore/Persistence/Envelope.hpp>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>

#include <sys/stat.h>

namespace pizzacore {

namespace fs = std::filesystem;

namespace {

// "VLMJ": tells this program's journal from any other SQLite database.
constexpr std::int32_t applicationID = 0x564C4D4A;
constexpr std::int32_t schemaVersion = 1;

constexpr const char* schema = "CREATE TABLE entries(sequence INTEGER PRIMARY KEY, kind TEXT NOT NULL, "
                               "change TEXT NOT NULL, sha256 BLOB NOT NULL);"
                               "CREATE TABLE folded(through INTEGER NOT NULL);"
                               "INSERT INTO folded VALUES(0);";

// A prepared statement that is finalised however its scope is left.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) {
            sqlite3_finalize(statement_);
            statement_ = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool prepared() const { return statement_ != nullptr; }
    sqlite3_stmt* get() const { return statement_; }
    int step() { return sqlite3_step(statement_); }

private:
    sqlite3_stmt* statement_ = nullptr;
};

// What keeps an entry from being written, in the operator's words.
std::string failureReason(int code) {
    switch (code & 0xFF) {
    case SQLITE_FULL:
        return "no queda espacio en el disco";
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
    case SQLITE_AUTH:
        return "no se permite escribir en la carpeta de datos";
    case SQLITE_IOERR:
        return "error de lectura o escritura del disco";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "el archivo está en uso";
    case SQLITE_NOMEM:
        return "no queda memoria";
    default:
        return "error " + std::to_string(code);
    }
}

std::string unwritableMessage(const fs::path& file, int code) {
    return "No se pudo guardar el cambio en el diario «" + file.string() + "» (" + failureReason(code) +
           "). No se ha guardado nada.";
}

void closeConnection(sqlite3*& db) {
    if (db) sqlite3_close_v2(db);
    db = nullptr;
}

bool nameTaken(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

} // namespace

std::string Journal::damagedMessage(const fs::path& file) {
    return "El diario de cambios «" + file.string() + "» está dañado. No se ha modificado nada.";
}

Journal::Journal(fs::path file, Access access)
    : file_(std::move(file))
    , access_(access) {
    // A folder, pipe or device of that name is not a journal; neither is a link, which a write
    // would follow to wherever it points.
    struct stat status {};
    if (::lstat(file_.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) damaged();
    try {
        if (access_ == Access::write)
            openWritable();
        else
            openReadable();
    } catch (...) {
        closeConnection(db_);
        throw;
    }
}

Journal::~Journal() {
    closeConnection(checkpointer_);
    closeConnection(db_);
}

void Journal::damaged() const {
    throw PCError::invalid(damagedMessage(file_));
}

void Journal::openWritable() {
    const bool existed = nameTaken(file_);
    // The connection is used under the journal's own lock, from any thread.
    const int flags =
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW;
    if (const int code = sqlite3_open_v2(file_.c_str(), &db_, flags, nullptr); code != SQLITE_OK) {
        if (existed) damaged();
        throw PCError::invalid(unwritableMessage(file_, code));
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, 5000);

    // What the file holds is judged by reading it before anything is written to it.
    bool fresh = false;
    {
        Statement count(db_, "SELECT count(*) FROM sqlite_schema");
        if (!count.prepared() || count.step() != SQLITE_ROW) {
            if (existed) damaged();
            throw PCError::invalid(unwritableMessage(file_, sqlite3_errcode(db_)));
        }
        fresh = sqlite3_column_int64(count.get(), 0) == 0;
    }
    if (fresh) {
        Statement id(db_, "PRAGMA application_id");
        if (!id.prepared() || id.step() != SQLITE_ROW || sqlite3_column_int(id.get(), 0) != 0) damaged();
    }
    if (!fresh) checkSchema();

    // The log and FULL synchronisation make a committed entry durable; the log is copied into the
    // file by checkpoint() when the document is folded, never while an entry is appended.
    {
        Statement mode(db_, "PRAGMA journal_mode=WAL");
        if (!mode.prepared() || mode.step() != SQLITE_ROW ||
            std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0)), "wal") != 0)
            throw PCError::invalid(unwritableMessage(file_, sqlite3_errcode(db_)));
    }
    char* error = nullptr;
    const int code = sqlite3_exec(db_,
                                  "PRAGMA synchronous=FULL; PRAGMA wal_autocheckpoint=0; "
                                  "PRAGMA journal_size_limit=4194304;",
                                  nullptr, nullptr, &error);
    sqlite3_free(error);
    if (code != SQLITE_OK) throw PCError::invalid(unwritableMessage(file_, code));

    if (fresh) {
        const std::string create = "BEGIN IMMEDIATE;" + std::string(schema) +
                                   "PRAGMA application_id=" + std::to_string(applicationID) +
                                   ";PRAGMA user_version=" + std::to_string(schemaVersion) + ";COMMIT;";
        error = nullptr;
        const int created = sqlite3_exec(db_, create.c_str(), nullptr, nullptr, &error);
        sqlite3_free(error);
        if (created != SQLITE_OK) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw PCError::invalid(unwritableMessage(file_, created));
        }
        checkSchema();
    }
}

void Journal::openReadable() {
    if (!nameTaken(file_)) return;
    // While the writer has the journal open its log exists, and a read-only connection shares it.
    // Without a log, no one is writing: the file is read as it stands, which creates no log or
    // shared-memory file in the data directory.
    const bool logged = nameTaken(fs::path(file_.string() + "-wal"));
    // The path goes into a URI: characters that mean something there are written as escapes.
    std::string escaped = "file:";
    for (const unsigned char c : file_.string()) {
        if (c == '?' || c == '#' || c == '%') {
            constexpr char digits[] = "0123456789ABCDEF";
            escaped += '%';
            escaped += digits[c >> 4];
            escaped += digits[c & 15];
        } else {
            escaped += static_cast<char>(c);
        }
    }
    escaped += logged ? "?mode=ro" : "?immutable=1";
    const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW;
    if (sqlite3_open_v2(escaped.c_str(), &db_, flags, nullptr) != SQLITE_OK) damaged();
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, 5000);
    // A journal being created by the writer holds no table until its first transaction commits:
    // read now, it is an empty journal, not a damaged one.
    {
        Statement count(db_, "SELECT count(*) FROM sqlite_schema");
        if (!count.prepared() || count.step() != SQLITE_ROW) damaged();
        if (sqlite3_column_int64(count.get(), 0) == 0) {
            Statement id(db_, "PRAGMA application_id");
            if (!id.prepared() || id.step() != SQLITE_ROW || sqlite3_column_int(id.get(), 0) != 0) damaged();
            sqlite3_close_v2(db_);
            db_ = nullptr;
            return;
        }
    }
    checkSchema();
}

void Journal::checkSchema() {
    {
        Statement id(db_, "PRAGMA application_id");
        if (!id.prepared() || id.step() != SQLITE_ROW || sqlite3_column_int(id.get(), 0) != applicationID)
            damaged();
    }
    {
        Statement version(db_, "PRAGMA user_version");
        if (!version.prepared() || version.step() != SQLITE_ROW ||
            sqlite3_column_int(version.get(), 0) != schemaVersion)
            damaged();
    }
    {
        Statement folded(db_, "SELECT through FROM folded");
        if (!folded.prepared() || folded.step() != SQLITE_ROW ||
            sqlite3_column_type(folded.get(), 0) != SQLITE_INTEGER)
            damaged();
        dropped_ = sqlite3_column_int64(folded.get(), 0);
        if (dropped_ < 0 || folded.step() != SQLITE_DONE) damaged();
    }
    {
        Statement last(db_, "SELECT max(sequence), min(sequence) FROM entries");
        if (!last.prepared() || last.step() != SQLITE_ROW) damaged();
        const std::int64_t highest = sqlite3_column_int64(last.get(), 0);
        // Entries up to the dropped mark were dropped in the same transaction that set it.
        if (sqlite3_column_type(last.get(), 1) != SQLITE_NULL &&
            sqlite3_column_int64(last.get(), 1) <= dropped_)
            damaged();
        next_ = std::max(highest, dropped_) + 1;
    }
    // Every column the entries need, read once so that a table of another shape is refused here.
    Statement columns(db_, "SELECT sequence, kind, change, sha256 FROM entries LIMIT 0");
    if (!columns.prepared()) damaged();
}

std::int64_t Journal::append(std::string_view kind, std::string_view change) {
    const Envelope::Digest digest = Envelope::sha256(change);
    std::lock_guard lock(mutex_);
    if (!db_ || access_ != Access::write) throw PCError::invalid(unwritableMessage(file_, SQLITE_READONLY));
    Statement insert(db_, "INSERT INTO entries(sequence, kind, change, sha256) VALUES(?, ?, ?, ?)");
    if (!insert.prepared()) throw PCError::invalid(unwritableMessage(file_, sqlite3_errcode(db_)));
    const std::int64_t sequence = next_;
    sqlite3_bind_int64(insert.get(), 1, sequence);
    sqlite3_bind_text(insert.get(), 2, kind.data(), static_cast<int>(kind.size()), SQLITE_STATIC);
    sqlite3_bind_text64(insert.get(), 3, change.data(), change.size(), SQLITE_STATIC, SQLITE_UTF8);
    sqlite3_bind_blob(insert.get(), 4, digest.data(), static_cast<int>(digest.size()), SQLITE_STATIC);
    // One statement is one transaction: its commit returns once the log is flushed to the disk.
    if (const int code = insert.step(); code != SQLITE_DONE)
        throw PCError::invalid(unwritableMessage(file_, code));
    next_ = sequence + 1;
    return sequence;
}

std::vector<Journal::Entry> Journal::entries(std::int64_t after) const {
    std::lock_guard lock(mutex_);
    std::vector<Entry> found;
    if (!db_) return found;
    Statement select(
        db_, "SELECT sequence, kind, change, sha256 FROM entries WHERE sequence > ? ORDER BY sequence");
    if (!select.prepared()) damaged();
    sqlite3_bind_int64(select.get(), 1, after);
    for (;;) {
        const int code = select.step();
        if (code == SQLITE_DONE) break;
        if (code != SQLITE_ROW) damaged();
        sqlite3_stmt* row = select.get();
        if (sqlite3_column_type(row, 1) != SQLITE_TEXT || sqlite3_column_type(row, 2) != SQLITE_TEXT ||
            sqlite3_column_type(row, 3) != SQLITE_BLOB)
            damaged();
        Entry entry;
        entry.sequence = sqlite3_column_int64(row, 0);
        entry.kind.assign(reinterpret_cast<const char*>(sqlite3_column_text(row, 1)),
                          static_cast<std::size_t>(sqlite3_column_bytes(row, 1)));
        entry.change.assign(reinterpret_cast<const char*>(sqlite3_column_text(row, 2)),
                            static_cast<std::size_t>(sqlite3_column_bytes(row, 2)));
        const auto* stored = static_cast<const std::uint8_t*>(sqlite3_column_blob(row, 3));
        const Envelope::Digest digest = Envelope::sha256(entry.change);
        if (static_cast<std::size_t>(sqlite3_column_bytes(row, 3)) != digest.size() || !stored ||
            std::memcmp(stored, digest.data(), digest.size()) != 0)
            damaged();
        if (entry.kind != transactionKind && entry.kind != draftKind) damaged();
        found.push_back(std::move(entry));
    }
    return found;
}

std::int64_t Journal::countAfter(std::int64_t sequence) const {
    std::lock_guard lock(mutex_);
    if (!db_) return 0;
    Statement count(db_, "SELECT count(*) FROM entries WHERE sequence > ?");
    if (!count.prepared()) damaged();
    sqlite3_bind_int64(count.get(), 1, sequence);
    if (count.step() != SQLITE_ROW) damaged();
    return sqlite3_column_int64(count.get(), 0);
}

void Journal::dropThrough(std::int64_t sequence) {
    std::lock_guard lock(mutex_);
    if (!db_ || access_ != Access::write || sequence <= dropped_) return;
    const std::string sql =
        "BEGIN IMMEDIATE;DELETE FROM entries WHERE sequence <= " + std::to_string(sequence) +
        ";UPDATE folded SET through = " + std::to_string(sequence) + ";COMMIT;";
    char* error = nullptr;
    const int code = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    sqlite3_free(error);
    if (code != SQLITE_OK) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw PCError::invalid(unwritableMessage(file_, code));
    }
    dropped_ = sequence;
    next_ = std::max(next_, sequence + 1);
}

std::int64_t Journal::lastSequence() const {
    std::lock_guard lock(mutex_);
    return next_ - 1;
}

std::int64_t Journal::droppedThrough() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

void Journal::continueAfter(std::int64_t sequence) {
    std::lock_guard lock(mutex_);
    next_ = std::max(next_, sequence + 1);
}

void Journal::checkpoint() {
    if (access_ != Access::write) return;
    std::lock_guard lock(checkpointMutex_);
    if (!checkpointer_) {
        const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW;
        if (sqlite3_open_v2(file_.c_str(), &checkpointer_, flags, nullptr) != SQLITE_OK) {
            closeConnection(checkpointer_);
            return;
        }
        sqlite3_exec(checkpointer_, "PRAGMA synchronous=FULL; PRAGMA wal_autocheckpoint=0;", nullptr, nullptr,
                     nullptr);
    }
    // A passive checkpoint never waits for the appending connection and never holds it up.
    sqlite3_wal_checkpoint_v2(checkpointer_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

} // namespace pizzacore
