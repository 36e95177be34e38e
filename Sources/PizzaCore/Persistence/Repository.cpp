#include "Repository.hpp"

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Json/Json.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>
#include <PizzaCore/Persistence/DataDirectory.hpp>
#include <PizzaCore/Persistence/Envelope.hpp>

#include <algorithm>
#include <cerrno>
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
std::string readDocument(int fd, const fs::path& path) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        throw fs::filesystem_error("No se pudo leer el archivo", path,
                                   std::error_code(errno, std::generic_category()));
    if (std::optional<std::string> document =
            Envelope::readWrittenForm(fd, path, static_cast<std::size_t>(status.st_size)))
        return std::move(*document);
    return Envelope::read(fd, path);
}

} // namespace

Repository::Repository(fs::path directory, bool lock)
    : directory_(std::move(directory)) {
    createPrivateDirectories(directory_);
    if (!lock) return;
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

Database Repository::decode(std::string_view bytes) {
    return decodeChecked(Envelope::unwrap(bytes));
}

Database Repository::decodeFile(int fd, const fs::path& path) {
    return decodeChecked(Envelope::read(fd, path));
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
    known_.reset();
    const int fd = AtomicFile::openRegular(file());
    if (fd < 0) return Database();
    std::string document;
    std::optional<AtomicFile::FileIdentity> identity;
    try {
        const std::optional<AtomicFile::FileIdentity> before = AtomicFile::settledIdentity(fd);
        document = readDocument(fd, file());
        // A file that changed while it was read is not known, whatever it now holds.
        if (before && AtomicFile::identity(fd) == before) identity = before;
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    Database db = decodeChecked(std::move(document));
    known_ = identity;
    return db;
}

void Repository::save(const Database& db) {
    const std::string document = documentBytes(db);
    // The stored file must be one this system can read. When it is exactly the file this
    // repository last wrote or checked, it is; anything else is read and checked in full.
    if (!known_ || AtomicFile::identity(file()) != known_) {
        known_.reset();
        const int fd = AtomicFile::openRegular(file());
        if (fd >= 0) {
            try {
                decodeChecked(readDocument(fd, file()));
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
    known_ = AtomicFile::writeWith(file(), privateMode,
                                   [&](const AtomicFile::Emit& emit) { Envelope::wrapTo(document, emit); });
}

void Repository::exportTo(const Database& db, const fs::path& path) {
    const std::string document = documentBytes(db);
    // A backup holds the customers' names, telephones and addresses: it is for its owner only,
    // whatever the file it replaces allowed.
    AtomicFile::writeWith(path, privateMode,
                          [&](const AtomicFile::Emit& emit) { Envelope::wrapTo(document, emit); });
}

Database Repository::restore(const fs::path& path, const Database& current, Instant now) {
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
