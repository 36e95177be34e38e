#pragma once

#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Models/ClosingReport.hpp>
#include <PizzaCore/Models/Settings.hpp>

namespace pizzacore::ClosingReportRenderer {

// The closing report of a business day or of one of its shifts as a PDF file on the ticket paper
// of the settings: A4 pages, or 58/80 mm roll paper cut to its content. It carries the business
// name and day, each shift with its opening, closing and closing reason, orders, sales, receipts
// by method and the unpaid total at its close, the report's totals, the cash the drawer should
// hold, sales by category and by mode, and the cancelled orders with their reasons. Dates are
// written as on tickets, in the user's locale and the computer's time zone; amounts as on tickets.
//
// Throws PCError "No se pudo crear el PDF." when the PDF cannot be written. Pure and safe to call
// from any thread.
Bytes render(const ClosingReport& report, const Settings& settings);

// "Informe-2026-03-09-tramo-2-80 mm.pdf" for a shift, "Informe-2026-03-09-80 mm.pdf" for a day.
std::string suggestedName(const ClosingReport& report, Paper paper);

} // namespace pizzacore::ClosingReportRenderer
