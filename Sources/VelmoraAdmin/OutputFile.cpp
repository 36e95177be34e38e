#include "OutputFile.hpp"

#include "Failure.hpp"
#include "TextOutput.hpp"

#include <PizzaCore/Persistence/DataDirectory.hpp>

#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace velmora::admin {

namespace fs = std::filesystem;

namespace {

// A file or folder as the system knows it, whatever the path that reached it.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity&) const = default;
};

std::optional<Identity> identityOf(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return Identity{status.st_dev, status.st_ino};
}

bool present(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

// Whether the folder holds what Velmora keeps in its data folder.
bool looksLikeDataFolder(const fs::path& folder) {
    return present(folder / "Velmora.json") || present(folder / "Velmora.previous.json") ||
           present(folder / ".lock");
}

struct Guarded {
    std::vector<std::pair<Identity, fs::path>> folders;
    std::optional<Identity> document;
};

// The folders no output may enter, and the document read.
Guarded guardedBy(const StoredFile& stored) {
    Guarded guarded;
    auto add = [&](const fs::path& folder) {
        if (const std::optional<Identity> id = identityOf(folder)) guarded.folders.emplace_back(*id, folder);
    };
    try {
        add(pizzacore::dataDirectory());
    } catch (const std::exception&) {
        // Without a home folder there is no default data folder to guard.
    }
    std::error_code error;
    const fs::path file = fs::weakly_canonical(fs::absolute(stored.file, error), error);
    const fs::path folder = (error ? stored.file : file).parent_path();
    const std::string name = stored.file.filename().string();
    // A document named as Velmora names its files, or lying next to them (a pre-restore copy), is
    // in a data folder; so is a daily backup in the folder "Copias" of one.
    if (stored.inFolder || name == "Velmora.json" || name == "Velmora.previous.json" ||
        looksLikeDataFolder(folder))
        add(folder.empty() ? fs::path(".") : folder);
    if (folder.filename() == "Copias" && looksLikeDataFolder(folder.parent_path())) add(folder.parent_path());
    guarded.document = identityOf(stored.file);
    return guarded;
}

[[noreturn]] void refuseOnData(const fs::path& output, const fs::path& folder) {
    throw Refusal("El PDF no se guarda en la carpeta de datos (" + printable(folder.string()) +
                  ") ni sobre el archivo que se lee: elige otro sitio para " + printable(output.string()) +
                  ".");
}

// Refuses a file at `target` (an absolute path without links in its folders) that lies inside a
// guarded folder or is the document itself.
void refuseIfGuarded(const fs::path& shown, const fs::path& target, const Guarded& guarded) {
    if (guarded.document && identityOf(target) == guarded.document) refuseOnData(shown, target.parent_path());
    for (fs::path folder = target.parent_path();; folder = folder.parent_path()) {
        const std::optional<Identity> id = identityOf(folder);
        if (id)
            for (const auto& [guardedId, guardedPath] : guarded.folders)
                if (*id == guardedId) refuseOnData(shown, guardedPath);
        if (folder == folder.root_path() || folder.empty()) break;
    }
}

} // namespace

fs::path checkedOutput(const fs::path& output, const StoredFile& document) {
    const std::string shown = printable(output.string());
    const fs::path name = output.filename();
    if (name.empty() || name == "." || name == "..")
        throw Refusal(shown + " es una carpeta: escribe también el nombre del archivo PDF.");

    // The folder the system will write into: links and ".." resolved on the real folders.
    const fs::path given = output.parent_path().empty() ? fs::path(".") : output.parent_path();
    std::error_code error;
    const fs::path folder = fs::canonical(given, error);
    if (error)
        throw Refusal("No se puede guardar en " + printable(given.string()) + ": " +
                      systemReason(error.value()) + ".");
    if (!fs::is_directory(folder, error))
        throw Refusal("No se puede guardar en " + printable(given.string()) + ": no es una carpeta.");

    fs::path target = folder / name;
    struct stat status {};
    if (::lstat(target.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        // An existing name that is a link: the file it leads to is the one replaced.
        target = fs::canonical(target, error);
        if (error)
            throw Refusal(shown + " es un enlace que no lleva a ningún archivo (" +
                          systemReason(error.value()) + "). No se ha escrito nada.");
    }
    if (::lstat(target.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        throw Refusal(shown + " no es un archivo normal: es " + fileKind(status.st_mode) +
                      ". No se ha escrito nada.");
    refuseIfGuarded(output, target, guardedBy(document));
    return target;
}

void checkStandardOutput(const StoredFile& document) {
    struct stat status {};
    if (::fstat(STDOUT_FILENO, &status) != 0 || !S_ISREG(status.st_mode)) return;
    const Guarded guarded = guardedBy(document);
    if (guarded.document && Identity{status.st_dev, status.st_ino} == *guarded.document)
        refuseOnData("la salida estándar", document.file.parent_path());
    // The name the file was opened under, as the system keeps it for the descriptor.
    std::error_code error;
    const fs::path target = fs::read_symlink("/proc/self/fd/1", error);
    if (!error && target.is_absolute()) refuseIfGuarded("la salida estándar", target, guarded);
}

void useBusinessZone(const std::string& zone) {
    ::setenv("TZ", zone.c_str(), 1);
    ::tzset();
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone(
        icu::UnicodeString::fromUTF8(icu::StringPiece(zone.data(), static_cast<int32_t>(zone.size())))));
}

} // namespace velmora::admin
