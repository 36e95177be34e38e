#pragma once

#include <PizzaCore/Fiscal/FiscalModels.hpp>
#include <PizzaCore/Foundation/Bytes.hpp>

namespace pizzacore::InvoiceRenderer {

// An invoice proposal as an A4 PDF file. Every page carries the title "PROPUESTA · SIN VALIDEZ
// FISCAL" and a page line with its number; then come the kind, the dates, issuer, recipient,
// the concepts with their amounts, the breakdown per tax rate and the totals.
//
// Throws the PCError of FiscalRules::validate (as for a saved proposal) before drawing anything,
// and "No se pudo crear el PDF." when the PDF cannot be written. Pure and safe to call from any
// thread.
Bytes proposal(const InvoiceProposal& proposal, const FiscalSettings& settings);

} // namespace pizzacore::InvoiceRenderer
