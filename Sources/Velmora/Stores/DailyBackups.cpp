#include <Velmora/Stores/DailyBackups.hpp>

#include <Velmora/Stores/AppStore.hpp>

#include <PizzaCore/Operations/BusinessClock.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>
#include <PizzaCore/Persistence/DataDirectory.hpp>
#include <PizzaCore/Persistence/Repository.hpp>

#include <algorithm>
#include <system_error>
#include <vector>

namespace velmora {

namespace fs = std::filesystem;

namespace DailyBackups {

namespace {

constexpr std::string_view prefix = "Jornada-";
constexpr std::string_view extension = ".velmorabackup";

bool isDay(std::string_view text) {
    if (text.size() != 10) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 4 || i == 7;
        if (dash ? text[i] != '-' : (text[i] < '0' || text[i] > '9')) return false;
    }
    return true;
}

bool isDayCopy(std::string_view name) {
    return name.size() == prefix.size() + 10 + extension.size() && name.starts_with(prefix) &&
           name.ends_with(extension) && isDay(name.substr(prefix.size(), 10));
}

} // namespace

fs::path folder(const fs::path& dataDirectory) {
    return dataDirectory / "Copias";
}

std::optional<std::string> fileName(std::string_view businessDay) {
    if (!isDay(businessDay)) return std::nullopt;
    std::string name(prefix);
    name += businessDay;
    name += extension;
    return name;
}

void write(const fs::path& documentFile, const fs::path& folder, std::string_view businessDay,
           std::size_t keep) {
    const std::optional<std::string> name = fileName(businessDay);
    if (!name)
        throw fs::filesystem_error("Nombre de jornada no válido", fs::path(std::string(businessDay)),
                                   std::make_error_code(std::errc::invalid_argument));
    pizzacore::createPrivateDirectories(folder);
    // Only this process writes here while it holds the data's lock: a temporary file is what a
    // killed copy left behind.
    pizzacore::AtomicFile::removeLeftovers(folder);
    if (!fs::exists(documentFile))
        throw fs::filesystem_error("No se pudo copiar el archivo", documentFile,
                                   std::make_error_code(std::errc::no_such_file_or_directory));
    // The stored file is the envelope of the document just saved, so the copy is a backup as
    // exportBackup writes it; a hard link where the file system allows one makes it free of cost
    // whatever the size of the history (the data file is only ever replaced, never rewritten).
    pizzacore::AtomicFile::replaceWithCopy(documentFile, folder / *name, 0600);
    rotate(folder, keep);
}

std::size_t rotate(const fs::path& folder, std::size_t keep) {
    std::vector<fs::path> copies;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::error_code ignored;
        if (isDayCopy(entry->path().filename().string()) && entry->is_regular_file(ignored))
            copies.push_back(entry->path());
    }
    if (copies.size() <= keep) return 0;
    // The day in the name sorts as text in the order of the days.
    std::sort(copies.begin(), copies.end());
    std::size_t removed = 0;
    for (std::size_t i = 0; i + keep < copies.size(); ++i) {
        std::error_code ignored;
        if (fs::remove(copies[i], ignored)) ++removed;
    }
    return removed;
}

} // namespace DailyBackups

fs::path AppStore::dailyBackupFolder() const {
    return DailyBackups::folder(location());
}

void AppStore::keepDailyBackup() {
    const std::optional<std::pair<std::size_t, pizzacore::Uuid>> watched = watchedShift_;
    // Sessions are only ever appended, so the watched shift keeps its position in every later
    // version of the same document; a restored document holds other sessions.
    const auto& sessions = db().sessions;
    watchedShift_.reset();
    if (!sessions.empty() && !sessions.back().closed)
        watchedShift_.emplace(sessions.size() - 1, sessions.back().id);
    if (!watched || !repository() || watched->first >= sessions.size()) return;
    const pizzacore::Session& shift = sessions[watched->first];
    if (shift.id != watched->second || !shift.closed) return;

    std::string day = shift.businessDay;
    if (!DailyBackups::fileName(day)) day = pizzacore::BusinessClock::day(shift.opened, db().settings);
    // The data file holds the close only once folded: the copy is made after the fold, on the
    // fold thread, by a hard link where the file system allows one.
    engine_.fold(
        [folder = dailyBackupFolder(), day](pizzacore::Repository& repository) {
            DailyBackups::write(repository.file(), folder, day);
        },
        [this, day](const std::exception_ptr& failure) {
            // The close itself is saved; only its copy is missing, and the operator hears of it once.
            if (failure)
                setMessage(
                    QStringLiteral("El cierre está guardado, pero no se pudo hacer la copia automática "
                                   "de la jornada ") +
                    QString::fromStdString(day) + QStringLiteral(" en la carpeta Copias: ") +
                    describeFailure(failure));
        });
}

} // namespace velmora
