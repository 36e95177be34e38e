// velmora-admin ticket: an order's tickets as the PDF Velmora prints, with the current settings.

#include "Commands.hpp"
#include "Failure.hpp"
#include "StoredData.hpp"
#include "TextOutput.hpp"

#include <PizzaCore/Documents/TicketRenderer.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>
#include <PizzaCore/Persistence/DataDirectory.hpp>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace velmora::admin {

namespace {

namespace fs = std::filesystem;

// Whether `output` would land in a data folder (the one read, or the one Velmora uses) or on the
// backup being read: a PDF written there could replace the document itself.
bool landsOnData(const fs::path& output, const std::optional<fs::path>& given) {
    std::error_code error;
    const fs::path folder = fs::absolute(output, error).parent_path();
    std::vector<fs::path> guarded;
    if (given) guarded.push_back(*given);
    try {
        guarded.push_back(pizzacore::dataDirectory());
    } catch (const std::exception&) {
        // Without a home folder there is no default data folder to guard.
    }
    for (const fs::path& data : guarded) {
        if (fs::is_directory(data, error) && fs::equivalent(folder, data, error)) return true;
        if (fs::is_regular_file(data, error) && fs::equivalent(output, data, error)) return true;
    }
    return false;
}

} // namespace

int ticket(const TicketRequest& request, std::ostream& out) {
    const pizzacore::Database db = readDocument(request.data);
    if (request.output != "-" && landsOnData(request.output, request.data))
        throw Refusal("El PDF no se guarda en la carpeta de datos ni sobre la copia que se lee: elige otro "
                      "sitio para " +
                      printable(request.output.string()) + ".");
    const auto order = std::find_if(db.orders.begin(), db.orders.end(),
                                    [&](const pizzacore::Order& o) { return o.number == request.number; });
    if (order == db.orders.end())
        throw Refusal("No hay ningún pedido con el número " + std::to_string(request.number) + ".");

    // A ticket printed before carries the reprint mark, as when Velmora prints it again.
    const pizzacore::Bytes pdf = pizzacore::TicketRenderer::render(*order, db.settings, db.paymentFor(*order),
                                                                   order->printAttempts > 0);
    const std::string_view bytes(reinterpret_cast<const char*>(pdf.data()), pdf.size());

    if (request.output == "-") {
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return 0;
    }
    try {
        // Whole or not at all: an existing file of that name is replaced only by a complete PDF.
        pizzacore::AtomicFile::write(request.output, bytes);
    } catch (const std::system_error& error) {
        throw Refusal("No se pudo guardar " + printable(request.output.string()) + ": " +
                      systemReason(error.code().value()) + ".");
    }
    std::string recipients;
    for (const pizzacore::Recipient recipient : db.settings.recipients()) {
        if (!recipients.empty()) recipients += ", ";
        recipients += pizzacore::rawValue(recipient);
    }
    out << "Tickets del pedido #" << order->number << " (" << recipients << "; papel "
        << pizzacore::rawValue(db.settings.paper) << ") guardados en " << printable(request.output.string())
        << ", " << pdf.size() << " bytes.\n";
    return 0;
}

} // namespace velmora::admin
