#include <PizzaCore/Models/FiscalMoney.hpp>
#include <PizzaCore/Fiscal/FiscalRecords.hpp>
#include <PizzaCore/Fiscal/FiscalRules.hpp>
#include <PizzaCore/Fiscal/FiscalSignature.hpp>
#include <PizzaCore/Foundation/PCError.hpp>

#include "RecordText.hpp"

#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/utf8.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

namespace pizzacore::FiscalRecords {
namespace {

constexpr const char* profileMessage =
    "Este constructor de registros está limitado al perfil español en EUR y "
    "requiere los datos del productor.";
constexpr const char* originalMessage = "Falta la factura original para rectificar.";
constexpr const char* foreignMessage =
    "Identificación de destinatarios extranjeros pendiente de validación del perfil.";
constexpr const char* eventKindMessage =
    "Este tipo de evento requiere un bloque específico todavía pendiente de validación.";
// Where a value the rules accept would give a record the tax agency's schema rejects.
constexpr const char* textMessage =
    "Los datos del registro contienen caracteres de control o texto no válido, que un registro fiscal no "
    "puede llevar.";
constexpr const char* ratesMessage = "Un registro fiscal admite como máximo 12 tipos impositivos distintos.";
constexpr const char* nameMessage =
    "Los nombres del emisor, del destinatario y del productor admiten como máximo 120 caracteres.";
constexpr const char* taxIDMessage = "Los números de identificación fiscal deben tener 9 caracteres.";
constexpr const char* numberMessage = "El número de factura debe tener entre 1 y 60 caracteres.";
constexpr const char* installationMessage = "El número de instalación admite como máximo 100 caracteres.";
constexpr const char* dateMessage = "La fecha de expedición debe tener el formato DD-MM-AAAA.";
constexpr const char* timestampMessage =
    "La fecha y hora de generación debe tener el formato AAAA-MM-DDThh:mm:ss con su zona horaria.";
constexpr const char* chainMessage = "Los datos del registro anterior de la cadena no son válidos.";
constexpr const char* rangeMessage = "La fecha queda fuera del intervalo admitido.";

constexpr std::string_view systemName = "Velmora";
constexpr std::string_view systemID = "VM";
constexpr std::string_view systemVersion = "1.1.0";
constexpr std::size_t maximumRates = 12;
constexpr std::size_t maximumName = 120;
constexpr std::size_t taxIDLength = 9;
constexpr std::size_t maximumNumber = 60;
constexpr std::size_t maximumInstallation = 100;
constexpr std::size_t maximumDescription = 500;
constexpr std::size_t maximumDetail = 100;

bool isAcceptedEventKind(std::string_view kind) {
    return kind == "01" || kind == "02" || kind == "07" || kind == "90";
}

// The event type codes of the agency's schema, for the previous event of a chain.
bool isSchemaEventKind(std::string_view kind) {
    static constexpr std::array<std::string_view, 11> kinds{"01", "02", "03", "04", "05", "06",
                                                            "07", "08", "09", "10", "90"};
    for (const std::string_view known : kinds)
        if (known == kind) return true;
    return false;
}

void require(bool condition, const char* message) {
    if (!condition) throw PCError::invalid(message);
}

void requireText(std::initializer_list<std::string_view> values) {
    for (const std::string_view value : values)
        require(RecordText::isXMLText(value), textMessage);
}

void requireName(std::string_view name) {
    require(RecordText::codePoints(name) <= maximumName, nameMessage);
}

void requireTaxID(std::string_view taxID) {
    require(RecordText::codePoints(taxID) == taxIDLength, taxIDMessage);
}

void requireNumber(std::string_view number) {
    const std::size_t length = RecordText::codePoints(number);
    require(length >= 1 && length <= maximumNumber, numberMessage);
}

// Writes the elements of one record, all with the same prefix, with no white space between them.
class Writer {
public:
    explicit Writer(std::string_view prefix)
        : prefix_(prefix) {}

    void tag(std::string_view name, std::string_view value) {
        open(name);
        out_ += FiscalSignature::escape(value);
        close(name);
    }
    void open(std::string_view name) {
        out_.append("<").append(prefix_).append(":").append(name).append(">");
    }
    void close(std::string_view name) {
        out_.append("</").append(prefix_).append(":").append(name).append(">");
    }
    void raw(std::string_view text) { out_ += text; }
    std::string& text() { return out_; }

private:
    std::string_view prefix_;
    std::string out_;
};

void system(Writer& writer, const FiscalSettings& settings) {
    writer.open("SistemaInformatico");
    writer.tag("NombreRazon", settings.producerName);
    writer.tag("NIF", settings.producerTaxID);
    writer.tag("NombreSistemaInformatico", systemName);
    writer.tag("IdSistemaInformatico", systemID);
    writer.tag("Version", systemVersion);
    writer.tag("NumeroInstalacion", settings.installation);
    writer.tag("TipoUsoPosibleSoloVerifactu", "N");
    writer.tag("TipoUsoPosibleMultiOT", "N");
    writer.tag("IndicadorMultiplesOT", "N");
    writer.close("SistemaInformatico");
}

// What every record says about the software that made it.
void requireSystem(const FiscalSettings& settings) {
    requireText({settings.producerName, settings.producerTaxID, settings.installation});
    requireName(settings.producerName);
    requireTaxID(settings.producerTaxID);
    require(RecordText::codePoints(settings.installation) <= maximumInstallation, installationMessage);
}

// The operation description: the reason of a correction, otherwise the line descriptions.
std::string description(const InvoiceProposal& proposal) {
    if (rectifies(proposal.kind)) return proposal.reason;
    std::string joined;
    for (std::size_t i = 0; i < proposal.lines.size(); ++i) {
        if (i > 0) joined += "; ";
        joined += proposal.lines[i].description;
    }
    return joined;
}

// Every value of a registration record that the proposal rules let through but the agency's
// schema would not. Checked after the record's own rules, before anything is written.
void requireSchemaFit(const InvoiceProposal& proposal, const FiscalSettings& settings,
                      std::string_view number, std::string_view date, std::string_view timestamp,
                      const std::string& operation, const std::optional<FiscalInvoice>& previous,
                      const std::optional<FiscalInvoice>& original) {
    const bool recipient = requiresRecipient(proposal.kind);
    requireText({settings.issuerTaxID, settings.issuerName, number, date, timestamp, operation});
    if (recipient) requireText({proposal.recipientName, proposal.recipientTaxID});
    requireSystem(settings);

    std::map<std::int64_t, bool> rates;
    for (const FiscalLine& line : proposal.lines)
        rates[line.rate] = true;
    require(rates.size() <= maximumRates, ratesMessage);

    requireName(settings.issuerName);
    if (recipient) requireName(proposal.recipientName);
    requireTaxID(settings.issuerTaxID);
    if (recipient) requireTaxID(proposal.recipientTaxID);
    requireNumber(number);
    require(RecordText::isDate(date), dateMessage);
    require(RecordText::isTimestamp(timestamp), timestampMessage);

    for (const auto* invoice : {previous ? &*previous : nullptr, original ? &*original : nullptr}) {
        if (!invoice) continue;
        const bool valid = RecordText::isXMLText(invoice->settings.issuerTaxID) &&
                           RecordText::isXMLText(invoice->number) &&
                           RecordText::codePoints(invoice->settings.issuerTaxID) == taxIDLength &&
                           RecordText::codePoints(invoice->number) >= 1 &&
                           RecordText::codePoints(invoice->number) <= maximumNumber;
        require(valid, chainMessage);
    }
    if (previous) require(RecordText::isFingerprint(previous->hash), chainMessage);
}

} // namespace

std::string dateText(Instant instant) {
    const double milliseconds = instant.unixSeconds() * 1000.0;
    if (!std::isfinite(milliseconds)) throw PCError::invalid(rangeMessage);
    UErrorCode status = U_ZERO_ERROR;
    icu::GregorianCalendar calendar(icu::TimeZone::createTimeZone("Europe/Madrid"),
                                    icu::Locale("en_US_POSIX"), status);
    calendar.setTime(milliseconds, status);
    const std::int32_t era = calendar.get(UCAL_ERA, status);
    const std::int32_t year = calendar.get(UCAL_YEAR, status);
    const std::int32_t month = calendar.get(UCAL_MONTH, status) + 1;
    const std::int32_t day = calendar.get(UCAL_DATE, status);
    if (U_FAILURE(status) || era != icu::GregorianCalendar::AD || year < 1 || year > 9999)
        throw PCError::invalid(rangeMessage);
    char text[40];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d", static_cast<int>(day), static_cast<int>(month),
                  static_cast<int>(year));
    return text;
}

Record alta(const InvoiceProposal& proposal, const FiscalSettings& settings, std::string_view number,
            std::string_view date, std::string_view timestamp, const std::optional<FiscalInvoice>& previous,
            const std::optional<FiscalInvoice>& original) {
    FiscalRules::validate(proposal, settings, true);
    require(settings.country == "ES" && settings.currency == "EUR" && !settings.producerName.empty() &&
                !settings.producerTaxID.empty(),
            profileMessage);
    const bool rectifying = rectifies(proposal.kind);
    if (rectifying)
        require(original && proposal.correctionOf && original->id == *proposal.correctionOf, originalMessage);
    if (requiresRecipient(proposal.kind)) require(proposal.recipientCountry == "ES", foreignMessage);

    const std::string joined = description(proposal);
    requireSchemaFit(proposal, settings, number, date, timestamp, joined, previous, original);
    // Dates of other instants are worked out before anything is written, so that an instant
    // out of range refuses the record instead of leaving it half made.
    const std::string operationDate = dateText(proposal.operationDate);
    const std::string originalDate = rectifying ? dateText(original->date) : std::string();
    const std::string previousDate = previous ? dateText(previous->date) : std::string();

    const std::string_view kind = rawValue(proposal.kind);
    const std::string tax = FiscalMoney::decimal(proposal.tax());
    const std::string total = FiscalMoney::decimal(proposal.gross());
    const std::string_view previousHash = previous ? std::string_view(previous->hash) : std::string_view();
    std::string hash =
        FiscalRules::altaHash(settings.issuerTaxID, number, date, kind, tax, total, previousHash, timestamp);

    Writer w("sf");
    w.raw("<sf:RegistroAlta xmlns:sf=\"");
    w.raw(namespaceURI);
    w.raw("\">");
    w.tag("IDVersion", "1.0");
    w.open("IDFactura");
    w.tag("IDEmisorFactura", settings.issuerTaxID);
    w.tag("NumSerieFactura", number);
    w.tag("FechaExpedicionFactura", date);
    w.close("IDFactura");
    w.tag("RefExterna", proposal.id.text());
    w.tag("NombreRazonEmisor", settings.issuerName);
    w.tag("TipoFactura", kind);
    if (rectifying) {
        w.tag("TipoRectificativa", "I");
        w.open("FacturasRectificadas");
        w.open("IDFacturaRectificada");
        w.tag("IDEmisorFactura", original->settings.issuerTaxID);
        w.tag("NumSerieFactura", original->number);
        w.tag("FechaExpedicionFactura", originalDate);
        w.close("IDFacturaRectificada");
        w.close("FacturasRectificadas");
    }
    w.tag("FechaOperacion", operationDate);
    w.tag("DescripcionOperacion", RecordText::cut(joined, maximumDescription));
    if (requiresRecipient(proposal.kind)) {
        w.open("Destinatarios");
        w.open("IDDestinatario");
        w.tag("NombreRazon", proposal.recipientName);
        w.tag("NIF", proposal.recipientTaxID);
        w.close("IDDestinatario");
        w.close("Destinatarios");
    }

    // One breakdown per distinct rate, in ascending order, each summing its lines' own amounts.
    std::map<std::int64_t, std::pair<std::int64_t, std::int64_t>> byRate;
    for (const FiscalLine& line : proposal.lines) {
        auto& [net, lineTax] = byRate[line.rate];
        net += line.net();
        lineTax += line.tax();
    }
    w.open("Desglose");
    for (const auto& [rate, sums] : byRate) {
        w.open("DetalleDesglose");
        w.tag("Impuesto", "01");
        w.tag("ClaveRegimen", "01");
        w.tag("CalificacionOperacion", "S1");
        w.tag("TipoImpositivo", FiscalMoney::decimal(rate));
        w.tag("BaseImponibleOimporteNoSujeto", FiscalMoney::decimal(sums.first));
        w.tag("CuotaRepercutida", FiscalMoney::decimal(sums.second));
        w.close("DetalleDesglose");
    }
    w.close("Desglose");
    w.tag("CuotaTotal", tax);
    w.tag("ImporteTotal", total);
    w.open("Encadenamiento");
    if (previous) {
        w.open("RegistroAnterior");
        w.tag("IDEmisorFactura", previous->settings.issuerTaxID);
        w.tag("NumSerieFactura", previous->number);
        w.tag("FechaExpedicionFactura", previousDate);
        w.tag("Huella", previous->hash);
        w.close("RegistroAnterior");
    } else {
        w.tag("PrimerRegistro", "S");
    }
    w.close("Encadenamiento");
    system(w, settings);
    w.tag("FechaHoraHusoGenRegistro", timestamp);
    w.tag("TipoHuella", "01");
    w.tag("Huella", hash);
    w.raw("</sf:RegistroAlta>");
    const std::string& text = w.text();
    return {Bytes(text.begin(), text.end()), std::move(hash)};
}

Record event(const FiscalSettings& settings, std::string_view kind, std::string_view timestamp,
             std::string_view detail, const std::optional<FiscalEvent>& previous,
             std::string_view previousTimestamp) {
    require(isAcceptedEventKind(kind), eventKindMessage);

    requireText({settings.issuerName, settings.issuerTaxID, timestamp, detail});
    requireSystem(settings);
    requireName(settings.issuerName);
    requireTaxID(settings.issuerTaxID);
    require(RecordText::isTimestamp(timestamp), timestampMessage);
    if (previous)
        require(isSchemaEventKind(previous->kind) && RecordText::isTimestamp(previousTimestamp) &&
                    RecordText::isFingerprint(previous->hash),
                chainMessage);

    const std::string_view previousHash = previous ? std::string_view(previous->hash) : std::string_view();
    std::string input;
    input.append("NIF=").append(settings.producerTaxID);
    input.append("&ID=&IdSistemaInformatico=VM&Version=1.1.0&NumeroInstalacion=")
        .append(settings.installation);
    input.append("&NIF=").append(settings.issuerTaxID);
    input.append("&TipoEvento=").append(kind);
    input.append("&HuellaEvento=").append(previousHash);
    input.append("&FechaHoraHusoGenEvento=").append(timestamp);
    std::string hash = FiscalRules::hash(input);

    Writer w("ev");
    w.raw("<ev:RegistroEvento xmlns:ev=\"");
    w.raw(eventNamespaceURI);
    w.raw("\">");
    w.tag("IDVersion", "1.0");
    w.open("Evento");
    system(w, settings);
    w.open("ObligadoEmision");
    w.tag("NombreRazon", settings.issuerName);
    w.tag("NIF", settings.issuerTaxID);
    w.close("ObligadoEmision");
    w.tag("FechaHoraHusoGenEvento", timestamp);
    w.tag("TipoEvento", kind);
    w.tag("OtrosDatosEvento", RecordText::cut(detail, maximumDetail));
    w.open("Encadenamiento");
    if (previous) {
        w.open("EventoAnterior");
        w.tag("TipoEvento", previous->kind);
        w.tag("FechaHoraHusoGenEvento", previousTimestamp);
        w.tag("HuellaEvento", previous->hash);
        w.close("EventoAnterior");
    } else {
        w.tag("PrimerEvento", "S");
    }
    w.close("Encadenamiento");
    w.tag("TipoHuella", "01");
    w.tag("HuellaEvento", hash);
    w.close("Evento");
    w.raw("</ev:RegistroEvento>");
    const std::string& text = w.text();
    return {Bytes(text.begin(), text.end()), std::move(hash)};
}

std::optional<std::string> qrURL(std::string_view taxID, std::string_view number, std::string_view date,
                                 std::int64_t total, bool testing) {
    // Letters and digits of any script stay as they are in the Part's allowed set, but an address
    // can only carry ASCII: every other character is written as its percent-encoded UTF-8 bytes,
    // so the address is always one the QR reader can open. Text that is not UTF-8 cannot be
    // encoded and gives an empty value.
    const auto encode = [](std::string_view value) {
        std::string out;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(value.data());
        const auto length = static_cast<std::int64_t>(value.size());
        for (std::int64_t i = 0; i < length;) {
            UChar32 c = 0;
            U8_NEXT(bytes, i, length, c);
            if (c < 0) return out;
        }
        constexpr char digits[] = "0123456789ABCDEF";
        for (const char ch : value) {
            const auto byte = static_cast<unsigned char>(ch);
            const bool allowed = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                 (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                                 byte == '~';
            if (allowed) {
                out.push_back(ch);
            } else {
                out.push_back('%');
                out.push_back(digits[byte >> 4]);
                out.push_back(digits[byte & 15]);
            }
        }
        return out;
    };
    std::string url = testing ? "https://prewww2.aeat.es" : "https://www2.agenciatributaria.gob.es";
    url += "/wlpl/TIKE-CONT/ValidarQRNoVerifactu?";
    url.append("nif=").append(encode(taxID));
    url.append("&numserie=").append(encode(number));
    url.append("&fecha=").append(encode(date));
    url.append("&importe=").append(encode(FiscalMoney::decimal(total)));
    return url;
}

} // namespace pizzacore::FiscalRecords
