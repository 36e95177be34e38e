#include "AtomicFile.hpp"

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>

#include <simdjson.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pizzacore::AtomicFile {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

fs::path directoryOf(const fs::path& path) {
    fs::path directory = path.parent_path();
    return directory.empty() ? fs::path(".") : directory;
}

// A name in the target's directory that no other file has: the rename that publishes the file
// stays within one file system.
fs::path temporaryFor(const fs::path& path) {
    // Built by appending: g++ 12 at -O3 misreads `"." + name` as an overlapping copy (-Wrestrict).
    std::string name = ".";
    name += path.filename().string();
    name += '.';
    name += Uuid::random().text();
    name += ".tmp";
    return directoryOf(path) / name;
}

void writeAll(int fd, std::string_view bytes, const fs::path& path) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        // Linux writes at most about 2 GB per call.
        const ssize_t written = ::write(fd, p, std::min<std::size_t>(left, std::size_t(1) << 30));
        if (written < 0) {
            if (errno == EINTR) continue;
            fail("No se pudo escribir el archivo", path, errno);
        }
        p += written;
        left -= static_cast<std::size_t>(written);
    }
}

void syncDirectory(const fs::path& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) fail("No se pudo abrir la carpeta", directory, errno);
    // A file system that cannot flush a directory says EINVAL; the rename is then as durable as
    // it can be made.
    if (::fsync(fd) != 0 && errno != EINVAL) {
        const int error = errno;
        ::close(fd);
        fail("No se pudo guardar la carpeta en el disco", directory, error);
    }
    ::close(fd);
}

// Removes the temporary file unless the rename made it the target.
class TemporaryFile {
public:
    explicit TemporaryFile(fs::path path)
        : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!published_) ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const fs::path& path() const { return path_; }
    void publish(const fs::path& target) {
        // Renaming a file onto another name of the same file does nothing and reports success,
        // which would leave the temporary name behind; the target already has the content then.
        struct stat ours {
        }, theirs{};
        if (::lstat(path_.c_str(), &ours) == 0 && ::lstat(target.c_str(), &theirs) == 0 &&
            ours.st_dev == theirs.st_dev && ours.st_ino == theirs.st_ino) {
            if (::unlink(path_.c_str()) != 0) fail("No se pudo borrar el archivo temporal", path_, errno);
            published_ = true;
            syncDirectory(directoryOf(target));
            return;
        }
        if (::rename(path_.c_str(), target.c_str()) != 0)
            fail("No se pudo reemplazar el archivo", target, errno);
        published_ = true;
        syncDirectory(directoryOf(target));
    }

private:
    fs::path path_;
    bool published_ = false;
};

} // namespace

void write(const fs::path& path, std::string_view bytes, std::optional<mode_t> mode) {
    writeWith(path, mode, [&](const Emit& emit) { emit(bytes); });
}

std::optional<FileIdentity> writeWith(const fs::path& path, std::optional<mode_t> mode,
                                      const std::function<void(const Emit&)>& produce) {
    requireReplaceable(path);
    TemporaryFile temporary(temporaryFor(path));
    const int fd =
        ::open(temporary.path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode ? *mode : 0666);
    if (fd < 0) fail("No se pudo crear el archivo", temporary.path(), errno);
    std::optional<FileIdentity> written;
    try {
        // The creation mode passes through the umask; the bits asked for are set exactly. Not
        // getting them is no reason to refuse the write.
        if (mode) (void)::fchmod(fd, *mode);
        produce([&](std::string_view bytes) { writeAll(fd, bytes, temporary.path()); });
        if (::fsync(fd) != 0) fail("No se pudo guardar el archivo en el disco", temporary.path(), errno);
        temporary.publish(path);
        // The file as it stands under its name now; the rename changed its status-change time.
        written = settledIdentity(fd);
    } catch (...) {
        ::close(fd);
        throw;
    }
    // Flushed and in place: nothing the descriptor could still report changes that.
    ::close(fd);
    return written;
}

void replaceWithCopy(const fs::path& source, const fs::path& target, mode_t mode) {
    struct stat status {};
    if (::lstat(source.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
        TemporaryFile temporary(temporaryFor(target));
        if (::link(source.c_str(), temporary.path().c_str()) == 0) {
            // The source may have been written by a program that never flushed it.
            const int fd = ::open(temporary.path().c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) fail("No se pudo abrir el archivo", temporary.path(), errno);
            if (::fsync(fd) != 0) {
                const int error = errno;
                ::close(fd);
                fail("No se pudo guardar el archivo en el disco", temporary.path(), error);
            }
            ::close(fd);
            temporary.publish(target);
            return;
        }
        // File systems without hard links (or refusing this one) get a written copy instead.
        const int error = errno;
        if (error != EPERM && error != EXDEV && error != EMLINK && error != EOPNOTSUPP && error != ENOSYS &&
            error != EACCES)
            fail("No se pudo copiar el archivo", target, error);
    }
    if (const std::optional<std::string> bytes = read(source)) write(target, *bytes, mode);
}

void removeLeftovers(const fs::path& directory) {
    // Temporary names are "." + target name + "." + UUID + ".tmp".
    constexpr std::string_view ending = ".tmp";
    constexpr std::size_t uuidLength = 36;
    std::error_code error;
    for (fs::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.size() < 2 + uuidLength + 1 + ending.size() || name.front() != '.' ||
            !name.ends_with(ending))
            continue;
        const std::size_t uuidStart = name.size() - ending.size() - uuidLength;
        if (name[uuidStart - 1] != '.' || !Uuid::parse(std::string_view(name).substr(uuidStart, uuidLength)))
            continue;
        std::error_code ignored;
        if (entry->is_regular_file(ignored)) fs::remove(entry->path(), ignored);
    }
}

namespace {

FileIdentity identityOf(const struct stat& status) {
    return FileIdentity{
        static_cast<std::uint64_t>(status.st_dev),         static_cast<std::uint64_t>(status.st_ino),
        static_cast<std::int64_t>(status.st_size),         static_cast<std::int64_t>(status.st_mtim.tv_sec),
        static_cast<std::int64_t>(status.st_mtim.tv_nsec), static_cast<std::int64_t>(status.st_ctim.tv_sec),
        static_cast<std::int64_t>(status.st_ctim.tv_nsec)};
}

bool before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

} // namespace

std::optional<FileIdentity> identity(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return identityOf(status);
}

std::optional<FileIdentity> identity(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return identityOf(status);
}

std::optional<FileIdentity> settledIdentity(int fd) {
    // The system stamps changes with a clock that advances in ticks of a few milliseconds; a
    // change within the tick of the last one could carry the same times. Once the clock has
    // passed the file's times, any later change carries later ones. A file system with coarser
    // times (seconds) is not waited for: its files are simply never taken for unchanged.
    for (int attempt = 0; attempt < 20; ++attempt) {
        struct stat status {};
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
        if (before(status.st_ctim, now) && before(status.st_mtim, now)) return identityOf(status);
        ::usleep(1000);
    }
    return std::nullopt;
}

std::string notRegularMessage(const fs::path& path) {
    return "«" + path.string() +
           "» no es un archivo normal (es una carpeta, una tubería, un dispositivo o un socket). No se ha "
           "leído ni sustituido nada.";
}

void requireReplaceable(const fs::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return;
    if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) throw PCError::invalid(notRegularMessage(path));
}

int openRegular(const fs::path& path) {
    // Non-blocking, so that opening a named pipe with no writer returns at once instead of
    // waiting for one; for a regular file the flag changes nothing.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return -1;
        fail("No se pudo abrir el archivo", path, errno);
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        fail("No se pudo leer el archivo", path, error);
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        throw PCError::invalid(notRegularMessage(path));
    }
    return fd;
}

std::string readAll(int fd, const fs::path& path) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) fail("No se pudo leer el archivo", path, errno);
    // One more byte than the size, so that the end of the file is seen without growing.
    std::string bytes;
    const std::size_t capacity = static_cast<std::size_t>(status.st_size) + 1;
    bytes.reserve(capacity + simdjson::SIMDJSON_PADDING);
    bytes.resize(capacity);
    std::size_t size = 0;
    for (;;) {
        if (size == bytes.size()) bytes.resize(bytes.size() * 2);
        const ssize_t got = ::read(fd, bytes.data() + size, bytes.size() - size);
        if (got < 0) {
            if (errno == EINTR) continue;
            fail("No se pudo leer el archivo", path, errno);
        }
        if (got == 0) break;
        size += static_cast<std::size_t>(got);
    }
    bytes.resize(size);
    if (bytes.capacity() - bytes.size() < simdjson::SIMDJSON_PADDING)
        bytes.reserve(bytes.size() + simdjson::SIMDJSON_PADDING);
    return bytes;
}

std::optional<std::string> read(const fs::path& path) {
    const int fd = openRegular(path);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    try {
        bytes = readAll(fd, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    return bytes;
}

} // namespace pizzacore::AtomicFile
