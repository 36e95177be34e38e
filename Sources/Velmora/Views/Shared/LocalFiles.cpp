#include <Velmora/Views/Shared/LocalFiles.hpp>

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

[[noreturn]] void fail(int code) {
    throw std::system_error(code, std::generic_category());
}

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace

std::optional<pizzacore::Bytes> readLimitedFile(const std::filesystem::path& path, std::size_t limit) {
    // Non-blocking, so that opening a pipe with no writer returns at once instead of waiting.
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
    if (file.fd < 0) fail(errno);
    struct stat status {};
    if (::fstat(file.fd, &status) != 0) fail(errno);
    if (S_ISDIR(status.st_mode)) fail(EISDIR);
    if (!S_ISREG(status.st_mode)) fail(EINVAL);
    if (status.st_size < 0 || static_cast<std::size_t>(status.st_size) > limit) return std::nullopt;

    pizzacore::Bytes bytes(static_cast<std::size_t>(status.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(file.fd, bytes.data() + done, bytes.size() - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        if (got == 0) break; // the file shrank meanwhile
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    // A file that grew meanwhile is judged by what it holds now.
    char extra = 0;
    for (;;) {
        const ssize_t got = ::read(file.fd, &extra, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) fail(errno);
        if (got > 0) return std::nullopt;
        break;
    }
    return bytes;
}

} // namespace velmora
