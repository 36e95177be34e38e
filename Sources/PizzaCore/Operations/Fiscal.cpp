// The operations of the document on its fiscal archive: reading it, saving the fiscal settings,
// saving invoice proposals and preparing a proposal from an order. None of them issues an
// invoice, records a fiscal event or takes a number from a series.

#include <PizzaCore/Fiscal/FiscalRules.hpp>
#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Models/Database.hpp>

#include <algorithm>
#include <utility>

namespace pizzacore {

namespace {

constexpr const char* identityFrozen =
    "La identidad fiscal, moneda e instalación no se pueden cambiar después de "
    "emitir. Usa una instalación separada para otro emisor.";
constexpr const char* originalMissing = "La factura original no está en este archivo fiscal.";

} // namespace

FiscalState Database::fiscalState() const {
    return fiscal ? *fiscal : FiscalState{};
}

void Database::saveFiscalSettings(const FiscalSettings& newSettings, Instant now) {
    FiscalRules::validateSettings(newSettings);
    FiscalState state = fiscalState();
    if (!state.invoices.empty()) {
        const FiscalSettings& current = state.settings;
        if (newSettings.issuerTaxID != current.issuerTaxID || newSettings.country != current.country ||
            newSettings.currency != current.currency || newSettings.installation != current.installation)
            throw PCError::invalid(identityFrozen);
    }
    state.settings = newSettings;
    fiscal = std::move(state);
    settings.currency = newSettings.currency;
    record("Guardar configuración fiscal", "", now);
}

void Database::saveInvoiceProposal(const InvoiceProposal& proposal, Instant now) {
    FiscalState state = fiscalState();
    FiscalRules::validate(proposal, state.settings, false);
    if (rectifies(proposal.kind)) {
        const bool found =
            std::any_of(state.invoices.begin(), state.invoices.end(), [&](const FiscalInvoice& i) {
                return proposal.correctionOf && i.id == *proposal.correctionOf;
            });
        if (!found) throw PCError::invalid(originalMissing);
    }
    const auto stored = std::find_if(state.proposals.begin(), state.proposals.end(),
                                     [&](const InvoiceProposal& p) { return p.id == proposal.id; });
    if (stored != state.proposals.end())
        *stored = proposal;
    else
        state.proposals.push_back(proposal);
    fiscal = std::move(state);
    record("Guardar propuesta de factura", proposal.id.text(), now);
}

InvoiceProposal Database::invoiceProposalFor(const Order& order, Instant now) const {
    InvoiceProposal proposal;
    proposal.orderID = order.id;
    proposal.created = now;
    proposal.operationDate = order.created;
    proposal.kind = InvoiceKind::full;
    proposal.recipientName = order.draft.name;
    proposal.recipientAddress = order.draft.address;
    proposal.lines.reserve(order.draft.lines.size());
    for (const Line& line : order.draft.lines)
        proposal.lines.push_back(
            FiscalLine{Uuid::random(), line.name, line.quantity, line.cents, line.taxRate.value_or(-1)});
    return proposal;
}

} // namespace pizzacore
