#pragma once

#include <filesystem>

namespace velmora {

// The data directory: $VELMORA_DATA_DIR when set, otherwise "Velmora" in the user's data
// directory ($XDG_DATA_HOME, usually ~/.local/share).
std::filesystem::path dataDirectory();

} // namespace velmora
