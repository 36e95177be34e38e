#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Bytes.hpp>
#endif

#include <cstddef>
#include <filesystem>
#include <optional>

namespace velmora {

// The bytes of a file the operator chose, read only when it is a regular file of at most `limit`
// bytes: nothing when it is larger (its size is looked at before anything is read, so a huge file
// costs nothing). A file that cannot be opened or read, or that is not a regular file (a folder,
// a pipe, a device), throws std::system_error; opening never blocks, even on a pipe.
std::optional<pizzacore::Bytes> readLimitedFile(const std::filesystem::path& path, std::size_t limit);

} // namespace velmora
