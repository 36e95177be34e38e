#pragma once

// The records of the fiscal archive that the document may hold: the fiscal settings of the
// installation, invoice proposals, and room for issued invoices and fiscal events.

#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Foundation/Enumeration.hpp>
#include <PizzaCore/Foundation/Instant.hpp>
#include <PizzaCore/Foundation/Record.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pizzacore {

// Next sequence number per invoice series.
using NumberMap = std::map<std::string, std::int64_t>;

// The fiscal configuration of one installation. Rates are in hundredths of a per cent.
// `installation` is drawn afresh for every default value and fixed when first stored.
#define PIZZACORE_FISCAL_SETTINGS_FIELDS(X)                                                                  \
    X(std::string, country, "ES")                                                                            \
    X(std::string, territory)                                                                                \
    X(std::string, currency, "EUR")                                                                          \
    X(std::string, taxName, "IVA")                                                                           \
    X(std::vector<std::int64_t>, rates, {400, 1000, 2100})                                                   \
    X(std::string, issuerName)                                                                               \
    X(std::string, issuerTaxID)                                                                              \
    X(std::string, issuerAddress)                                                                            \
    X(std::string, fullSeries, "F")                                                                          \
    X(std::string, simpleSeries, "S")                                                                        \
    X(std::string, correctionSeries, "R")                                                                    \
    X(std::string, producerName)                                                                             \
    X(std::string, producerTaxID)                                                                            \
    X(std::string, installation, Uuid::random().text())                                                      \
    X(std::string, certificateFingerprint)                                                                   \
    X(std::optional<Bytes>, declaration)

struct FiscalSettings {
    PIZZACORE_RECORD(FiscalSettings, PIZZACORE_FISCAL_SETTINGS_FIELDS)
};

// The kind of an invoice, stored as the tax agency's invoice type code.
enum class InvoiceKind { full, simplified, correction, simplifiedCorrection };

template <>
struct EnumCases<InvoiceKind> {
    static constexpr std::array<std::pair<InvoiceKind, std::string_view>, 4> cases{{
        {InvoiceKind::full, "F1"},
        {InvoiceKind::simplified, "F2"},
        {InvoiceKind::correction, "R4"},
        {InvoiceKind::simplifiedCorrection, "R5"},
    }};
};

// The name of the kind shown to the operator.
constexpr std::string_view title(InvoiceKind kind) {
    switch (kind) {
    case InvoiceKind::full:
        return "Factura completa";
    case InvoiceKind::simplified:
        return "Factura simplificada";
    case InvoiceKind::correction:
        return "Factura rectificativa";
    case InvoiceKind::simplifiedCorrection:
        return "Rectificativa simplificada";
    }
    return {};
}

// Whether the kind corrects an issued invoice (and so needs its identifier and a reason).
constexpr bool rectifies(InvoiceKind kind) {
    return kind == InvoiceKind::correction || kind == InvoiceKind::simplifiedCorrection;
}

// Whether the kind names its recipient (name, tax number and address).
constexpr bool requiresRecipient(InvoiceKind kind) {
    return kind == InvoiceKind::full || kind == InvoiceKind::correction;
}

// One concept of a proposal. `unitGross` includes tax; `rate` −1 means no rate chosen yet.
#define PIZZACORE_FISCAL_LINE_FIELDS(X)                                                                      \
    X(Uuid, id, Uuid::random())                                                                              \
    X(std::string, description)                                                                              \
    X(std::int64_t, quantity, 1)                                                                             \
    X(std::int64_t, unitGross, 0)                                                                            \
    X(std::int64_t, rate, -1)

struct FiscalLine {
    PIZZACORE_RECORD(FiscalLine, PIZZACORE_FISCAL_LINE_FIELDS)

    // Amounts in cents. Prices include tax: gross = quantity × unitGross; the net is derived
    // from the gross at `rate`, rounded half away from zero on the magnitude (the gross itself
    // when no rate is chosen); tax = gross − net. Within the validated bounds the arithmetic is
    // exact; far outside them the gross saturates at the 64-bit limits instead of overflowing.
    std::int64_t gross() const;
    std::int64_t net() const;
    std::int64_t tax() const;
};

// A preparatory invoice with no fiscal value; it consumes no invoice number.
#define PIZZACORE_INVOICE_PROPOSAL_FIELDS(X)                                                                 \
    X(Uuid, id, Uuid::random())                                                                              \
    X(std::optional<Uuid>, orderID)                                                                          \
    X(Instant, created, Instant::now())                                                                      \
    X(Instant, operationDate, Instant::now())                                                                \
    X(InvoiceKind, kind, InvoiceKind::full)                                                                  \
    X(std::string, recipientName)                                                                            \
    X(std::string, recipientTaxID)                                                                           \
    X(std::string, recipientAddress)                                                                         \
    X(std::string, recipientCountry, "ES")                                                                   \
    X(std::vector<FiscalLine>, lines)                                                                        \
    X(std::optional<Uuid>, correctionOf)                                                                     \
    X(std::string, reason)

struct InvoiceProposal {
    PIZZACORE_RECORD(InvoiceProposal, PIZZACORE_INVOICE_PROPOSAL_FIELDS)

    // Sums of the line amounts: the net is rounded per line, never on the total. Zero when
    // there are no lines.
    std::int64_t gross() const;
    std::int64_t net() const;
    std::int64_t tax() const;
};

// An issued invoice. Kept so that archives carry it through; never created by this version.
#define PIZZACORE_FISCAL_INVOICE_FIELDS(X)                                                                   \
    X(Uuid, id, Uuid::random())                                                                              \
    X(std::string, number)                                                                                   \
    X(Instant, date)                                                                                         \
    X(std::string, generationTime)                                                                           \
    X(FiscalSettings, settings)                                                                              \
    X(InvoiceProposal, proposal)                                                                             \
    X(std::string, previousHash)                                                                             \
    X(std::string, hash)                                                                                     \
    X(Bytes, xml)

struct FiscalInvoice {
    PIZZACORE_RECORD(FiscalInvoice, PIZZACORE_FISCAL_INVOICE_FIELDS)
};

// A fiscal event record. Kept so that archives carry it through; never created by this version.
#define PIZZACORE_FISCAL_EVENT_FIELDS(X)                                                                     \
    X(Uuid, id, Uuid::random())                                                                              \
    X(Instant, date)                                                                                         \
    X(std::string, kind)                                                                                     \
    X(std::string, detail)                                                                                   \
    X(std::string, previousHash)                                                                             \
    X(std::string, hash)                                                                                     \
    X(Bytes, xml)

struct FiscalEvent {
    PIZZACORE_RECORD(FiscalEvent, PIZZACORE_FISCAL_EVENT_FIELDS)
};

// The fiscal archive: settings, saved proposals (in order of first saving), issued invoices and
// events in chain order, and the next number of each series.
#define PIZZACORE_FISCAL_STATE_FIELDS(X)                                                                     \
    X(FiscalSettings, settings)                                                                              \
    X(std::vector<InvoiceProposal>, proposals)                                                               \
    X(std::vector<FiscalInvoice>, invoices)                                                                  \
    X(std::vector<FiscalEvent>, events)                                                                      \
    X(NumberMap, nextNumbers)

struct FiscalState {
    PIZZACORE_RECORD(FiscalState, PIZZACORE_FISCAL_STATE_FIELDS)
};

} // namespace pizzacore
