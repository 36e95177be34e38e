#include <Velmora/Platform/ChosenFile.hpp>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

} // namespace

ChosenFile::ChosenFile(const fs::path& path)
    : path_(path) {
    // Without O_NONBLOCK, opening a FIFO waits until something writes to it.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) fail("No se pudo abrir el archivo", path, errno);
    struct stat status {};
    if (::fstat(fd_, &status) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        fail("No se pudo leer el archivo", path, error);
    }
    folder_ = S_ISDIR(status.st_mode);
    regular_ = S_ISREG(status.st_mode);
    size_ = regular_ ? static_cast<std::uintmax_t>(status.st_size) : 0;
}

ChosenFile::~ChosenFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool ChosenFile::readUpTo(std::size_t limit) {
    if (!regular_) fail("No se pudo leer el archivo", path_, folder_ ? EISDIR : EINVAL);
    // The reported size is reserved at once; the end of the file is then seen through a small
    // probe, so that a file read to its end is never copied into a larger buffer. A file that
    // grows meanwhile is still read whole.
    const std::uintmax_t expected = std::min<std::uintmax_t>(size_, limit);
    if (bytes_.capacity() < expected) bytes_.reserve(static_cast<std::size_t>(expected));
    char probe[1 << 16];
    while (!ended_ && bytes_.size() < limit) {
        const std::size_t wanted = limit - bytes_.size();
        const std::size_t room = bytes_.capacity() - bytes_.size();
        const bool direct = room > 0;
        const std::size_t step =
            std::min(wanted, direct ? std::min(room, std::size_t(1) << 24) : sizeof probe);
        const std::size_t held = bytes_.size();
        if (direct) bytes_.resize(held + step);
        const ssize_t got = ::read(fd_, direct ? bytes_.data() + held : probe, step);
        const int error = errno;
        if (direct) bytes_.resize(held + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got < 0) {
            if (error == EINTR) continue;
            fail("No se pudo leer el archivo", path_, error);
        }
        if (got == 0)
            ended_ = true;
        else if (!direct)
            bytes_.append(probe, static_cast<std::size_t>(got));
    }
    return ended_;
}

void ChosenFile::readAll() {
    readUpTo(std::numeric_limits<std::size_t>::max());
}

} // namespace velmora
