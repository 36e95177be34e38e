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

// The whole file, read at once. Velmora replaces its file atomically, so this is always one
// complete version of it. Throws Refusal when it cannot be read.
std::string readWhole(const std::filesystem::path& file);

// The checked document held by envelope bytes: the core's decode (envelope, digest, versions,
// integrity rules), whose refusals travel unchanged except the damaged-envelope one, which the core
// words for a restore and which is reworded here for a file that is only read (a Refusal).
pizzacore::Database decodeDocument(const std::string& bytes);

// The checked document of a location, as decodeDocument gives it.
pizzacore::Database readDocument(const std::optional<std::filesystem::path>& given);

} // namespace velmora::admin
