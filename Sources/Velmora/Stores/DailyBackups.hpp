#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The automatic copies of the document kept at the close of each business day: one file per
// business day, "Jornada-yyyy-MM-dd.velmorabackup", in the folder "Copias" of the data directory,
// in the same envelope as a backup saved by hand, so that any of them can be restored.
namespace velmora::DailyBackups {

// How many business days keep their copy.
inline constexpr std::size_t kept = 30;

// "Copias" inside the data directory.
std::filesystem::path folder(const std::filesystem::path& dataDirectory);

// "Jornada-" + the business day + ".velmorabackup"; nothing when `businessDay` is not a
// "yyyy-MM-dd" text (so that no stored text can name a file elsewhere).
std::optional<std::string> fileName(std::string_view businessDay);

// Copies the saved document file `documentFile` into `folder` (created when missing, readable by
// the user only) as the copy of `businessDay`, replacing an earlier copy of the same day, and
// then removes the oldest day copies beyond `keep`. The copy appears whole or not at all.
// Throws std::filesystem::filesystem_error or std::system_error.
void write(const std::filesystem::path& documentFile, const std::filesystem::path& folder,
           std::string_view businessDay, std::size_t keep = kept);

// Removes the oldest day copies in `folder` until at most `keep` are left; other files are never
// touched. A copy that cannot be removed is left in place. Returns how many were removed.
std::size_t rotate(const std::filesystem::path& folder, std::size_t keep = kept);

} // namespace velmora::DailyBackups
