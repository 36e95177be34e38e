// A disk that keeps only what was made durable, for the power-loss tests: loaded into a child
// process with LD_PRELOAD, it watches one folder (VELMORA_POWERLOSS_DIR) and copies into a shadow
// folder (VELMORA_POWERLOSS_SHADOW) what a real disk would still hold after a power cut:
//
// - at each fsync or fdatasync of a regular file, the file's whole contents, for its inode;
// - at each fsync or fdatasync of a folder, its entries (name → inode), for the folder's inode.
//
// After the child is killed, "the folder after the cut" is built from those records alone (see
// PowerLoss.hpp): a file keeps the contents of its last flush (empty when it was created and never
// flushed), and a creation, rename or removal counts only once its folder was flushed after it.
// Nothing else of the process is touched: outside the folder every call goes straight through.
//
// Why a preloaded library rather than a device-mapper "flakey" target: that needs root, a block
// device and the kernel's device mapper, none of which containers or CI runners offer; this runs
// wherever the tests run, and it records exactly which flushes the code asked for.
//
// What it models and what it refuses. The calls that make data durable on Linux are fsync,
// fdatasync, sync and syncfs (SQLite flushes its database, its write-ahead log and, after
// creating the log, the folder with fdatasync; AtomicFile uses fsync). sync_file_range makes no
// durability promise and goes through unrecorded, as do writes to shared memory maps (SQLite's
// "-shm" index, which it rebuilds from the log after a crash). A file opened in the folder with
// O_SYNC or O_DSYNC, or created with O_TMPFILE, is outside this model: the shim stops the process
// with a message rather than give a wrong answer.
//
// Inode numbers are reused as soon as a file is gone, so every record names an inode together with
// a generation: 0 for what was in the folder when the child started (the test records those), a
// new one for each file or folder the child creates. Creations, renames, links and removals in the
// folder are held back while a folder's entries are being listed, so a listing never shows a
// rename half done.

// Glibc's fortified inline versions of open() would clash with the definitions below.
#undef _FORTIFY_SOURCE

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// ---- The functions this library stands in front of ----------------------------------------------

template <class Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

using OpenFunction = int (*)(const char*, int, ...);
using OpenAtFunction = int (*)(int, const char*, int, ...);
using CreatFunction = int (*)(const char*, mode_t);
using FopenFunction = FILE* (*)(const char*, const char*);
using SyncFDFunction = int (*)(int);
using SyncFunction = void (*)();
using RenameFunction = int (*)(const char*, const char*);
using RenameAtFunction = int (*)(int, const char*, int, const char*);
using RenameAt2Function = int (*)(int, const char*, int, const char*, unsigned);
using UnlinkFunction = int (*)(const char*);
using UnlinkAtFunction = int (*)(int, const char*, int);
using LinkFunction = int (*)(const char*, const char*);
using LinkAtFunction = int (*)(int, const char*, int, const char*, int);
using MkdirFunction = int (*)(const char*, mode_t);
using MkdirAtFunction = int (*)(int, const char*, mode_t);

struct Next {
    OpenFunction open = next<OpenFunction>("open");
    OpenFunction open64 = next<OpenFunction>("open64");
    OpenAtFunction openat = next<OpenAtFunction>("openat");
    OpenAtFunction openat64 = next<OpenAtFunction>("openat64");
    CreatFunction creat = next<CreatFunction>("creat");
    CreatFunction creat64 = next<CreatFunction>("creat64");
    FopenFunction fopen = next<FopenFunction>("fopen");
    FopenFunction fopen64 = next<FopenFunction>("fopen64");
    SyncFDFunction fsync = next<SyncFDFunction>("fsync");
    SyncFDFunction fdatasync = next<SyncFDFunction>("fdatasync");
    SyncFDFunction syncfs = next<SyncFDFunction>("syncfs");
    SyncFunction sync = next<SyncFunction>("sync");
    RenameFunction rename = next<RenameFunction>("rename");
    RenameAtFunction renameat = next<RenameAtFunction>("renameat");
    RenameAt2Function renameat2 = next<RenameAt2Function>("renameat2");
    UnlinkFunction unlink = next<UnlinkFunction>("unlink");
    UnlinkAtFunction unlinkat = next<UnlinkAtFunction>("unlinkat");
    UnlinkFunction rmdir = next<UnlinkFunction>("rmdir");
    LinkFunction link = next<LinkFunction>("link");
    LinkAtFunction linkat = next<LinkAtFunction>("linkat");
    MkdirFunction mkdir = next<MkdirFunction>("mkdir");
    MkdirAtFunction mkdirat = next<MkdirAtFunction>("mkdirat");
};

// Resolved on first use: a library's constructor may open files before ours has run.
const Next& real() {
    static const Next functions;
    return functions;
}

// ---- Configuration ------------------------------------------------------------------------------

[[noreturn]] void stop(const char* what, const char* detail) {
    char message[PATH_MAX + 256];
    const int length = std::snprintf(message, sizeof message, "power-loss shim: %s%s%s (%s)\n", what,
                                     detail ? ": " : "", detail ? detail : "", std::strerror(errno));
    if (length > 0) (void)!::write(STDERR_FILENO, message, static_cast<std::size_t>(length));
    std::abort();
}

struct Settings {
    bool active = false;
    std::string folder; // real path, no trailing slash
    std::string shadow;
};

const Settings& settings() {
    static const Settings value = [] {
        Settings read;
        const char* folder = std::getenv("VELMORA_POWERLOSS_DIR");
        const char* shadow = std::getenv("VELMORA_POWERLOSS_SHADOW");
        if (!folder || !*folder || !shadow || !*shadow) return read;
        char resolved[PATH_MAX];
        if (!::realpath(folder, resolved)) stop("cannot resolve the watched folder", folder);
        read.folder = resolved;
        if (!::realpath(shadow, resolved)) stop("cannot resolve the shadow folder", shadow);
        read.shadow = resolved;
        read.active = true;
        return read;
    }();
    return value;
}

bool active() {
    return settings().active;
}

// Whether the open descriptor names something inside the watched folder (or the folder itself).
bool inFolder(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX + 16];
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    if (length < 0) return false;
    std::string path(target, static_cast<std::size_t>(length));
    constexpr std::string_view deleted = " (deleted)";
    if (path.ends_with(deleted)) path.resize(path.size() - deleted.size());
    const std::string& folder = settings().folder;
    return path == folder ||
           (path.starts_with(folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

// ---- Generations ----------------------------------------------------------------------------------

struct InodeKey {
    std::uint64_t device;
    std::uint64_t inode;
    bool operator==(const InodeKey&) const = default;
};

struct InodeHash {
    std::size_t operator()(const InodeKey& key) const {
        return std::hash<std::uint64_t>()(key.inode ^ (key.device << 40));
    }
};

std::mutex generationsMutex;
std::uint64_t lastGeneration = 0;

std::unordered_map<InodeKey, std::uint64_t, InodeHash>& generations() {
    static auto* table = new std::unordered_map<InodeKey, std::uint64_t, InodeHash>();
    return *table;
}

InodeKey keyOf(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

void newGeneration(const struct stat& status) {
    std::lock_guard lock(generationsMutex);
    generations()[keyOf(status)] = ++lastGeneration;
}

std::uint64_t generationOf(const struct stat& status) {
    std::lock_guard lock(generationsMutex);
    const auto found = generations().find(keyOf(status));
    return found == generations().end() ? 0 : found->second;
}

std::string recordName(const struct stat& status) {
    return std::to_string(status.st_ino) + "-" + std::to_string(generationOf(status));
}

// Changes of the folder's names wait while a listing is taken; they do not wait for each other.
pthread_rwlock_t namesLock = PTHREAD_RWLOCK_INITIALIZER;

class NameChange {
public:
    NameChange() {
        if (active()) ::pthread_rwlock_rdlock(&namesLock);
    }
    ~NameChange() {
        if (active()) ::pthread_rwlock_unlock(&namesLock);
    }
    NameChange(const NameChange&) = delete;
    NameChange& operator=(const NameChange&) = delete;
};

// ---- Records in the shadow folder ----------------------------------------------------------------

int openPlain(const char* path, int flags, mode_t mode = 0) {
    return real().open(path, flags | O_CLOEXEC, mode);
}

// Writes a record under its final name in one rename, so a kill during the copy leaves the
// previous record whole.
class ShadowRecord {
public:
    explicit ShadowRecord(std::string finalPath)
        : final_(std::move(finalPath)) {
        static std::atomic<std::uint64_t> counter{0};
        temporary_ = settings().shadow + "/.tmp-" + std::to_string(::getpid()) + "-" +
                     std::to_string(::syscall(SYS_gettid)) + "-" + std::to_string(++counter);
        fd_ = openPlain(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd_ < 0) stop("cannot write in the shadow folder", temporary_.c_str());
    }
    ~ShadowRecord() {
        if (fd_ >= 0) ::close(fd_);
    }
    ShadowRecord(const ShadowRecord&) = delete;
    ShadowRecord& operator=(const ShadowRecord&) = delete;

    int fd() const { return fd_; }
    void write(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) stop("cannot write in the shadow folder", temporary_.c_str());
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
    }
    void finish() {
        ::close(fd_);
        fd_ = -1;
        if (real().rename(temporary_.c_str(), final_.c_str()) != 0)
            stop("cannot name a record in the shadow folder", final_.c_str());
    }

private:
    std::string final_, temporary_;
    int fd_ = -1;
};

// The file's whole contents as they are now, read through a descriptor of its own: the caller's
// may be write-only.
void recordFile(int fd, const struct stat& status) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const int source = openPlain(link, O_RDONLY);
    if (source < 0) stop("cannot read a flushed file", link);
    ShadowRecord record(settings().shadow + "/files/" + recordName(status));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(source, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) stop("cannot read a flushed file", link);
        if (got == 0) break;
        record.write(std::string_view(buffer, static_cast<std::size_t>(got)));
    }
    ::close(source);
    record.finish();
}

// The folder's entries as they are now: one line per regular file or folder,
// "f|d <inode>-<generation> <name>". Other kinds of entries are not kept.
void recordFolder(int fd, const struct stat& status) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const int listed = openPlain(link, O_RDONLY | O_DIRECTORY);
    if (listed < 0) stop("cannot list a flushed folder", link);
    DIR* folder = ::fdopendir(listed);
    if (!folder) stop("cannot list a flushed folder", link);
    std::string lines;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (name.find('\n') != std::string_view::npos) stop("a name with a line break", entry->d_name);
        struct stat entryStatus {};
        if (::fstatat(listed, entry->d_name, &entryStatus, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISREG(entryStatus.st_mode))
            lines += "f ";
        else if (S_ISDIR(entryStatus.st_mode))
            lines += "d ";
        else
            continue;
        lines += recordName(entryStatus);
        lines += ' ';
        lines += name;
        lines += '\n';
    }
    ::closedir(folder);
    ShadowRecord record(settings().shadow + "/folders/" + recordName(status));
    record.write(lines);
    record.finish();
}

// Records what a successful flush of `fd` made durable.
void flushed(int fd) {
    if (!active() || !inFolder(fd)) return;
    const int saved = errno;
    struct stat status {};
    if (::fstat(fd, &status) != 0) stop("cannot look at a flushed file", nullptr);
    if (S_ISREG(status.st_mode)) {
        recordFile(fd, status);
    } else if (S_ISDIR(status.st_mode)) {
        ::pthread_rwlock_wrlock(&namesLock);
        recordFolder(fd, status);
        ::pthread_rwlock_unlock(&namesLock);
    }
    errno = saved;
}

// Everything in the folder, as sync() makes it durable.
void flushedTree(const std::string& path) {
    const int fd = openPlain(path.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    flushed(fd);
    DIR* folder = ::fdopendir(fd);
    if (!folder) {
        ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(folder)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat status {};
        if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
        const std::string child = path + "/" + std::string(name);
        if (S_ISDIR(status.st_mode)) {
            flushedTree(child);
        } else if (S_ISREG(status.st_mode)) {
            const int file = openPlain(child.c_str(), O_RDONLY);
            if (file >= 0) {
                flushed(file);
                ::close(file);
            }
        }
    }
    ::closedir(folder);
}

// ---- Creations ------------------------------------------------------------------------------------

bool exists(int directory, const char* path) {
    struct stat status {};
    return ::fstatat(directory, path, &status, 0) == 0;
}

// After an open that may have created a file: a new generation for a file that was not there.
void opened(int fd, int flags, bool existed) {
    if (fd < 0 || !inFolder(fd)) return;
    const int saved = errno;
    if ((flags & O_DSYNC) != 0) stop("a file of the folder opened with O_SYNC or O_DSYNC", nullptr);
    if ((flags & __O_TMPFILE) == __O_TMPFILE) stop("a file of the folder created with O_TMPFILE", nullptr);
    struct stat status {};
    if (!existed && ::fstat(fd, &status) == 0) newGeneration(status);
    errno = saved;
}

bool mayCreate(int flags) {
    return (flags & (O_CREAT | O_DSYNC | __O_TMPFILE)) != 0;
}

mode_t modeArgument(int flags, va_list arguments) {
    return (flags & (O_CREAT | __O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

int openAt(OpenAtFunction function, int directory, const char* path, int flags, mode_t mode) {
    if (!active() || !mayCreate(flags)) return function(directory, path, flags, mode);
    NameChange change;
    const bool existed = exists(directory, path);
    const int fd = function(directory, path, flags, mode);
    opened(fd, flags, existed);
    return fd;
}

int openPath(OpenFunction function, const char* path, int flags, mode_t mode) {
    if (!active() || !mayCreate(flags)) return function(path, flags, mode);
    NameChange change;
    const bool existed = exists(AT_FDCWD, path);
    const int fd = function(path, flags, mode);
    opened(fd, flags, existed);
    return fd;
}

FILE* openStream(FopenFunction function, const char* path, const char* mode) {
    if (!active() || !mode || !std::strpbrk(mode, "wa+")) return function(path, mode);
    NameChange change;
    const bool existed = exists(AT_FDCWD, path);
    FILE* stream = function(path, mode);
    if (stream) opened(::fileno(stream), 0, existed);
    return stream;
}

// After a mkdir: a new generation for the new folder when it is inside the watched one.
void madeFolder(int result, int directory, const char* path) {
    if (result != 0) return;
    const int saved = errno;
    const int fd = real().openat(directory, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat status {};
    if (fd >= 0) {
        if (inFolder(fd) && ::fstat(fd, &status) == 0) newGeneration(status);
        ::close(fd);
    }
    errno = saved;
}

} // namespace

// ---- The interposed functions -----------------------------------------------------------------------

extern "C" {

int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openPath(real().open, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openPath(real().open64, path, flags, mode);
}

int openat(int directory, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openAt(real().openat, directory, path, flags, mode);
}

int openat64(int directory, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openAt(real().openat64, directory, path, flags, mode);
}

int creat(const char* path, mode_t mode) {
    return openPath(real().open, path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

int creat64(const char* path, mode_t mode) {
    return openPath(real().open64, path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

FILE* fopen(const char* path, const char* mode) {
    return openStream(real().fopen, path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    return openStream(real().fopen64, path, mode);
}

int fsync(int fd) {
    const int result = real().fsync(fd);
    if (result == 0) flushed(fd);
    return result;
}

int fdatasync(int fd) {
    const int result = real().fdatasync(fd);
    if (result == 0) flushed(fd);
    return result;
}

int syncfs(int fd) {
    const int result = real().syncfs(fd);
    if (result == 0 && active()) flushedTree(settings().folder);
    return result;
}

void sync() {
    real().sync();
    if (active()) flushedTree(settings().folder);
}

int rename(const char* from, const char* to) {
    NameChange change;
    return real().rename(from, to);
}

int renameat(int fromDirectory, const char* from, int toDirectory, const char* to) {
    NameChange change;
    return real().renameat(fromDirectory, from, toDirectory, to);
}

int renameat2(int fromDirectory, const char* from, int toDirectory, const char* to, unsigned flags) {
    NameChange change;
    return real().renameat2(fromDirectory, from, toDirectory, to, flags);
}

int unlink(const char* path) {
    NameChange change;
    return real().unlink(path);
}

int unlinkat(int directory, const char* path, int flags) {
    NameChange change;
    return real().unlinkat(directory, path, flags);
}

int rmdir(const char* path) {
    NameChange change;
    return real().rmdir(path);
}

int link(const char* from, const char* to) {
    NameChange change;
    return real().link(from, to);
}

int linkat(int fromDirectory, const char* from, int toDirectory, const char* to, int flags) {
    NameChange change;
    return real().linkat(fromDirectory, from, toDirectory, to, flags);
}

int mkdir(const char* path, mode_t mode) {
    NameChange change;
    const int result = real().mkdir(path, mode);
    if (active()) madeFolder(result, AT_FDCWD, path);
    return result;
}

int mkdirat(int directory, const char* path, mode_t mode) {
    NameChange change;
    const int result = real().mkdirat(directory, path, mode);
    if (active()) madeFolder(result, directory, path);
    return result;
}

} // extern "C"
