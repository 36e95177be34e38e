#pragma once

// The records the Spanish local invoicing regime keeps for each issued invoice (RegistroAlta)
// and each fiscal event (RegistroEvento), with their chained SHA-256 fingerprints, and the
// address the invoice's QR code carries. Pure functions: they read only their arguments. No
// operation calls them while issuing is switched off.

#include <PizzaCore/Fiscal/FiscalModels.hpp>
#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Foundation/Instant.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pizzacore::FiscalRecords {

// The tax agency's namespaces of registration and event records.
inline constexpr std::string_view namespaceURI =
    "https://www2.agenciatributaria.gob.es/static_files/common/internet/dep/aplicaciones/es/aeat/tike/"
    "cont/ws/SuministroInformacion.xsd";
inline constexpr std::string_view eventNamespaceURI =
    "https://www2.agenciatributaria.gob.es/static_files/common/internet/dep/aplicaciones/es/aeat/tike/"
    "cont/ws/EventosSIF.xsd";

// A built record: its UTF-8 XML and its fingerprint.
struct Record {
    Bytes xml;
    std::string hash;

    bool operator==(const Record&) const = default;
};

// The registration record of an invoice issued from `proposal` under `number`, with expedition
// date `date` ("dd-MM-yyyy") and generation time `timestamp` (for example
// "2024-05-01T10:20:30+02:00"), chained to `previous` (the last invoice of the chain, if any);
// `original` is the invoice a corrective kind corrects. Throws PCError, before producing
// anything, for a proposal or settings that cannot make a record the tax agency accepts.
Record alta(const InvoiceProposal& proposal, const FiscalSettings& settings, std::string_view number,
            std::string_view date, std::string_view timestamp, const std::optional<FiscalInvoice>& previous,
            const std::optional<FiscalInvoice>& original);

// The event record of kind `kind` ("01", "02", "07" or "90") generated at `timestamp`, chained
// to `previous` (the last event, if any) whose generation time text is `previousTimestamp`.
Record event(const FiscalSettings& settings, std::string_view kind, std::string_view timestamp,
             std::string_view detail, const std::optional<FiscalEvent>& previous,
             std::string_view previousTimestamp);

// The tax agency's validation address for an invoice outside VERI*FACTU, on its test host when
// `testing` is true. Never throws.
std::optional<std::string> qrURL(std::string_view taxID, std::string_view number, std::string_view date,
                                 std::int64_t total, bool testing);

// The date of an instant as "dd-MM-yyyy" in Europe/Madrid. Throws PCError for an instant whose
// year does not have four digits.
std::string dateText(Instant instant);

} // namespace pizzacore::FiscalRecords
