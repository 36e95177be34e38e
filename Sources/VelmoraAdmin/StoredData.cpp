#include "StoredData.hpp"

#include "Failure.hpp"
#include "TextOutput.hpp"

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Journal/Journal.hpp>
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

OpenedFile::OpenedFile(const fs::path& file) {
    // Non-blocking, so that a named pipe in the file's place is refused instead of waited on.
    fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0) {
        const int code = errno;
        throw Refusal("No se pudo leer " + shown(file) + ": " + systemReason(code) + ".");
    }
    struct stat status {};
    if (::fstat(fd_, &status) != 0) {
        const int code = errno;
        ::close(fd_);
        fd_ = -1;
        throw Refusal("No se pudo leer " + shown(file) + ": " + systemReason(code) + ".");
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw Refusal(shown(file) + " no es un archivo normal: es " + fileKind(status.st_mode) +
                      ". No se ha leído nada.");
    }
    size_ = static_cast<std::uintmax_t>(status.st_size);
}

OpenedFile::~OpenedFile() {
    if (fd_ >= 0) ::close(fd_);
}

namespace {

pizzacore::Database decodeOpened(const OpenedFile& file, const fs::path& path, std::int64_t* folded) {
    try {
        return pizzacore::Repository::decodeFile(file.descriptor(), path, folded);
    } catch (const pizzacore::PCError& error) {
        if (error.message() == restoreIntegrityMessage) throw Refusal(std::string(integrityMessage));
        throw;
    }
}

} // namespace

pizzacore::Database decodeDocument(const OpenedFile& file, const StoredFile& stored, std::int64_t* pending) {
    std::int64_t folded = 0;
    pizzacore::Database db = decodeOpened(file, stored.file, &folded);
    if (!stored.inFolder) return db;
    const fs::path folder = stored.file.parent_path();
    // Velmora may fold its journal between the reading of the document and of the journal: the
    // entries the document lacks are then gone, and a newer document holds them. It is read again.
    for (int attempt = 0;; ++attempt) {
        try {
            return pizzacore::Repository::replayJournal(folder, std::move(db), folded, pending);
        } catch (const pizzacore::PCError& error) {
            if (attempt == 2 ||
                error.message() != pizzacore::Journal::behindMessage(folder / "Velmora.journal"))
                throw;
        }
        const OpenedFile newer(stored.file);
        db = decodeOpened(newer, stored.file, &folded);
    }
}

pizzacore::Database readDocument(const std::optional<fs::path>& given) {
    const StoredFile stored = locate(dataLocation(given));
    const OpenedFile file(stored.file);
    return decodeDocument(file, stored);
}

} // namespace velmora::admin
