// velmora-admin verificar: reads a data folder or a backup exactly as Velmora would open it and
// says what it holds, or why it is refused. It neither takes the lock nor writes anything.

#include "Commands.hpp"
#include "StoredData.hpp"
#include "TextOutput.hpp"

#include <algorithm>
#include <cstdio>
#include <system_error>

namespace velmora::admin {

namespace fs = std::filesystem;

namespace {

std::string sizeText(std::uintmax_t bytes) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%ju bytes (%.1f MB)", bytes, static_cast<double>(bytes) / 1e6);
    std::string text = buffer;
    // Spanish decimal comma in the megabytes.
    if (const std::size_t point = text.rfind('.'); point != std::string::npos) text[point] = ',';
    return text;
}

} // namespace

int verify(const VerifyRequest& request, std::ostream& out) {
    const fs::path location = dataLocation(request.path);
    const StoredFile stored = locate(location);
    out << "Archivo: " << printable(stored.file.string())
        << (stored.inFolder ? " (carpeta de datos)" : " (copia)") << '\n';
    out << "Lectura sin bloqueo: no se toma el bloqueo de Velmora ni se escribe nada; "
           "Velmora puede estar abierto.\n";

    const OpenedFile file(stored.file);
    out << "Tamaño: " << sizeText(file.size()) << '\n';
    // Everything goes on the screen before the check, which can take seconds on a large file.
    out.flush();

    // The same checks as opening the data: envelope, digest, versions, integrity rules. A
    // refusal travels to the caller, which ends the run with "Resultado: no válido".
    std::int64_t pending = 0;
    const pizzacore::Database db = decodeDocument(file, stored, &pending);

    out << "Sobre, huella SHA-256, versiones y reglas de integridad: correctos\n";
    // A folder's journal holds the changes made since Velmora last wrote the whole document; they
    // are checked and counted above. A single file has none.
    if (stored.inFolder) out << "Cambios pendientes en el diario: " << pending << '\n';
    out << "Pedidos: " << db.orders.size() << '\n';
    out << "Clientes: " << db.customers.size() << '\n';
    out << "Tramos de caja: " << db.sessions.size() << '\n';
    if (db.sessions.empty()) {
        out << "Primera jornada: —\nÚltima jornada: —\n";
    } else {
        // Business days are "yyyy-MM-dd", so text order is date order.
        const auto [first, last] =
            std::minmax_element(db.sessions.begin(), db.sessions.end(),
                                [](const pizzacore::Session& a, const pizzacore::Session& b) {
                                    return a.businessDay < b.businessDay;
                                });
        out << "Primera jornada: " << printable(first->businessDay) << '\n';
        out << "Última jornada: " << printable(last->businessDay) << '\n';
    }
    if (stored.inFolder) {
        std::error_code error;
        const fs::path previous = location / "Velmora.previous.json";
        const std::uintmax_t size = fs::file_size(previous, error);
        if (!error)
            out << "Copia anterior: Velmora.previous.json, " << sizeText(size)
                << "; se comprueba con «velmora-admin verificar " << printable(previous.string()) << "»\n";
    }
    out << "Resultado: correcto\n";
    return 0;
}

} // namespace velmora::admin
