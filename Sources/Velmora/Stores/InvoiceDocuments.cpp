#include <Velmora/Stores/InvoiceDocuments.hpp>

#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Stores/AppStore.hpp>

#include <PizzaCore/Persistence/AtomicFile.hpp>
#include <PizzaCore/PizzaCore.hpp>

#include <string_view>

namespace velmora::InvoiceDocuments {

QString proposedFileName(const pizzacore::InvoiceProposal& proposal) {
    return QStringLiteral("Propuesta-sin-validez-fiscal-") +
           QString::fromStdString(proposal.id.text().substr(0, 8)) + QStringLiteral(".pdf");
}

void saveProposal(const pizzacore::InvoiceProposal& proposal, const pizzacore::FiscalSettings& settings,
                  AppStore& store) {
    pizzacore::Bytes pdf;
    try {
        pdf = pizzacore::InvoiceRenderer::proposal(proposal, settings);
    } catch (...) {
        store.setMessage(describeFailure(std::current_exception()));
        return;
    }
    const auto path = store.platform().chooseSaveLocation(QStringLiteral("Guardar propuesta en PDF"),
                                                          proposedFileName(proposal), FileKind::pdf, nullptr);
    if (!path) return;
    try {
        // The proposal names the customer and their tax identity: for the user only.
        pizzacore::AtomicFile::write(
            *path, std::string_view(reinterpret_cast<const char*>(pdf.data()), pdf.size()), 0600);
    } catch (...) {
        store.setMessage(describeFailure(std::current_exception()));
        return;
    }
    // Saved is not shown: a desktop that cannot open it must not leave the operator waiting.
    if (!store.platform().openWithDefaultApplication(*path))
        store.setMessage(QStringLiteral("El PDF se ha guardado, pero el sistema no ha podido abrirlo."));
}

} // namespace velmora::InvoiceDocuments
