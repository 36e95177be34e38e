#pragma once

// Power cuts for the tests: a program started with `environment(…)` runs with the power-loss shim
// (PowerLossShim.cpp), which records in a shadow folder what a disk would keep of one folder, that
// is, only what was flushed. After the program is killed, `cutPower` rebuilds the folder as the
// disk would show it once the power is back.
//
// The shadow folder holds "root" (the record name of the watched folder), "files/<record>" (the
// contents of a file at its last flush) and "folders/<record>" (a folder's entries at its last
// flush, one "f|d <record> <name>" line each), where a record name is "<inode>-<generation>".

#include <filesystem>
#include <string>
#include <vector>

namespace pizzacore::testing::powerloss {

// Records everything in `folder` as durable, as it is after a clean start: the state the next
// program with the shim starts from. Empties `shadow` first (creating it when needed).
void recordDurable(const std::filesystem::path& folder, const std::filesystem::path& shadow);

// Replaces `folder` with what the records in `shadow` say the disk holds: each folder's entries
// at its last flush, each file's contents at its last flush (empty when it never was), several
// names of one file as hard links.
void cutPower(const std::filesystem::path& shadow, const std::filesystem::path& folder);

// The environment entries that load the shim (`shim` is its library) to watch `folder`.
std::vector<std::string> environment(const std::filesystem::path& shim, const std::filesystem::path& folder,
                                     const std::filesystem::path& shadow);

} // namespace pizzacore::testing::powerloss
