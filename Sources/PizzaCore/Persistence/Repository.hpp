#pragma once

// The data directory of one restaurant: the single-instance lock, the enveloped document file
// "Velmora.json" with its previous copy "Velmora.previous.json", the integrity validation every
// document passes on its way in and out, and backups in the same envelope.

#include <PizzaCore/Foundation/Instant.hpp>
#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>
#include <PizzaCore/Persistence/DataDirectory.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pizzacore {

class Repository {
public:
    // Creates `directory` (and missing parents) when it does not exist, a new one with mode 0700.
    // With `lock`, opens ".lock" (mode 0600) and takes an exclusive non-blocking flock on it,
    // held until the repository is destroyed; when the lock is held elsewhere or the file cannot
    // be opened, throws PCError "Velmora ya está abierto con estos datos. Usa una sola instancia."
    // Holding the lock, it removes the temporary files a killed save left behind. File-system
    // failures are std::filesystem::filesystem_error.
    Repository(std::filesystem::path directory, bool lock);
    ~Repository();
    Repository(const Repository&) = delete;
    Repository& operator=(const Repository&) = delete;

    const std::filesystem::path& directory() const { return directory_; }
    // "Velmora.json" inside the directory.
    std::filesystem::path file() const;
    // "Velmora.previous.json" inside the directory.
    std::filesystem::path previousFile() const;

    // The stored document, checked by decode; a new Database() when there is no "Velmora.json".
    Database load() const;

    // Encodes (and so validates) the document, checks the stored file (it must decode, unless it
    // is exactly the file this repository last wrote or checked), keeps its exact bytes as
    // "Velmora.previous.json", and replaces "Velmora.json" atomically (mode 0600), writing the
    // envelope piece by piece.
    // A failure leaves "Velmora.json" as it was, and "Velmora.previous.json" either as it was or,
    // when only the final write failed, equal to the unchanged "Velmora.json".
    void save(const Database& db);

    // Writes the envelope of the document to `path` atomically, readable and writable by the
    // user only (also when it replaces a file that others could read); a pipe, device or folder
    // of that name is refused, never replaced.
    void exportTo(const Database& db, const std::filesystem::path& path);

    // Replaces the stored document with the backup at `path` after writing the current document
    // to a pre-restore copy "Antes-de-restaurar-<UUID>.velmorabackup" in the directory. The order
    // numbering never goes backwards; the restore is recorded in the restored document's audit.
    // Returns the restored document, already saved. A current document whose fiscal archive holds
    // invoices or events is never replaced, and nothing is written then. Only a regular file is
    // read, as decodeBackup reads it.
    Database restore(const std::filesystem::path& path, const Database& current,
                     Instant now = Instant::now());

    // The document held by an envelope's bytes: format, version, digest, schemaVersion and the
    // integrity validation. Throws PCError or JSONError.
    static Database decode(std::string_view bytes);
    // The same for the whole regular file open as `fd`, read in pieces and never held whole (see
    // Envelope::read): a huge file that is no envelope costs about a megabyte, a genuine one about
    // the size of its document. Read failures are std::filesystem::filesystem_error.
    static Database decodeFile(int fd, const std::filesystem::path& path);
    // The same for a file chosen as a backup: whatever keeps it from being an envelope of this
    // format (not JSON, a missing field, a wrong digest...) is refused with PCError "La copia no es
    // válida o su integridad no coincide. No se han sustituido los datos."; the document inside
    // is checked as decode checks it.
    static Database decodeBackup(int fd, const std::filesystem::path& path);
    // The envelope bytes for a valid document; validates first. A document holding text that is
    // not valid UTF-8 is refused (PCError): it could not be written without changing it.
    static std::string encode(const Database& db);
    // The integrity validation of a document. Throws PCError.
    static void validate(const Database& db);

private:
    std::filesystem::path directory_;
    int lockFD_ = -1;
    // The identity of "Velmora.json" as this repository last wrote it or read and checked it
    // whole. A stored file with exactly this identity is known to decode and is not read again;
    // any other is read and checked in full.
    mutable std::optional<AtomicFile::FileIdentity> known_;
};

} // namespace pizzacore
