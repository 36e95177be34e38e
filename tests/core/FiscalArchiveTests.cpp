// The document's fiscal archive: reading it, saving fiscal settings and invoice proposals, and
// preparing a proposal from an order.

#include <PizzaCore/PizzaCore.hpp>

#include <gtest/gtest.h>
#include <support/Refusal.hpp>

#include <functional>
#include <optional>
#include <string>

using namespace pizzacore;

namespace {

const Instant monday{800000000};
const Instant tuesday{800086400};

const std::string identityMessage =
    "La identidad fiscal, moneda e instalación no se pueden cambiar después de "
    "emitir. Usa una instalación separada para otro emisor.";

using pizzacore::testing::failure;

// One line of one unit at 10 %; corrective kinds take the unit back (quantity −1).
InvoiceProposal proposalOf(std::int64_t cents, InvoiceKind kind = InvoiceKind::full) {
    InvoiceProposal proposal;
    proposal.created = monday;
    proposal.operationDate = monday;
    proposal.kind = kind;
    proposal.lines = {FiscalLine{Uuid::random(), "Pizza barbacoa", rectifies(kind) ? -1 : 1, cents, 1000}};
    return proposal;
}

// A document whose archive holds one issued invoice, as an older or foreign file might.
Database withIssuedInvoice() {
    Database db;
    FiscalState state;
    state.settings.issuerTaxID = "B12345678";
    FiscalInvoice invoice;
    invoice.number = "F-1";
    invoice.settings = state.settings;
    state.invoices.push_back(invoice);
    state.nextNumbers = {{"F", 2}};
    db.fiscal = state;
    return db;
}

} // namespace

TEST(FiscalArchive, DefaultsUntilFirstStoredWithoutChangingTheDocument) {
    const Database db;
    const FiscalState first = db.fiscalState();
    EXPECT_FALSE(db.fiscal.has_value());
    EXPECT_NE(first.settings.installation, db.fiscalState().settings.installation);
    EXPECT_EQ(first.settings.rates, (std::vector<std::int64_t>{400, 1000, 2100}));
    EXPECT_TRUE(first.proposals.empty() && first.invoices.empty() && first.events.empty() &&
                first.nextNumbers.empty());

    const Database stored = withIssuedInvoice();
    EXPECT_EQ(stored.fiscalState(), *stored.fiscal);
}

TEST(FiscalArchive, SavingSettingsStoresThemSetsTheCurrencyAndAudits) {
    Database db;
    FiscalSettings settings = db.fiscalState().settings;
    settings.currency = "USD";
    settings.issuerName = "Pizzería Alba S.L.";
    db.saveFiscalSettings(settings, monday);

    ASSERT_TRUE(db.fiscal.has_value());
    EXPECT_EQ(db.fiscal->settings, settings);
    EXPECT_EQ(db.settings.currency, "USD");
    // The installation number is now fixed: every reading gives the one saved.
    EXPECT_EQ(db.fiscalState().settings.installation, settings.installation);
    EXPECT_EQ(db.fiscalState().settings.installation, db.fiscalState().settings.installation);
    ASSERT_EQ(db.audit.size(), 1u);
    EXPECT_EQ(db.audit[0].action, "Guardar configuración fiscal");
    EXPECT_EQ(db.audit[0].reference, "");
    EXPECT_EQ(db.audit[0].date, monday);

    // Without invoices every field may change; proposals are kept and not revalidated.
    db.saveInvoiceProposal(proposalOf(1000), monday);
    settings.currency = "EUR";
    settings.country = "PT";
    settings.rates = {600};
    settings.installation = Uuid::random().text();
    db.saveFiscalSettings(settings, tuesday);
    EXPECT_EQ(db.fiscal->settings, settings);
    EXPECT_EQ(db.fiscal->proposals.size(), 1u);
    EXPECT_EQ(db.settings.currency, "EUR");
    EXPECT_EQ(db.audit.size(), 3u);
    EXPECT_EQ(db.audit.back().date, tuesday);
}

TEST(FiscalArchive, RefusedSettingsChangeNothing) {
    Database db;
    FiscalSettings settings;
    settings.rates = {2100, 2100};
    const Database before = db;
    EXPECT_EQ(failure([&] { db.saveFiscalSettings(settings, monday); }),
              "Revisa país (ISO de dos letras), moneda (ISO de tres letras) y tipos impositivos.");
    EXPECT_EQ(db, before);
}

TEST(FiscalArchive, IdentityIsFrozenOnceInvoicesExist) {
    struct Case {
        const char* name;
        std::function<void(FiscalSettings&)> change;
        bool allowed;
    };
    const Case cases[] = {
        {"issuer name", [](FiscalSettings& s) { s.issuerName = "Otra S.L."; }, true},
        {"series and rates",
         [](FiscalSettings& s) {
             s.fullSeries = "FA";
             s.rates = {1000};
         },
         true},
        {"issuer tax ID", [](FiscalSettings& s) { s.issuerTaxID = "B87654321"; }, false},
        {"country", [](FiscalSettings& s) { s.country = "PT"; }, false},
        {"currency", [](FiscalSettings& s) { s.currency = "USD"; }, false},
        {"installation", [](FiscalSettings& s) { s.installation = Uuid::random().text(); }, false},
    };
    for (const Case& c : cases) {
        Database db = withIssuedInvoice();
        FiscalSettings settings = db.fiscalState().settings;
        c.change(settings);
        const Database before = db;
        const auto result = failure([&] { db.saveFiscalSettings(settings, monday); });
        if (c.allowed) {
            EXPECT_EQ(result, std::nullopt) << c.name;
            EXPECT_EQ(db.fiscal->settings, settings) << c.name;
            EXPECT_EQ(db.fiscal->invoices, before.fiscal->invoices) << c.name;
            EXPECT_EQ(db.fiscal->nextNumbers, before.fiscal->nextNumbers) << c.name;
        } else {
            EXPECT_EQ(result, identityMessage) << c.name;
            EXPECT_EQ(db, before) << c.name;
        }
    }
    // Validation of the settings comes before the identity rule.
    Database db = withIssuedInvoice();
    FiscalSettings settings = db.fiscalState().settings;
    settings.currency = "usd";
    EXPECT_EQ(failure([&] { db.saveFiscalSettings(settings, monday); }),
              "Revisa país (ISO de dos letras), moneda (ISO de tres letras) y tipos impositivos.");
}

TEST(FiscalArchive, FirstProposalStoresTheArchiveWithDefaultSettings) {
    Database db;
    db.settings.currency = "GBP";
    const InvoiceProposal proposal = proposalOf(1000);
    db.saveInvoiceProposal(proposal, monday);

    ASSERT_TRUE(db.fiscal.has_value());
    EXPECT_EQ(db.fiscal->proposals, std::vector{proposal});
    EXPECT_EQ(db.fiscalState().settings.installation, db.fiscalState().settings.installation);
    EXPECT_EQ(db.fiscal->settings.currency, "EUR");
    EXPECT_EQ(db.settings.currency, "GBP"); // only saving the fiscal settings changes it
    ASSERT_EQ(db.audit.size(), 1u);
    EXPECT_EQ(db.audit[0].action, "Guardar propuesta de factura");
    EXPECT_EQ(db.audit[0].reference, proposal.id.text());
    EXPECT_EQ(db.audit[0].date, monday);
    EXPECT_EQ(failure([&] { FiscalRules::validateArchive(*db.fiscal); }), std::nullopt);
}

TEST(FiscalArchive, SavingAgainReplacesTheProposalInPlace) {
    Database db;
    InvoiceProposal first = proposalOf(1000);
    const InvoiceProposal second = proposalOf(2000);
    db.saveInvoiceProposal(first, monday);
    db.saveInvoiceProposal(second, monday);
    first.recipientName = "Ana García";
    first.lines[0].quantity = 3;
    db.saveInvoiceProposal(first, tuesday);
    db.saveInvoiceProposal(first, tuesday);

    EXPECT_EQ(db.fiscal->proposals, (std::vector{first, second}));
    ASSERT_EQ(db.audit.size(), 4u);
    EXPECT_EQ(db.audit[2].reference, first.id.text());
    EXPECT_EQ(db.audit[3].reference, first.id.text());
    EXPECT_EQ(db.audit[3].date, tuesday);
    EXPECT_NE(db.audit[2].id, db.audit[3].id);
}

TEST(FiscalArchive, RefusedProposalsChangeNothing) {
    const std::string missingOriginal = "La factura original no está en este archivo fiscal.";
    struct Case {
        const char* name;
        Database db;
        InvoiceProposal proposal;
        std::string message;
    };
    InvoiceProposal unrated = proposalOf(1000);
    unrated.lines[0].rate = -1;
    InvoiceProposal empty = proposalOf(1000);
    empty.lines.clear();
    InvoiceProposal correction = proposalOf(1000, InvoiceKind::correction);
    correction.correctionOf = Uuid::random();
    correction.reason = "Precio equivocado";
    InvoiceProposal unknownOriginal = correction;
    unknownOriginal.kind = InvoiceKind::simplifiedCorrection;
    InvoiceProposal noReason = correction;
    noReason.reason = "";

    Case cases[] = {
        {"no rate", Database{}, unrated, "Revisa los conceptos, cantidades, precios e impuestos."},
        {"no lines", Database{}, empty, "Añade entre 1 y 1000 conceptos."},
        {"no reason", Database{}, noReason, "La rectificativa requiere factura de origen y motivo."},
        {"correction with no invoices", Database{}, correction, missingOriginal},
        {"correction of an unknown invoice", withIssuedInvoice(), unknownOriginal, missingOriginal},
    };
    for (Case& c : cases) {
        const Database before = c.db;
        EXPECT_EQ(failure([&] { c.db.saveInvoiceProposal(c.proposal, monday); }), c.message) << c.name;
        EXPECT_EQ(c.db, before) << c.name;
    }
}

TEST(FiscalArchive, CorrectionOfAnInvoiceInTheArchiveIsSavedWithoutANumber) {
    Database db = withIssuedInvoice();
    InvoiceProposal correction = proposalOf(1000, InvoiceKind::correction);
    correction.correctionOf = db.fiscal->invoices[0].id;
    correction.reason = "Devolución";
    const FiscalState before = *db.fiscal;
    db.saveInvoiceProposal(correction, monday);
    EXPECT_EQ(db.fiscal->proposals, std::vector{correction});
    EXPECT_EQ(db.fiscal->invoices, before.invoices);
    EXPECT_EQ(db.fiscal->events, before.events);
    EXPECT_EQ(db.fiscal->nextNumbers, before.nextNumbers);
    EXPECT_EQ(db.fiscal->settings, before.settings);
}

TEST(FiscalArchive, ProposalFromAnOrderCopiesItsCustomerAndLines) {
    Order order;
    order.created = monday;
    order.number = 12;
    order.draft.name = "Ana García";
    order.draft.phone = "600 000 000";
    order.draft.address = "Calle Sol 2";
    Line pizza;
    pizza.name = "Pizza margarita";
    pizza.cents = 950;
    pizza.quantity = 2;
    pizza.taxRate = 1000;
    Line drink;
    drink.name = "Agua";
    drink.cents = 150;
    order.draft.lines = {pizza, drink};

    Database db;
    db.orders.push_back(order);
    const Database before = db;
    const InvoiceProposal proposal = db.invoiceProposalFor(order, tuesday);
    EXPECT_EQ(db, before);

    EXPECT_EQ(proposal.orderID, order.id);
    EXPECT_EQ(proposal.created, tuesday);
    EXPECT_EQ(proposal.operationDate, monday);
    EXPECT_EQ(proposal.kind, InvoiceKind::full);
    EXPECT_EQ(proposal.recipientName, "Ana García");
    EXPECT_EQ(proposal.recipientTaxID, "");
    EXPECT_EQ(proposal.recipientAddress, "Calle Sol 2");
    EXPECT_EQ(proposal.recipientCountry, "ES");
    EXPECT_FALSE(proposal.correctionOf.has_value());
    EXPECT_EQ(proposal.reason, "");
    ASSERT_EQ(proposal.lines.size(), 2u);
    EXPECT_EQ(proposal.lines[0].description, "Pizza margarita");
    EXPECT_EQ(proposal.lines[0].quantity, 2);
    EXPECT_EQ(proposal.lines[0].unitGross, 950);
    EXPECT_EQ(proposal.lines[0].rate, 1000);
    EXPECT_EQ(proposal.lines[1].rate, -1);
    EXPECT_NE(proposal.lines[0].id, pizza.id);
    EXPECT_NE(proposal.lines[0].id, proposal.lines[1].id);
    EXPECT_NE(db.invoiceProposalFor(order, tuesday).id, proposal.id);
    EXPECT_EQ(proposal.gross(), 2050);

    // The line without a rate has to be given one before the proposal can be saved.
    EXPECT_EQ(failure([&] { db.saveInvoiceProposal(proposal, tuesday); }),
              "Revisa los conceptos, cantidades, precios e impuestos.");
    InvoiceProposal rated = proposal;
    rated.lines[1].rate = 1000;
    db.saveInvoiceProposal(rated, tuesday);
    EXPECT_EQ(db.fiscal->proposals, std::vector{rated});
}
