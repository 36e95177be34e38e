#pragma once

#include "StoredData.hpp"

#include <filesystem>
#include <string>

namespace velmora::admin {

// Where a command may write a file of its own (the PDF of `ticket`) without harming the data.
// The path is resolved as the system will resolve it (links, "..", the folder of a file that does
// not exist yet), and refused when it lands inside a data folder — the one the document was read
// from, however the document was named, and the one Velmora uses — or on the document itself: a
// PDF there could replace Velmora.json, its previous copy, a daily backup or the lock file of a
// running Velmora. Also refused: what is not a regular file (a folder, a pipe, a device) and a
// link that leads nowhere. Gives the path to write (links followed); throws Refusal.
std::filesystem::path checkedOutput(const std::filesystem::path& output, const StoredFile& document);

// The same check for standard output when the shell sent it to a file ("> Velmora.json").
// Throws Refusal.
void checkStandardOutput(const StoredFile& document);

// Printed documents write their dates in the time zone of the process. Velmora prints on the
// restaurant's computer, whose clock is the business clock; this tool may run anywhere (a server
// in UTC, a technician's laptop), so the process takes the business zone `zone` first. The zone
// passed the load validation, so it is one the time-zone database knows.
void useBusinessZone(const std::string& zone);

} // namespace velmora::admin
