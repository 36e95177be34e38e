#include "StoredData.hpp"

#include "Failure.hpp"
#include "TextOutput.hpp"

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Persistence/DataDirectory.hpp>
#include <PizzaCore/Persistence/Repository.hpp>

#include <cerrno>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::admin {

namespace fs = std::filesystem;

namespace {

std::string shown(const fs::path& path) {
    return printable(path.string());
}

// The core words a damaged envelope for a restore ("No se han sustituido los datos"); here
// nothing is ever replaced, so the refusal says only what is wrong with the file.
constexpr std::string_view restoreIntegrityMessage =
    "La copia no es válida o su integridad no coincide. No se han sustituido los datos.";
constexpr std::string_view integrityMessage =
    "El archivo no es un archivo de datos de Velmora válido o su integridad no coincide (está dañado, "
    "incompleto o modificado).";

} // namespace

fs::path dataLocation(const std::optional<fs::path>& given) {
    return given ? *given : pizzacore::dataDirectory();
}

StoredFile locate(const fs::path& location) {
    struct stat status {};
    if (::stat(location.c_str(), &status) != 0) {
        const int code = errno;
        if (code == ENOENT || code == ENOTDIR) throw Refusal("No existe " + shown(location) + ".");
        throw Refusal("No se puede consultar " + shown(location) + ": " + systemReason(code) + ".");
    }
    if (S_ISDIR(status.st_mode)) {
        const fs::path file = location / "Velmora.json";
        struct stat fileStatus {};
        if (::stat(file.c_str(), &fileStatus) != 0 && errno == ENOENT)
            throw Refusal("La carpeta " + shown(location) +
                          " no tiene datos guardados (falta Velmora.json).");
        return {file, true};
    }
    if (S_ISREG(status.st_mode)) return {location, false};
    throw Refusal(shown(location) + " no es una carpeta de datos ni una copia de seguridad: es " +
                  fileKind(status.st_mode) + ".");
}

std::string readWhole(const fs::path& file) {
    // Non-blocking, so that a named pipe in the file's place is refused instead of waited on.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int code = errno;
        throw Refusal("No se pudo leer " + shown(file) + ": " + systemReason(code) + ".");
    }
    std::string bytes;
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int code = errno;
        ::close(fd);
        throw Refusal("No se pudo leer " + shown(file) + ": " + systemReason(code) + ".");
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        throw Refusal(shown(file) + " no es un archivo normal: es " + fileKind(status.st_mode) +
                      ". No se ha leído nada.");
    }
    if (status.st_size > 0) bytes.reserve(static_cast<std::size_t>(status.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count == 0) break;
        if (count < 0) {
            if (errno == EINTR) continue;
            const int code = errno;
            ::close(fd);
            throw Refusal("No se pudo leer " + shown(file) + ": " + systemReason(code) + ".");
        }
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(fd);
    return bytes;
}

pizzacore::Database decodeDocument(const std::string& bytes) {
    try {
        return pizzacore::Repository::decode(bytes);
    } catch (const pizzacore::PCError& error) {
        if (error.message() == restoreIntegrityMessage) throw Refusal(std::string(integrityMessage));
        throw;
    }
}

pizzacore::Database readDocument(const std::optional<fs::path>& given) {
    const StoredFile stored = locate(dataLocation(given));
    return decodeDocument(readWhole(stored.file));
}

} // namespace velmora::admin
