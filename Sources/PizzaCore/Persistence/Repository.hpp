#pragma once

// The data directory of one restaurant: the single-instance lock, the enveloped document file
// "Velmora.json" with its previous copy "Velmora.previous.json", the journal of the changes made
// since the document was last written ("Velmora.journal"), the integrity validation every
// document passes on its way in and out, and backups in the same envelope.
//
// A change is made durable by commit, which appends it to the journal: work and bytes in
// proportion to the change. fold writes the whole document now and then (as save always did),
// naming in it the last journal entry it holds, and drops the entries up to that one. Opening
// reads the document and replays the entries after it, so a process killed at any moment leaves
// a folder that opens to the last change whose commit returned.

#include <PizzaCore/Foundation/Instant.hpp>
#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>
#include <PizzaCore/Persistence/DataDirectory.hpp>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace pizzacore {

struct DocumentChange;
class Journal;

class Repository {
public:
    enum class Access {
        // The exclusive lock is taken (see the constructor below).
        locked,
        // No lock: for tests and tools that know no one else writes.
        unlocked,
        // No lock, and nothing is ever written or created: the directory must exist, the journal
        // is read as it stands (also while Velmora appends to it) and never folded. Every writing
        // call is refused.
        readOnly,
    };

    // Creates `directory` (and missing parents) when it does not exist, a new one with mode 0700.
    // With `lock`, opens ".lock" (mode 0600) and takes an exclusive non-blocking flock on it,
    // held until the repository is destroyed; when the lock is held elsewhere or the file cannot
    // be opened, throws PCError "Velmora ya está abierto con estos datos. Usa una sola instancia."
    // Holding the lock, it removes the temporary files a killed save left behind. File-system
    // failures are std::filesystem::filesystem_error.
    Repository(std::filesystem::path directory, bool lock);
    Repository(std::filesystem::path directory, Access access);
    ~Repository();
    Repository(const Repository&) = delete;
    Repository& operator=(const Repository&) = delete;

    const std::filesystem::path& directory() const { return directory_; }
    // "Velmora.json" inside the directory.
    std::filesystem::path file() const;
    // "Velmora.previous.json" inside the directory.
    std::filesystem::path previousFile() const;

    // "Velmora.journal" inside the directory.
    std::filesystem::path journalFile() const;

    // The stored document, checked by decode, with the journal's entries after it replayed; a new
    // Database() (and the entries) when there is no "Velmora.json". A journal that is damaged, or
    // that already dropped entries the document does not hold, is refused with PCError and
    // nothing is written.
    Database load() const;

    // Makes a change durable: `after` is the published document with `change` applied. Checks
    // that `after` is valid as save would (work in proportion to the change, not to the history),
    // appends the change to the journal and gives its sequence number once the entry is on the
    // disk. `kind` is "transaction" or "draft". An empty change writes nothing and gives
    // lastSequence(). Throws PCError on failure; nothing is appended then.
    std::int64_t commit(std::string_view kind, const DocumentChange& change, const Database& after);

    // Writes `db`, the document holding every journal entry up to `sequence`, as save does
    // (validated, the stored file checked and kept as the previous copy, written atomically),
    // naming `sequence` in it, then drops the entries up to `sequence`. May run on another thread
    // while commit runs there: commit never waits for the encoding and writing, only for the
    // short dropping of entries. A fold older than the document already written does nothing.
    // Failures of the writing throw as save's do; once the document is written, a failure to
    // drop entries is left to the next fold (they are not replayed, being named as folded).
    void fold(const Database& db, std::int64_t sequence);

    // The sequence number of the last change committed (or folded), 0 for none.
    std::int64_t lastSequence() const;
    // The journal entries not yet folded into the stored document.
    std::int64_t pendingEntries() const;
    // The last journal entry the stored document holds, as the last load or fold found it.
    std::int64_t foldedSequence() const { return folded_.load(); }

    // Encodes (and so validates) the document, checks the stored file (it must decode, unless it
    // is exactly the file this repository last wrote or checked), keeps its exact bytes as
    // "Velmora.previous.json", and replaces "Velmora.json" atomically (mode 0600), writing the
    // envelope piece by piece.
    // A failure leaves "Velmora.json" as it was, and "Velmora.previous.json" either as it was or,
    // when only the final write failed, equal to the unchanged "Velmora.json".
    // It is a fold at the last committed sequence: `db` must hold every committed change.
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
    // The journal's entries so far are folded into the restored document, so none is ever
    // replayed over it.
    Database restore(const std::filesystem::path& path, const Database& current,
                     Instant now = Instant::now());

    // The document held by an envelope's bytes: format, version, digest, schemaVersion and the
    // integrity validation. Throws PCError or JSONError.
    static Database decode(std::string_view bytes);
    // The same for the whole regular file open as `fd`, read in pieces and never held whole (see
    // Envelope::read): a huge file that is no envelope costs about a megabyte, a genuine one about
    // the size of its document. Read failures are std::filesystem::filesystem_error.
    // With `journal`, also gives the last journal entry the envelope names (0 for none).
    static Database decodeFile(int fd, const std::filesystem::path& path, std::int64_t* journal = nullptr);
    // `db`, read from the data directory's document naming journal entry `folded`, with the
    // directory's journal entries after it replayed, read without writing or creating anything.
    // With `pending`, also gives how many entries were replayed. Refuses a damaged journal as
    // load does.
    static Database replayJournal(const std::filesystem::path& directory, Database db, std::int64_t folded,
                                  std::int64_t* pending = nullptr);
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
    // The same verdict for a document made by `change` from one that passes validate, reached
    // by checking only what the change touches: the small collections and values it changes in
    // full, the orders and payments it puts against the rest by a scan of the lists (a change
    // that removes orders or sessions, or replaces a collection whole, is checked in full).
    static void validateChange(const Database& db, const DocumentChange& change);

private:
    // The journal, opened on first use; nothing when it does not exist and `create` is false.
    Journal* journal(bool create) const;
    // One reading of the document and its journal; load repeats it as it describes.
    Database loadOnce() const;
    // Writes the document naming journal entry `sequence`, as save describes.
    void writeDocument(const Database& db, std::int64_t sequence);
    void requireWritable() const;

    std::filesystem::path directory_;
    Access access_ = Access::unlocked;
    int lockFD_ = -1;
    mutable std::mutex journalMutex_;
    mutable std::unique_ptr<Journal> journal_;
    // Whether the stored document was read, so that folded_ is known.
    mutable std::atomic<bool> loaded_ = false;
    mutable std::atomic<std::int64_t> folded_ = 0;
    // One reading or writing of the document at a time.
    mutable std::mutex foldMutex_;
    // The identity of "Velmora.json" as this repository last wrote it or read and checked it
    // whole. A stored file with exactly this identity is known to decode and is not read again;
    // any other is read and checked in full.
    mutable std::optional<AtomicFile::FileIdentity> known_;
};

} // namespace pizzacore
