// The backup and restore flows of the settings window: the panels, the confirmation and the
// messages around the repository's export and restore.

#include <Velmora/Stores/AppStore.hpp>

#include <Velmora/Platform/ChosenFile.hpp>
#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Platform/QtText.hpp>

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Persistence/Repository.hpp>

#include <QPointer>
#include <QWidget>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace velmora {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view integrityMessage =
    "La copia no es válida o su integridad no coincide. No se han sustituido los datos.";

// "yyyy-MM-dd" of the instant in UTC.
QString utcDate(pizzacore::Instant instant) {
    using namespace std::chrono;
    const auto seconds =
        sys_seconds(std::chrono::seconds(static_cast<long long>(std::floor(instant.unixSeconds()))));
    const year_month_day date(floor<days>(seconds));
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return QString::fromLatin1(text);
}

// The checked document of a file chosen as a backup. Folders, FIFOs and devices are refused
// without waiting on them; the file is read in pieces, so a huge file that is no backup costs
// little memory and is refused as soon as it stops looking like one.
pizzacore::Database readBackup(const fs::path& path) {
    ChosenFile file(path);
    if (file.isFolder())
        throw fs::filesystem_error("No se pudo leer la copia", path,
                                   std::make_error_code(std::errc::is_a_directory));
    if (!file.isRegular()) throw pizzacore::PCError::invalid(std::string(integrityMessage));
    return pizzacore::Repository::decodeBackup(file.descriptor(), path);
}

// "12 pedidos", "1 pedido".
QString counted(std::size_t count, const char* one, const char* many) {
    return QString::number(count) + QLatin1Char(' ') + QString::fromUtf8(count == 1 ? one : many);
}

// What a backup holds, for the operator to recognise it before it replaces the data: the last
// moment it records (its last order or audit entry) and how many orders and cards it has.
QString backupSummary(const pizzacore::Database& copy) {
    std::optional<pizzacore::Instant> latest;
    if (!copy.audit.empty()) latest = copy.audit.back().date;
    if (!copy.orders.empty() && (!latest || *latest < copy.orders.back().created))
        latest = copy.orders.back().created;
    QString text = QStringLiteral("La copia contiene ") + counted(copy.orders.size(), "pedido", "pedidos") +
                   QStringLiteral(" y ") +
                   counted(copy.customers.size(), "ficha de cliente", "fichas de cliente");
    if (latest && localDateTime(*latest).isValid())
        text += QStringLiteral(", con datos hasta el ") + dateTimeText(*latest);
    return text + QLatin1Char('.');
}

// Whether `path` names one of the data directory's own files, which a backup must never replace
// (a copy written over ".lock" would even let a second instance in).
bool isDataFile(const fs::path& path, const fs::path& directory) {
    std::error_code error;
    const fs::path target = fs::weakly_canonical(path, error);
    if (error) return false;
    for (const char* name : {"Velmora.json", "Velmora.previous.json", ".lock"}) {
        std::error_code other;
        if (target == fs::weakly_canonical(directory / name, other) && !other) return true;
        if (fs::equivalent(path, directory / name, other) && !other) return true;
    }
    return false;
}

} // namespace

void AppStore::exportBackup(QWidget* window) {
    const FlowWindow flow(*this, window);
    const std::optional<fs::path> path = platform_.chooseSaveLocation(
        QStringLiteral("Guardar copia de seguridad"),
        QStringLiteral("Velmora-") + utcDate(clock_.now()) + QStringLiteral(".velmorabackup"),
        FileKind::backup, window);
    if (!path || path->empty()) return;
    // The copy includes the order being taken.
    if (!saveDraft()) return;
    if (!repository()) {
        setMessage(QStringLiteral("El almacenamiento no está disponible."));
        return;
    }
    if (isDataFile(*path, repository()->directory())) {
        setMessage(QStringLiteral("Ese archivo forma parte de los datos de Velmora. Guarda la copia con otro "
                                  "nombre o en otra carpeta."));
        return;
    }
    // Written by the controller's writer, in turn with the saves, while the window keeps working.
    const fs::path target = *path;
    if (const Outcome written =
            useRepository([&target](pizzacore::Repository& repository, const pizzacore::Database& current) {
                repository.exportTo(current, target);
                return std::optional<pizzacore::Database>();
            });
        !written) {
        setMessage(written.failure);
        return;
    }
    setMessage(QStringLiteral("Copia guardada. Contiene clientes, pedidos, cierres, borrador y ajustes."),
               AlertKind::information);
}

bool AppStore::restoreBackup(QWidget* window) {
    const FlowWindow flow(*this, window);
    // The window may close while the panel is open; the alert then belongs to the main window.
    const QPointer<QWidget> owner(window);
    const std::optional<fs::path> path =
        platform_.chooseFileToOpen(QStringLiteral("Elegir copia de Velmora"), FileKind::any, window);
    if (!path || path->empty()) return false;
    // Checked in full before the operator is asked anything, by the writer (a large copy takes
    // a while to read) while the window keeps working; the document read is not kept.
    const fs::path chosen = *path;
    QString summary;
    if (const Outcome checked =
            useRepository([&chosen, &summary](pizzacore::Repository&, const pizzacore::Database&) {
                summary = backupSummary(readBackup(chosen));
                return std::optional<pizzacore::Database>();
            });
        !checked) {
        setMessage(checked.failure);
        return false;
    }
    const std::optional<int> answer = platform_.confirm(
        Confirmation{
            QStringLiteral("¿Restaurar esta copia?"),
            summary + QStringLiteral("\n\n") +
                QStringLiteral("Sustituirá los datos actuales por los de la copia elegida. Se conservará "
                               "una copia previa completa en la carpeta de datos. No combina bases de "
                               "datos."),
            {QStringLiteral("Restaurar"), QStringLiteral("Cancelar")}},
        owner.data());
    if (answer != 0) return false;
    if (fatal_ || !repository()) {
        setMessage(QStringLiteral("El almacenamiento no está disponible."));
        return false;
    }
    // The document is read only now: a clock tick may have changed it while the alert was open.
    // Restored by the controller's writer, in turn with the saves, and published like a transaction.
    const pizzacore::Instant now = clock_.now();
    if (const Outcome restored =
            useRepository([&](pizzacore::Repository& repository, const pizzacore::Database& current) {
                return std::optional<pizzacore::Database>(repository.restore(chosen, current, now));
            });
        !restored) {
        setMessage(restored.failure);
        return false;
    }
    setSelectedOrder(std::nullopt);
    // Shifts that fell due in the restored data close now; whatever that reports follows the
    // confirmation rather than being replaced by it, and keeps its own kind.
    const std::optional<QString> earlier = message_;
    tick();
    // The day's copy of a shift the tick closed is written in the background; its outcome is
    // part of this one.
    flush();
    QString text = QStringLiteral("Copia restaurada. La versión anterior permanece en la carpeta de datos.");
    AlertKind kind = AlertKind::information;
    if (message_ && message_ != earlier) {
        text += QStringLiteral("\n\n") + *message_;
        kind = messageKind_;
    }
    setMessage(text, kind);
    return true;
}

} // namespace velmora
