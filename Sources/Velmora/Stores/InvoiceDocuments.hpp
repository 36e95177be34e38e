#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Fiscal/FiscalModels.hpp>
#endif

#include <QString>

namespace velmora {

class AppStore;

// Saving an invoice proposal as a PDF that says it has no fiscal value.
namespace InvoiceDocuments {

// "Propuesta-sin-validez-fiscal-" + the first 8 characters of the proposal's identifier + ".pdf".
QString proposedFileName(const pizzacore::InvoiceProposal& proposal);

// Renders the proposal, asks where to save it (a save panel for PDF documents proposing
// proposedFileName()), writes the file atomically and opens it with the desktop's viewer. A
// cancelled panel does nothing; a failure to render or write goes to the controller's message.
void saveProposal(const pizzacore::InvoiceProposal& proposal, const pizzacore::FiscalSettings& settings,
                  AppStore& store);

} // namespace InvoiceDocuments
} // namespace velmora
