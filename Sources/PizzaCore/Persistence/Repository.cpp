#include "Repository.hpp"

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Journal/DocumentChange.hpp>
#include <PizzaCore/Journal/Journal.hpp>
#include <PizzaCore/Json/Json.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>
#include <PizzaCore/Persistence/DataDirectory.hpp>
#include <PizzaCore/Persistence/Envelope.hpp>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pizzacore {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view integrityMessage =
    "La copia no es válida o su integridad no coincide. No se han sustituido los datos.";
constexpr std::string_view instanceMessage =
    "Velmora ya está abierto con estos datos. Usa una sola instancia.";
constexpr std::string_view activeArchiveMessage = "No se puede reemplazar un archivo fiscal activo con una "
                                                  "copia. La recuperación fiscal requiere conservar "
                                                  "la cadena completa sin retroceder series ni registros.";

constexpr std::string_view unwritableTextMessage =
    "Un texto de los datos no es UTF-8 válido y no se puede guardar sin cambiarlo. No se ha guardado "
    "nada.";

constexpr std::string_view readOnlyMessage =
    "Los datos están abiertos solo para consulta. No se ha guardado nada.";

// The data file, its previous copy, the pre-restore copies and exported backups are readable by
// the user only.
constexpr mode_t privateMode = 0600;

// The document held by envelope bytes that have the JSON reader's padding after their end.
Database decodeChecked(std::string document) {
    Database db = fromJSON<Database>(std::move(document));
    if (db.schemaVersion != 1)
        throw PCError::invalid("Formato de datos no compatible (" + std::to_string(db.schemaVersion) +
                               "). Actualiza Velmora; los datos originales se conservan.");
    Repository::validate(db);
    return db;
}

// The JSON of a valid document, exactly as it will read back: text the writer would have to
// repair could, for instance, turn two different identifiers into the same one and leave a file
// that no load accepts.
std::string documentBytes(const Database& db) {
    Repository::validate(db);
    std::optional<std::string> document = toExactJSON(db);
    if (!document) throw PCError::invalid(std::string(unwritableTextMessage));
    return std::move(*document);
}

// The document bytes of the open envelope file: decoded in one pass when the file is in the
// written form, as this program writes it; otherwise followed as JSON in pieces. The file's text
// is never held whole.
std::string readDocument(int fd, const fs::path& path, std::int64_t* journal) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        throw fs::filesystem_error("No se pudo leer el archivo", path,
                                   std::error_code(errno, std::generic_category()));
    if (std::optional<std::string> document =
            Envelope::readWrittenForm(fd, path, static_cast<std::size_t>(status.st_size), journal))
        return std::move(*document);
    return Envelope::readWithJournal(fd, path, journal);
}

bool nameTaken(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

// Replays the journal's entries after `folded` on the document read with that mark. An entry
// that does not read as a change, or a document that the entries leave inconsistent, means the
// journal is damaged; so does a journal that dropped entries the document does not hold.
void replayInto(Database& db, std::int64_t folded, const Journal& journal, std::int64_t* pending) {
    if (journal.droppedThrough() > folded) throw PCError::invalid(Journal::behindMessage(journal.file()));
    const std::vector<Journal::Entry> entries = journal.entries(folded);
    for (const Journal::Entry& entry : entries) {
        DocumentChange change;
        try {
            change = decodeChange(entry.change);
        } catch (const std::exception&) {
            throw PCError::invalid(Journal::damagedMessage(journal.file()));
        }
        apply(db, change);
    }
    if (!entries.empty()) {
        try {
            Repository::validate(db);
        } catch (const PCError&) {
            throw PCError::invalid(Journal::damagedMessage(journal.file()));
        }
    }
    if (pending) *pending = static_cast<std::int64_t>(entries.size());
}

} // namespace

Repository::Repository(fs::path directory, bool lock)
    : Repository(std::move(directory), lock ? Access::locked : Access::unlocked) {}

Repository::Repository(fs::path directory, Access access)
    : directory_(std::move(directory))
    , access_(access) {
    if (access_ == Access::readOnly) return;
    createPrivateDirectories(directory_);
    if (access_ != Access::locked) return;
    // Close-on-exec, so that a program this process starts never inherits the lock. A link where
    // the lock should be is refused rather than followed: a dangling one would create a file
    // wherever it points. Non-blocking, so that a named pipe there cannot hold the open.
    const int fd =
        ::open((directory_ / ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) throw PCError::invalid(std::string(instanceMessage));
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        throw PCError::invalid(std::string(instanceMessage));
    }
    lockFD_ = fd;
    // With the lock held no one else writes here: temporary files are what a killed save left.
    AtomicFile::removeLeftovers(directory_);
}

Repository::~Repository() {
    // The journal closes before the lock is released.
    journal_.reset();
    if (lockFD_ != -1) {
        ::flock(lockFD_, LOCK_UN);
        ::close(lockFD_);
    }
}

fs::path Repository::file() const {
    return directory_ / "Velmora.json";
}

fs::path Repository::previousFile() const {
    return directory_ / "Velmora.previous.json";
}

fs::path Repository::journalFile() const {
    return directory_ / Journal::fileName;
}

void Repository::requireWritable() const {
    if (access_ == Access::readOnly) throw PCError::invalid(std::string(readOnlyMessage));
}

Journal* Repository::journal(bool create) const {
    std::lock_guard lock(journalMutex_);
    if (journal_) return journal_.get();
    if (access_ == Access::readOnly) {
        journal_ = std::make_unique<Journal>(journalFile(), Journal::Access::read);
        return journal_.get();
    }
    if (!create && !nameTaken(journalFile())) return nullptr;
    journal_ = std::make_unique<Journal>(journalFile(), Journal::Access::write);
    // A journal made anew (or one older than the document) continues after the document's mark,
    // so that no new entry is taken for one the document already holds.
    journal_->continueAfter(folded_.load());
    return journal_.get();
}

Database Repository::decode(std::string_view bytes) {
    return decodeChecked(Envelope::unwrap(bytes));
}

Database Repository::decodeFile(int fd, const fs::path& path, std::int64_t* journal) {
    return decodeChecked(Envelope::readWithJournal(fd, path, journal));
}

Database Repository::replayJournal(const fs::path& directory, Database db, std::int64_t folded,
                                   std::int64_t* pending) {
    const Journal journal(directory / Journal::fileName, Journal::Access::read);
    replayInto(db, folded, journal, pending);
    return db;
}

Database Repository::decodeBackup(int fd, const fs::path& path) {
    std::string document;
    try {
        document = Envelope::read(fd, path);
    } catch (const JSONError&) {
        // Whatever keeps a chosen file from being an envelope of this format makes it no backup.
        throw PCError::invalid(std::string(integrityMessage));
    }
    return decodeChecked(std::move(document));
}

std::string Repository::encode(const Database& db) {
    return Envelope::wrap(documentBytes(db));
}

Database Repository::load() const {
    // A reader beside Velmora may read the document just before a fold replaces it and the journal
    // just after the fold dropped what it folded: the newer document holds those entries, and the
    // reading starts again. The lock holder folds only under foldMutex_, so for it the gap is real.
    for (int attempt = 0;; ++attempt) {
        try {
            return loadOnce();
        } catch (const PCError& error) {
            const Journal* entries = journal(false);
            if (access_ == Access::locked || attempt == 2 || !entries ||
                error.message() != Journal::behindMessage(entries->file()))
                throw;
        }
    }
}

Database Repository::loadOnce() const {
    std::lock_guard lock(foldMutex_);
    known_.reset();
    std::int64_t folded = 0;
    Database db;
    const int fd = AtomicFile::openRegular(file());
    if (fd >= 0) {
        std::string document;
        std::optional<AtomicFile::FileIdentity> identity;
        try {
            const std::optional<AtomicFile::FileIdentity> before = AtomicFile::settledIdentity(fd);
            document = readDocument(fd, file(), &folded);
            // A file that changed while it was read is not known, whatever it now holds.
            if (before && AtomicFile::identity(fd) == before) identity = before;
        } catch (...) {
            ::close(fd);
            throw;
        }
        ::close(fd);
        db = decodeChecked(std::move(document));
        known_ = identity;
    }
    folded_ = folded;
    loaded_ = true;
    if (Journal* entries = journal(false)) {
        replayInto(db, folded, *entries, nullptr);
        entries->continueAfter(folded);
    }
    return db;
}

std::int64_t Repository::lastSequence() const {
    const Journal* entries = journal(false);
    return std::max(folded_.load(), entries ? entries->lastSequence() : 0);
}

std::int64_t Repository::pendingEntries() const {
    const Journal* entries = journal(false);
    return entries ? entries->countAfter(folded_.load()) : 0;
}

std::int64_t Repository::commit(std::string_view kind, const DocumentChange& change, const Database& after) {
    requireWritable();
    if (kind != Journal::transactionKind && kind != Journal::draftKind)
        throw std::invalid_argument("commit: unknown kind of journal entry");
    if (change.empty()) return lastSequence();
    validateChange(after, change);
    const std::string text = encodeChange(change);
    // The mark of the stored document must be known before the journal's first entry.
    if (!loaded_) load();
    if (!nameTaken(file())) {
        // With no document stored yet, a replay would start from a new document whose random
        // identifiers (the draft's) differ: the first change is stored as a whole document.
        std::lock_guard lock(foldMutex_);
        if (!nameTaken(file())) {
            const std::int64_t sequence = lastSequence();
            writeDocument(after, sequence);
            return sequence;
        }
    }
    return journal(true)->append(kind, text);
}

void Repository::fold(const Database& db, std::int64_t sequence) {
    requireWritable();
    std::lock_guard lock(foldMutex_);
    if (sequence < folded_.load()) return;
    if (sequence > lastSequence()) throw std::invalid_argument("fold: sequence beyond the journal");
    writeDocument(db, sequence);
    if (Journal* entries = journal(false)) {
        // The document now names `sequence`: entries up to it are never replayed, whether or not
        // they are dropped now, so a failure here is left to the next fold.
        try {
            entries->dropThrough(sequence);
            entries->checkpoint();
        } catch (const std::exception&) {
        }
    }
}

void Repository::save(const Database& db) {
    requireWritable();
    fold(db, lastSequence());
}

void Repository::writeDocument(const Database& db, std::int64_t sequence) {
    const std::string document = documentBytes(db);
    // The stored file must be one this system can read. When it is exactly the file this
    // repository last wrote or checked, it is; anything else is read and checked in full.
    if (!known_ || AtomicFile::identity(file()) != known_) {
        known_.reset();
        const int fd = AtomicFile::openRegular(file());
        if (fd >= 0) {
            try {
                decodeChecked(readDocument(fd, file(), nullptr));
            } catch (...) {
                ::close(fd);
                throw;
            }
            ::close(fd);
        }
    }
    AtomicFile::replaceWithCopy(file(), previousFile(), privateMode);
    // Until the new file is in place the stored file is not known; a failure below leaves the
    // next save to check it in full.
    known_.reset();
    known_ = AtomicFile::writeWith(file(), privateMode, [&](const AtomicFile::Emit& emit) {
        Envelope::wrapTo(document, emit, sequence);
    });
    folded_ = sequence;
    loaded_ = true;
}

void Repository::exportTo(const Database& db, const fs::path& path) {
    const std::string document = documentBytes(db);
    // A backup holds the customers' names, telephones and addresses: it is for its owner only,
    // whatever the file it replaces allowed.
    AtomicFile::writeWith(path, privateMode,
                          [&](const AtomicFile::Emit& emit) { Envelope::wrapTo(document, emit); });
}

Database Repository::restore(const fs::path& path, const Database& current, Instant now) {
    requireWritable();
    // A restore that cannot succeed writes nothing, not even the pre-restore copy.
    if (current.fiscal && (!current.fiscal->invoices.empty() || !current.fiscal->events.empty()))
        throw PCError::invalid(std::string(activeArchiveMessage));

    const int fd = AtomicFile::openRegular(path);
    if (fd < 0)
        throw fs::filesystem_error("No se pudo abrir la copia", path,
                                   std::make_error_code(std::errc::no_such_file_or_directory));
    std::optional<Database> read;
    try {
        read = decodeBackup(fd, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    Database restored = std::move(*read);
    read.reset();

    const fs::path copy = directory_ / ("Antes-de-restaurar-" + Uuid::random().text() + ".velmorabackup");
    AtomicFile::write(copy, encode(current), privateMode);

    restored.nextNumber = std::max(restored.nextNumber, current.nextNumber);
    restored.record("Restauración de copia; numeración mínima conservada: " +
                        std::to_string(restored.nextNumber),
                    path.filename().string(), now);
    save(restored);
    return restored;
}

} // namespace pizzacore
