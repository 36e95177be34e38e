#include "Repository.hpp"

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Json/Json.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>
#include <PizzaCore/Persistence/DataDirectory.hpp>
#include <PizzaCore/Persistence/Envelope.hpp>

#include <algorithm>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace pizzacore {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view instanceMessage =
    "Velmora ya está abierto con estos datos. Usa una sola instancia.";
constexpr std::string_view activeArchiveMessage = "No se puede reemplazar un archivo fiscal activo con una "
                                                  "copia. La recuperación fiscal requiere conservar "
                                                  "la cadena completa sin retroceder series ni registros.";

// The data file, its previous copy and the pre-restore copies are readable by the user only.
constexpr mode_t privateMode = 0600;

// The document held by envelope bytes that have the JSON reader's padding after their end.
Database decodeChecked(std::string document) {
    Database db = fromJSON<Database>(document);
    if (db.schemaVersion != 1)
        throw PCError::invalid("Formato de datos no compatible (" + std::to_string(db.schemaVersion) +
                               "). Actualiza Velmora; los datos originales se conservan.");
    Repository::validate(db);
    return db;
}

} // namespace

Repository::Repository(fs::path directory, bool lock)
    : directory_(std::move(directory)) {
    createPrivateDirectories(directory_);
    if (!lock) return;
    // Close-on-exec, so that a program this process starts never inherits the lock.
    const int fd = ::open((directory_ / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) throw PCError::invalid(std::string(instanceMessage));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
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

std::string Repository::encode(const Database& db) {
    validate(db);
    return Envelope::wrap(toJSON(db));
}

Database Repository::load() const {
    std::optional<std::string> stored = AtomicFile::read(file());
    if (!stored) return Database();
    Database db = decodeChecked(Envelope::unwrap(*stored));
    known_ = Envelope::sha256(*stored);
    return db;
}

void Repository::save(const Database& db) {
    const std::string bytes = encode(db);
    // The stored file must be one this system can read. When its digest is that of the bytes
    // this repository last wrote or accepted, it is; anything else is read and checked in full.
    if (const std::optional<Envelope::Digest> digest = Envelope::fileSha256(file())) {
        if (!known_ || *digest != *known_) {
            known_.reset();
            if (const std::optional<std::string> stored = AtomicFile::read(file()))
                decodeChecked(Envelope::unwrap(*stored));
        }
        AtomicFile::replaceWithCopy(file(), previousFile(), privateMode);
    }
    // Until the new bytes are in place the stored file is not known; a failure below leaves the
    // next save to check it in full.
    known_.reset();
    AtomicFile::write(file(), bytes, privateMode);
    known_ = Envelope::sha256(bytes);
}

void Repository::exportTo(const Database& db, const fs::path& path) {
    AtomicFile::write(path, encode(db));
}

Database Repository::restore(const fs::path& path, const Database& current, Instant now) {
    const std::optional<std::string> backup = AtomicFile::read(path);
    if (!backup)
        throw fs::filesystem_error("No se pudo abrir la copia", path,
                                   std::make_error_code(std::errc::no_such_file_or_directory));
    Database restored = decodeChecked(Envelope::unwrap(*backup));

    const fs::path copy = directory_ / ("Antes-de-restaurar-" + Uuid::random().text() + ".velmorabackup");
    AtomicFile::write(copy, encode(current), privateMode);

    if (current.fiscal && (!current.fiscal->invoices.empty() || !current.fiscal->events.empty()))
        throw PCError::invalid(std::string(activeArchiveMessage));

    restored.nextNumber = std::max(restored.nextNumber, current.nextNumber);
    restored.record("Restauración de copia; numeración mínima conservada: " +
                        std::to_string(restored.nextNumber),
                    path.filename().string(), now);
    save(restored);
    return restored;
}

} // namespace pizzacore
