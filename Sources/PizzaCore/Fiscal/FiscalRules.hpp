#pragma once

// The rules of the fiscal archive: what makes fiscal settings and invoice proposals acceptable,
// and the checks a stored archive must pass before the document is used.

#include <PizzaCore/Fiscal/FiscalModels.hpp>

#include <string>
#include <string_view>

namespace pizzacore::FiscalRules {

// Whether this version's fiscal records have been validated for production. While false, no
// invoice, fiscal event or invoice number is ever created.
inline constexpr bool productionValidated = false;

// Why invoices cannot be issued yet, shown by the fiscal screen.
inline constexpr std::string_view pendingValidation =
    "La emisión fiscal NO VERI*FACTU aún no está habilitada: faltan la validación completa de firma, "
    "eventos y conservación y la declaración responsable del productor. Puedes configurar el módulo y "
    "guardar propuestas sin validez fiscal.";

// Throws PCError with the message of the first rule the settings break.
void validateSettings(const FiscalSettings& settings);

// Throws PCError with the message of the first rule the proposal breaks. With `complete` false
// only what a saved proposal must satisfy is checked; with `complete` true also what an invoice
// would need (recipient, totals within the simplified limit, ...).
void validate(const InvoiceProposal& proposal, const FiscalSettings& settings, bool complete);

// The archive rules a stored document must pass: the settings, every proposal as a saved
// proposal, unique proposal identifiers, and no invoices or events (this version never creates
// them). Throws PCError with the message of the first failure.
void validateArchive(const FiscalState& state);

// SHA-256 of the text's UTF-8 bytes as 64 upper-case hexadecimal digits: the fingerprint of the
// fiscal records.
std::string hash(std::string_view text);

// The fingerprint of a registration record, over its identifying values and the previous
// record's fingerprint (empty for the first record of the chain):
// "IDEmisorFactura=…&NumSerieFactura=…&FechaExpedicionFactura=…&TipoFactura=…&CuotaTotal=…
// &ImporteTotal=…&Huella=…&FechaHoraHusoGenRegistro=…".
std::string altaHash(std::string_view taxID, std::string_view number, std::string_view date,
                     std::string_view kind, std::string_view tax, std::string_view total,
                     std::string_view previous, std::string_view timestamp);

} // namespace pizzacore::FiscalRules
