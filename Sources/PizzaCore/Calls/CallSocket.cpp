#include "CallSocket.hpp"

#include <PizzaCore/Foundation/PCError.hpp>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pizzacore {

namespace {

constexpr const char* socketName = "velmora-llamadas";

// The few system errors these sockets meet, in words the operator reads.
std::string reason(int code) {
    switch (code) {
    case EACCES:
    case EPERM:
        return "permiso denegado";
    case ENOENT:
        return "no existe";
    case ENOTDIR:
        return "una parte de la ruta no es una carpeta";
    case ENOSPC:
        return "no queda espacio en el disco";
    case EROFS:
        return "el disco es de solo lectura";
    case EMFILE:
    case ENFILE:
        return "hay demasiados archivos abiertos";
    case ENOMEM:
    case ENOBUFS:
        return "memoria insuficiente";
    default:
        return "error del sistema " + std::to_string(code);
    }
}

[[noreturn]] void refuse(const std::string& what, int code) {
    throw PCError::invalid(what + ": " + reason(code) + ".");
}

class Descriptor {
public:
    explicit Descriptor(int descriptor)
        : descriptor_(descriptor) {}
    ~Descriptor() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return descriptor_; }
    int release() { return std::exchange(descriptor_, -1); }

private:
    int descriptor_;
};

sockaddr_un address(const std::filesystem::path& path) {
    sockaddr_un result{};
    result.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.size() >= sizeof(result.sun_path))
        throw PCError::invalid("La ruta del aviso de llamadas es demasiado larga: " + text);
    std::memcpy(result.sun_path, text.c_str(), text.size() + 1);
    return result;
}

int newSocket() {
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (descriptor < 0) refuse("No se puede crear el socket de avisos de llamadas", errno);
    return descriptor;
}

// Waits until `descriptor` is ready for `events` or `milliseconds` pass; false on time out.
bool await(int descriptor, short events, int milliseconds) {
    pollfd entry{descriptor, events, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, milliseconds);
        if (ready >= 0) return ready > 0;
        if (errno != EINTR) return false;
    }
}

} // namespace

std::filesystem::path callSocketFolder(const std::optional<std::string>& runtimeDirectory, uid_t user) {
    if (runtimeDirectory && !runtimeDirectory->empty() && runtimeDirectory->front() == '/')
        return std::filesystem::path(*runtimeDirectory);
    return std::filesystem::path("/tmp") / ("velmora-" + std::to_string(user));
}

std::filesystem::path callSocketPath(const std::filesystem::path& folder) {
    return folder / socketName;
}

void checkCallSocketFolder(const std::filesystem::path& folder, uid_t user, bool create) {
    const std::string where = folder.string();
    if (create && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        refuse("No se puede crear la carpeta de avisos de llamadas " + where, errno);
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0) refuse("No se puede usar la carpeta " + where, errno);
    if (!S_ISDIR(status.st_mode))
        throw PCError::invalid("La carpeta de avisos de llamadas " + where + " no es una carpeta.");
    if (status.st_uid != user)
        throw PCError::invalid("La carpeta de avisos de llamadas " + where +
                               " pertenece a otro usuario: no es segura.");
    if ((status.st_mode & 0077) != 0)
        throw PCError::invalid("La carpeta de avisos de llamadas " + where +
                               " está abierta a otros usuarios: debe ser solo de su dueño (permisos 0700).");
}

std::optional<uid_t> peerUser(int descriptor) {
    ucred credentials{};
    socklen_t size = sizeof(credentials);
    if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        size != sizeof(credentials))
        return std::nullopt;
    return credentials.uid;
}

CallSocketListener::CallSocketListener(const std::filesystem::path& folder, uid_t user)
    : path_(callSocketPath(folder)) {
    checkCallSocketFolder(folder, user, true);
    const sockaddr_un where = address(path_);
    Descriptor socket(newSocket());
    const auto bindHere = [&] {
        return ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&where), sizeof(where)) == 0;
    };
    if (!bindHere()) {
        if (errno != EADDRINUSE)
            refuse("No se puede abrir el socket de avisos de llamadas " + path_.string(), errno);
        // Someone listens there (even one too busy to take more, whose queue is full): another
        // Velmora of this user already takes the calls. The probe never waits.
        Descriptor probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (probe.get() >= 0 &&
            (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&where), sizeof(where)) == 0 ||
             errno == EAGAIN))
            throw PCError::invalid("Otra ventana de Velmora ya recibe los avisos de llamadas.");
        // A socket left by a Velmora that ended without removing it.
        struct stat left {};
        if (::lstat(path_.c_str(), &left) != 0 || !S_ISSOCK(left.st_mode) || left.st_uid != user)
            throw PCError::invalid("En " + path_.string() + " hay algo que no es el socket de Velmora.");
        ::unlink(path_.c_str());
        if (!bindHere()) refuse("No se puede abrir el socket de avisos de llamadas " + path_.string(), errno);
    }
    // The folder already keeps others out; the socket itself is its owner's only as well.
    ::chmod(path_.c_str(), 0600);
    struct stat bound {};
    if (::stat(path_.c_str(), &bound) == 0) {
        device_ = bound.st_dev;
        inode_ = bound.st_ino;
    }
    if (::listen(socket.get(), 16) != 0) refuse("No se puede escuchar en " + path_.string(), errno);
    descriptor_ = socket.release();
}

CallSocketListener::~CallSocketListener() {
    // Only the socket this listener bound is removed, never one a later Velmora put in its place.
    struct stat current {};
    if (::lstat(path_.c_str(), &current) == 0 && current.st_dev == device_ && current.st_ino == inode_)
        ::unlink(path_.c_str());
    ::close(descriptor_);
}

std::optional<CallSocketListener::Caller> CallSocketListener::accept() {
    for (;;) {
        const int connection = ::accept4(descriptor_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (connection >= 0) return Caller{connection, peerUser(connection)};
        // A connection given up before it was taken is skipped; anything else waits for the next.
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return std::nullopt;
    }
}

CallNotice announceCall(const std::filesystem::path& socket, std::string_view number,
                        int timeoutMilliseconds) {
    const sockaddr_un where = address(socket);
    Descriptor connection(newSocket());
    if (::connect(connection.get(), reinterpret_cast<const sockaddr*>(&where), sizeof(where)) != 0) {
        // A full queue of a listener that takes nothing is a Velmora that does not answer.
        if (errno == EAGAIN) return CallNotice::noAnswer;
        if (errno == ENOENT || errno == ECONNREFUSED) return CallNotice::notRunning;
        refuse("No se puede avisar a Velmora por " + socket.string(), errno);
    }
    const std::string request = std::string(callRequestPrefix) + std::string(number) + "\n";
    std::size_t written = 0;
    while (written < request.size()) {
        if (!await(connection.get(), POLLOUT, timeoutMilliseconds)) return CallNotice::noAnswer;
        const ssize_t count =
            ::send(connection.get(), request.data() + written, request.size() - written, MSG_NOSIGNAL);
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return CallNotice::refused;
        }
        written += static_cast<std::size_t>(count);
    }
    std::string reply;
    char buffer[64];
    while (reply.find('\n') == std::string::npos && reply.size() < 64) {
        if (!await(connection.get(), POLLIN, timeoutMilliseconds)) return CallNotice::noAnswer;
        const ssize_t count = ::recv(connection.get(), buffer, sizeof(buffer), 0);
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return CallNotice::refused;
        }
        if (count == 0) break;
        reply.append(buffer, static_cast<std::size_t>(count));
    }
    if (reply == callAcceptedReply) return CallNotice::accepted;
    if (reply == callIgnoredReply) return CallNotice::ignored;
    return CallNotice::refused;
}

} // namespace pizzacore
