#pragma once

#include <PizzaCore/Models/Database.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace velmora::admin {

// Where the stored document of a command comes from: a data folder (its "Velmora.json") or a
// single envelope file (a backup, a pre-restore copy, "Velmora.previous.json").
struct StoredFile {
    std::filesystem::path file;
    // True when `file` is the "Velmora.json" of a data folder.
    bool inFolder = false;
};

// The path given on the command line, or the data folder Velmora uses ($VELMORA_DATA_DIR, else
// "Velmora" in the user's data home).
std::filesystem::path dataLocation(const std::optional<std::filesystem::path>& given);

// The envelope file a location stands for. Nothing is created and no lock is taken: the data
// can be read while Velmora runs, and a mistyped path is never turned into an empty folder.
// Throws Refusal for a path that does not exist, a folder without saved data, and anything that
// is neither a folder nor a regular file.
StoredFile locate(const std::filesystem::path& location);

// A stored file open for reading. Velmora replaces its file atomically, so the open file is
// always one complete version of it, whatever happens to the name meanwhile.
class OpenedFile {
public:
    // Throws Refusal when the file cannot be opened or is not a regular file.
    explicit OpenedFile(const std::filesystem::path& file);
    ~OpenedFile();
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;

    int descriptor() const { return fd_; }
    std::uintmax_t size() const { return size_; }

private:
    int fd_ = -1;
    std::uintmax_t size_ = 0;
};

// The checked document held by an open stored file, read in pieces so that a huge file that is
// no envelope costs little memory: the core's reading (envelope, digest, versions, integrity
// rules), whose refusals travel unchanged except the damaged-envelope one, which the core words
// for a restore and which is reworded here for a file that is only read (a Refusal). For the
// document of a data folder, the changes its journal holds after it are replayed (read without
// writing anything, also while Velmora appends); with `pending`, their number is given there. A
// damaged journal is refused as opening the data refuses it.
pizzacore::Database decodeDocument(const OpenedFile& file, const StoredFile& stored,
                                   std::int64_t* pending = nullptr);

// The checked document of a location, as decodeDocument gives it.
pizzacore::Database readDocument(const std::optional<std::filesystem::path>& given);

} // namespace velmora::admin
