#pragma once

#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Models/Orders.hpp>
#include <PizzaCore/Models/Settings.hpp>

#include <optional>

namespace pizzacore::TicketRenderer {

// The tickets of a confirmed order as one PDF file: one ticket per destination switched on in
// the settings (kitchen, bar, customer, in that order), each starting on a new page of A4 or of
// 58/80 mm roll paper; roll paper pages are cut to their content. Kitchen and bar tickets list
// only their own lines and no amounts unless `settings.fullCopies` is on; the customer ticket
// carries the business and customer data, the amounts, the total and the payment (`payment`,
// absent while unpaid). `copy` marks a reprint. The date line is written in the user's locale
// and the computer's time zone.
//
// Throws PCError "Activa al menos un destinatario en Ajustes → Tickets." when no destination is
// on, "El importe supera el límite admitido." when an amount does not fit in 64 bits, and "No
// se pudo crear el PDF." when the PDF cannot be written. A logo that is not a PNG or JPEG image
// is left out without a message. Pure and safe to call from any thread.
Bytes render(const Order& order, const Settings& settings, const std::optional<Payment>& payment, bool copy);

} // namespace pizzacore::TicketRenderer
