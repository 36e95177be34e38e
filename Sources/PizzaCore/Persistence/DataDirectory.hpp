#pragma once

#include <filesystem>

namespace pizzacore {

// The data directory: $VELMORA_DATA_DIR when it is set and not empty; otherwise "Velmora" inside
// the user's data home, which is $XDG_DATA_HOME when that is an absolute path and ~/.local/share
// otherwise (the home directory from $HOME, else from the user database).
std::filesystem::path dataDirectory();

// Creates `directory` and every missing parent, each new one with mode 0700 so that only the
// user reads the data; existing directories are left as they are. Throws
// std::filesystem::filesystem_error.
void createPrivateDirectories(const std::filesystem::path& directory);

} // namespace pizzacore
