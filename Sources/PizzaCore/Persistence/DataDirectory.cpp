#include "DataDirectory.hpp"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pizzacore {

namespace fs = std::filesystem;

namespace {

const char* nonEmptyVariable(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

fs::path homeDirectory() {
    if (const char* home = nonEmptyVariable("HOME")) return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    throw fs::filesystem_error("No se encuentra la carpeta personal del usuario",
                               std::make_error_code(std::errc::no_such_file_or_directory));
}

} // namespace

fs::path dataDirectory() {
    if (const char* configured = nonEmptyVariable("VELMORA_DATA_DIR")) return fs::path(configured);
    // A relative $XDG_DATA_HOME is invalid and ignored.
    if (const char* dataHome = nonEmptyVariable("XDG_DATA_HOME");
        dataHome && fs::path(dataHome).is_absolute())
        return fs::path(dataHome) / "Velmora";
    return homeDirectory() / ".local" / "share" / "Velmora";
}

void createPrivateDirectories(const fs::path& directory) {
    std::error_code error;
    if (fs::is_directory(directory, error)) return;
    const fs::path parent = directory.parent_path();
    if (!parent.empty() && parent != directory) createPrivateDirectories(parent);
    if (::mkdir(directory.c_str(), 0700) != 0) {
        const int code = errno;
        // Another process may have created it meanwhile; a file of that name is still an error.
        if (code == EEXIST && fs::is_directory(directory, error)) return;
        throw fs::filesystem_error("No se pudo crear la carpeta de datos", directory,
                                   std::error_code(code, std::generic_category()));
    }
    // The new entry reaches the disk with its parent, so a power cut cannot lose the folder
    // after files were saved into it. Best effort: the folder exists either way.
    const fs::path parentPath = parent.empty() ? fs::path(".") : parent;
    if (const int fd = ::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

} // namespace pizzacore
