// velmora-admin ticket: an order's tickets as the PDF Velmora prints, with the current settings.

#include "Commands.hpp"
#include "Failure.hpp"
#include "OutputFile.hpp"
#include "StoredData.hpp"
#include "TextOutput.hpp"

#include <PizzaCore/Documents/TicketRenderer.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

namespace velmora::admin {

namespace {

namespace fs = std::filesystem;

// A ticket names people, addresses and telephones: only its owner may read it.
constexpr mode_t personalDataMode = 0600;

} // namespace

int ticket(const TicketRequest& request, std::ostream& out) {
    const StoredFile stored = locate(dataLocation(request.data));
    const pizzacore::Database db = readDocument(request.data);
    const bool toStandardOutput = request.output == "-";
    // Checked before anything is rendered, and again by the atomic write for what changed since.
    const fs::path target = toStandardOutput ? fs::path() : checkedOutput(request.output, stored);
    if (toStandardOutput) checkStandardOutput(stored);
    const auto order = std::find_if(db.orders.begin(), db.orders.end(),
                                    [&](const pizzacore::Order& o) { return o.number == request.number; });
    if (order == db.orders.end())
        throw Refusal("No hay ningún pedido con el número " + std::to_string(request.number) + ".");

    useBusinessZone(db.settings.timeZone);
    // A ticket printed before carries the reprint mark, as when Velmora prints it again.
    const pizzacore::Bytes pdf = pizzacore::TicketRenderer::render(*order, db.settings, db.paymentFor(*order),
                                                                   order->printAttempts > 0);
    const std::string_view bytes(reinterpret_cast<const char*>(pdf.data()), pdf.size());

    if (toStandardOutput) {
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return 0;
    }
    try {
        // Whole or not at all: an existing file of that name is replaced only by a complete PDF.
        pizzacore::AtomicFile::write(target, bytes, personalDataMode);
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
