// Registration and event records: element order, escaping, the breakdown by rate, the chain and
// its fingerprints, the QR address, the refusals where a record would not fit the tax agency's
// schema, and a property test that every record the builders return passes that schema.

#include "FiscalTestSupport.hpp"

#include <PizzaCore/PizzaCore.hpp>
#include <support/Refusal.hpp>

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>

using namespace pizzacore;
using pizzacore::testing::failure;
using pizzacore::testing::Schema;
using pizzacore::testing::schemaErrors;
using pizzacore::testing::textOf;

namespace {

const std::string timestamp = "2025-02-23T13:45:10+01:00";
const std::string profileMessage = "Este constructor de registros está limitado al perfil español en EUR y "
                                   "requiere los datos del productor.";
const std::string foreignMessage =
    "Identificación de destinatarios extranjeros pendiente de validación del perfil.";
const std::string textMessage =
    "Los datos del registro contienen caracteres de control o texto no válido, que un "
    "registro fiscal no puede llevar.";

std::string between(const std::string& text, const std::string& open, const std::string& close) {
    const std::size_t start = text.find(open);
    if (start == std::string::npos) return "<ausente>";
    const std::size_t end = text.find(close, start + open.size());
    return text.substr(start + open.size(), end - start - open.size());
}

std::size_t count(const std::string& text, const std::string& piece) {
    std::size_t n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

FiscalInvoice issued(const FiscalRecords::Record& record, const std::string& number, Instant date) {
    FiscalInvoice invoice;
    invoice.number = number;
    invoice.date = date;
    invoice.settings = pizzacore::testing::sampleSettings();
    invoice.hash = record.hash;
    invoice.xml = record.xml;
    return invoice;
}

} // namespace

TEST(FiscalHash, IsUpperCaseSHA256AndChainsThePreviousFingerprint) {
    EXPECT_EQ(FiscalRules::hash("abc"), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
    // The first record: "&Huella=" directly followed by the generation time.
    EXPECT_EQ(
        FiscalRules::altaHash("B12345678", "F1", "01-03-2025", "F1", "1.00", "11.00", "", timestamp),
        FiscalRules::hash("IDEmisorFactura=B12345678&NumSerieFactura=F1&FechaExpedicionFactura=01-03-2025"
                          "&TipoFactura=F1&CuotaTotal=1.00&ImporteTotal=11.00&Huella="
                          "&FechaHoraHusoGenRegistro=" +
                          timestamp));
}

TEST(FiscalRecords, RegistrationRecordIsTheExactTextWithItsFingerprint) {
    const FiscalSettings settings = pizzacore::testing::sampleSettings();
    const InvoiceProposal proposal = pizzacore::testing::sampleProposal();
    const auto record = FiscalRecords::alta(proposal, settings, "F-2025/1", "23-02-2025", timestamp, {}, {});
    const std::string xml = textOf(record.xml);

    // 2 × 12.50 at 10 % and 3 × 2.50 at 21 %: nets 22.73 and 6.20, taxes 2.27 and 1.30.
    EXPECT_EQ(record.hash, FiscalRules::altaHash("B12345678", "F-2025/1", "23-02-2025", "F1", "3.57", "32.50",
                                                 "", timestamp));
    const std::string expected =
        "<sf:RegistroAlta xmlns:sf=\"" + std::string(FiscalRecords::namespaceURI) +
        "\"><sf:IDVersion>1.0</sf:IDVersion><sf:IDFactura><sf:IDEmisorFactura>B12345678</sf:IDEmisorFactura>"
        "<sf:NumSerieFactura>F-2025/1</sf:NumSerieFactura><sf:FechaExpedicionFactura>23-02-2025"
        "</sf:FechaExpedicionFactura></sf:IDFactura><sf:RefExterna>0E4D2C3B-1A2B-4C3D-8E4F-5A6B7C8D9E0F"
        "</sf:RefExterna><sf:NombreRazonEmisor>Pizzería Ñandú, S.L.</sf:NombreRazonEmisor><sf:TipoFactura>F1"
        "</sf:TipoFactura><sf:FechaOperacion>23-02-2025</sf:FechaOperacion><sf:DescripcionOperacion>"
        "Pizza margarita; "
        "Refresco</sf:DescripcionOperacion><sf:Destinatarios><sf:IDDestinatario><sf:NombreRazon>"
        "Eventos García "
        "S.L.</sf:NombreRazon><sf:NIF>B87654321</sf:NIF></sf:IDDestinatario></sf:Destinatarios>"
        "<sf:Desglose><sf:DetalleDesglose><sf:Impuesto>01</sf:Impuesto><sf:ClaveRegimen>01</sf:ClaveRegimen>"
        "<sf:CalificacionOperacion>S1</sf:CalificacionOperacion><sf:TipoImpositivo>10.00</sf:TipoImpositivo>"
        "<sf:BaseImponibleOimporteNoSujeto>22.73</sf:BaseImponibleOimporteNoSujeto><sf:CuotaRepercutida>2.27"
        "</sf:CuotaRepercutida></sf:DetalleDesglose><sf:DetalleDesglose><sf:Impuesto>01</sf:Impuesto>"
        "<sf:ClaveRegimen>01</sf:ClaveRegimen><sf:CalificacionOperacion>S1</sf:CalificacionOperacion>"
        "<sf:TipoImpositivo>21.00</sf:TipoImpositivo><sf:BaseImponibleOimporteNoSujeto>6.20"
        "</sf:BaseImponibleOimporteNoSujeto><sf:CuotaRepercutida>1.30</sf:CuotaRepercutida></"
        "sf:DetalleDesglose>"
        "</sf:Desglose><sf:CuotaTotal>3.57</sf:CuotaTotal><sf:ImporteTotal>32.50</sf:ImporteTotal>"
        "<sf:Encadenamiento><sf:PrimerRegistro>S</sf:PrimerRegistro></"
        "sf:Encadenamiento><sf:SistemaInformatico>"
        "<sf:NombreRazon>Velmora Software S.L.</sf:NombreRazon><sf:NIF>A87654321</sf:NIF>"
        "<sf:NombreSistemaInformatico>Velmora</sf:NombreSistemaInformatico><sf:IdSistemaInformatico>VM"
        "</sf:IdSistemaInformatico><sf:Version>1.1.0</sf:Version><sf:NumeroInstalacion>"
        "6F1C2A4E-8B3D-4C5E-9F60-718293A4B5C6</sf:NumeroInstalacion><sf:TipoUsoPosibleSoloVerifactu>N"
        "</sf:TipoUsoPosibleSoloVerifactu><sf:TipoUsoPosibleMultiOT>N</sf:TipoUsoPosibleMultiOT>"
        "<sf:IndicadorMultiplesOT>N</sf:IndicadorMultiplesOT></sf:SistemaInformatico>"
        "<sf:FechaHoraHusoGenRegistro>" +
        timestamp + "</sf:FechaHoraHusoGenRegistro><sf:TipoHuella>01</sf:TipoHuella><sf:Huella>" +
        record.hash + "</sf:Huella></sf:RegistroAlta>";
    EXPECT_EQ(xml, expected);
    EXPECT_EQ(schemaErrors(record.xml, Schema::registration), std::vector<std::string>{});
}

TEST(FiscalRecords, ChainedRecordNamesThePreviousOneAndHashesItsFingerprint) {
    const FiscalSettings settings = pizzacore::testing::sampleSettings();
    const auto first = FiscalRecords::alta(pizzacore::testing::sampleProposal(), settings, "F-2025/1",
                                           "23-02-2025", timestamp, {}, {});
    const FiscalInvoice previous = issued(first, "F-2025/1", Instant{762000000});
    const auto second = FiscalRecords::alta(pizzacore::testing::sampleProposal(), settings, "F-2025/2",
                                            "23-02-2025", timestamp, previous, {});
    const std::string xml = textOf(second.xml);
    EXPECT_EQ(count(xml, "PrimerRegistro"), 0u);
    EXPECT_EQ(
        between(xml, "<sf:RegistroAnterior>", "</sf:RegistroAnterior>"),
        "<sf:IDEmisorFactura>B12345678</sf:IDEmisorFactura><sf:NumSerieFactura>F-2025/1</sf:NumSerieFactura>"
        "<sf:FechaExpedicionFactura>23-02-2025</sf:FechaExpedicionFactura><sf:Huella>" +
            first.hash + "</sf:Huella>");
    EXPECT_EQ(second.hash, FiscalRules::altaHash("B12345678", "F-2025/2", "23-02-2025", "F1", "3.57", "32.50",
                                                 first.hash, timestamp));
    EXPECT_EQ(schemaErrors(second.xml, Schema::registration), std::vector<std::string>{});
}

TEST(FiscalRecords, EscapesValuesAmpersandFirstAndGroupsRatesInAscendingOrder) {
    FiscalSettings settings = pizzacore::testing::sampleSettings();
    settings.issuerName = "Pizza & <Pasta> \"Luigi's\" &amp;";
    InvoiceProposal proposal = pizzacore::testing::sampleProposal(InvoiceKind::simplified);
    proposal.lines = {FiscalLine{Uuid::random(), "A", 1, 1000, 2100},
                      FiscalLine{Uuid::random(), "B", 1, 1000, 1000},
                      FiscalLine{Uuid::random(), "C", 1, 1000, 2100}};
    const std::string xml =
        textOf(FiscalRecords::alta(proposal, settings, "S-1", "23-02-2025", timestamp, {}, {}).xml);
    EXPECT_EQ(between(xml, "<sf:NombreRazonEmisor>", "</sf:NombreRazonEmisor>"),
              "Pizza &amp; &lt;Pasta&gt; &quot;Luigi&apos;s&quot; &amp;amp;");
    EXPECT_EQ(count(xml, "<sf:DetalleDesglose>"), 2u);
    EXPECT_LT(xml.find("<sf:TipoImpositivo>10.00"), xml.find("<sf:TipoImpositivo>21.00"));
    EXPECT_EQ(between(xml, "<sf:TipoImpositivo>21.00</sf:TipoImpositivo>", "</sf:DetalleDesglose>"),
              "<sf:BaseImponibleOimporteNoSujeto>16.52</sf:BaseImponibleOimporteNoSujeto>"
              "<sf:CuotaRepercutida>3.48</sf:CuotaRepercutida>");
    // A simplified invoice names no recipient even when the fields are filled.
    EXPECT_EQ(count(xml, "Destinatarios"), 0u);
}

TEST(FiscalRecords, CorrectionNamesTheOriginalInvoice) {
    const FiscalSettings settings = pizzacore::testing::sampleSettings();
    const auto first = FiscalRecords::alta(pizzacore::testing::sampleProposal(), settings, "F-2025/1",
                                           "23-02-2025", timestamp, {}, {});
    FiscalInvoice original = issued(first, "F-2025/1", Instant{762000000});
    InvoiceProposal correction = pizzacore::testing::sampleProposal(InvoiceKind::correction);
    correction.lines[0].quantity = -1;
    EXPECT_EQ(failure([&] {
                  FiscalRecords::alta(correction, settings, "R-1", "24-02-2025", timestamp, original, {});
              }),
              "Falta la factura original para rectificar.");
    correction.correctionOf = original.id;
    const auto record =
        FiscalRecords::alta(correction, settings, "R-1", "24-02-2025", timestamp, original, original);
    const std::string xml = textOf(record.xml);
    EXPECT_NE(xml.find("<sf:TipoFactura>R4</sf:TipoFactura><sf:TipoRectificativa>I</sf:TipoRectificativa>"
                       "<sf:FacturasRectificadas><sf:IDFacturaRectificada><sf:IDEmisorFactura>B12345678"),
              std::string::npos);
    EXPECT_EQ(between(xml, "<sf:DescripcionOperacion>", "<"), "Error en el precio");
    EXPECT_EQ(between(xml, "<sf:CuotaTotal>", "<"), "0.16"); // −1.14 at 10 % and 1.30 at 21 %
    EXPECT_EQ(schemaErrors(record.xml, Schema::registration), std::vector<std::string>{});
}

TEST(FiscalRecords, RefusesWhatTheProfileOrTheSchemaCannotTake) {
    struct Case {
        const char* what;
        std::function<void(FiscalSettings&, InvoiceProposal&, std::string&, std::string&, std::string&)>
            change;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"país", [](auto& s, auto&, auto&, auto&, auto&) { s.country = "PT"; }, profileMessage},
        {"moneda", [](auto& s, auto&, auto&, auto&, auto&) { s.currency = "USD"; }, profileMessage},
        {"productor", [](auto& s, auto&, auto&, auto&, auto&) { s.producerTaxID.clear(); }, profileMessage},
        {"extranjero", [](auto&, auto& p, auto&, auto&, auto&) { p.recipientCountry = "FR"; },
         foreignMessage},
        {"emisor incompleto", [](auto& s, auto&, auto&, auto&, auto&) { s.issuerAddress.clear(); },
         "Completa los datos fiscales del emisor."},
        {"control", [](auto& s, auto&, auto&, auto&, auto&) { s.issuerName = "Pizza\x01"; }, textMessage},
        {"control en concepto", [](auto&, auto& p, auto&, auto&, auto&) { p.lines[0].description = "a\x1f"; },
         textMessage},
        {"UTF-8 roto", [](auto&, auto&, auto& n, auto&, auto&) { n = "F\xC3"; }, textMessage},
        {"13 tipos",
         [](auto&, auto& p, auto&, auto&, auto&) {
             p.lines.clear();
             for (int rate = 0; rate < 13; ++rate)
                 p.lines.push_back(FiscalLine{Uuid::random(), "x", 1, 100, rate * 100});
         },
         "Un registro fiscal admite como máximo 12 tipos impositivos distintos."},
        {"nombre largo", [](auto&, auto& p, auto&, auto&, auto&) { p.recipientName = std::string(121, 'n'); },
         "Los nombres del emisor, del destinatario y del productor admiten como máximo 120 caracteres."},
        {"NIF corto", [](auto& s, auto&, auto&, auto&, auto&) { s.issuerTaxID = "B1234567"; },
         "Los números de identificación fiscal deben tener 9 caracteres."},
        {"número vacío", [](auto&, auto&, auto& n, auto&, auto&) { n.clear(); },
         "El número de factura debe tener entre 1 y 60 caracteres."},
        {"número largo", [](auto&, auto&, auto& n, auto&, auto&) { n = std::string(61, '1'); },
         "El número de factura debe tener entre 1 y 60 caracteres."},
        {"instalación", [](auto& s, auto&, auto&, auto&, auto&) { s.installation = std::string(101, 'i'); },
         "El número de instalación admite como máximo 100 caracteres."},
        {"fecha", [](auto&, auto&, auto&, auto& d, auto&) { d = "2025-02-23"; },
         "La fecha de expedición debe tener el formato DD-MM-AAAA."},
        {"30 de febrero", [](auto&, auto&, auto&, auto& d, auto&) { d = "30-02-2025"; },
         "La fecha de expedición debe tener el formato DD-MM-AAAA."},
        {"sin zona", [](auto&, auto&, auto&, auto&, auto& t) { t = "2025-02-23T13:45:10"; },
         "La fecha y hora de generación debe tener el formato AAAA-MM-DDThh:mm:ss con su zona horaria."},
    };
    for (const Case& c : cases) {
        FiscalSettings settings = pizzacore::testing::sampleSettings();
        InvoiceProposal proposal = pizzacore::testing::sampleProposal();
        std::string number = "F-1", date = "23-02-2025", time = timestamp;
        c.change(settings, proposal, number, date, time);
        EXPECT_EQ(failure([&] { FiscalRecords::alta(proposal, settings, number, date, time, {}, {}); }),
                  c.message)
            << c.what;
    }
}

TEST(FiscalRecords, LongTextsAreCutAtCharacterBoundariesWithinTheSchemaLimit) {
    // 499 "a", then "é" written as e + combining accent: 500 user-perceived characters (the
    // proposal rules accept them) but 501 code points. The cut keeps whole characters only.
    InvoiceProposal proposal = pizzacore::testing::sampleProposal(InvoiceKind::simplified);
    proposal.lines = {FiscalLine{Uuid::random(), std::string(499, 'a') + "e\xCC\x81", 1, 100, 1000}};
    auto record = FiscalRecords::alta(proposal, pizzacore::testing::sampleSettings(), "S-1", "23-02-2025",
                                      timestamp, {}, {});
    EXPECT_EQ(between(textOf(record.xml), "<sf:DescripcionOperacion>", "<"), std::string(499, 'a'));
    EXPECT_EQ(schemaErrors(record.xml, Schema::registration), std::vector<std::string>{});

    // Descriptions joined past 500 characters: cut to exactly 500 code points.
    proposal.lines = {FiscalLine{Uuid::random(), std::string(300, 'b'), 1, 100, 1000},
                      FiscalLine{Uuid::random(), std::string(300, 'c'), 1, 100, 1000}};
    record = FiscalRecords::alta(proposal, pizzacore::testing::sampleSettings(), "S-1", "23-02-2025",
                                 timestamp, {}, {});
    EXPECT_EQ(between(textOf(record.xml), "<sf:DescripcionOperacion>", "<"),
              std::string(300, 'b') + "; " + std::string(198, 'c'));

    // An event detail of emoji (a family is one character of seven code points).
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    std::string detail;
    for (int i = 0; i < 20; ++i)
        detail += family;
    const auto event =
        FiscalRecords::event(pizzacore::testing::sampleSettings(), "90", timestamp, detail, {}, "");
    std::string expected;
    for (int i = 0; i < 20; ++i)
        if ((i + 1) * 5 <= 100) expected += family;
    EXPECT_EQ(between(textOf(event.xml), "<ev:OtrosDatosEvento>", "<"), expected);
    EXPECT_EQ(failure([&] {
                  FiscalRecords::event(pizzacore::testing::sampleSettings(), "90", timestamp,
                                       std::string(200, 'x'), {}, "");
              }),
              std::nullopt);
}

TEST(FiscalRecords, EventRecordAndItsChain) {
    const FiscalSettings settings = pizzacore::testing::sampleSettings();
    EXPECT_EQ(failure([&] { FiscalRecords::event(settings, "03", timestamp, "", {}, ""); }),
              "Este tipo de evento requiere un bloque específico todavía pendiente de validación.");
    const auto first = FiscalRecords::event(settings, "01", timestamp, "Inicio & arranque", {}, "");
    EXPECT_EQ(first.hash,
              FiscalRules::hash("NIF=A87654321&ID=&IdSistemaInformatico=VM&Version=1.1.0"
                                "&NumeroInstalacion=6F1C2A4E-8B3D-4C5E-9F60-718293A4B5C6&NIF=B12345678"
                                "&TipoEvento=01&HuellaEvento=&FechaHoraHusoGenEvento=" +
                                timestamp));
    const std::string xml = textOf(first.xml);
    EXPECT_EQ(xml.substr(0, 40), "<ev:RegistroEvento xmlns:ev=\"https://www");
    EXPECT_NE(
        xml.find("\"><ev:IDVersion>1.0</ev:IDVersion><ev:Evento><ev:SistemaInformatico><ev:NombreRazon>"),
        std::string::npos);
    EXPECT_NE(
        xml.find(
            "</ev:SistemaInformatico><ev:ObligadoEmision><ev:NombreRazon>Pizzería Ñandú, S.L."
            "</ev:NombreRazon><ev:NIF>B12345678</ev:NIF></ev:ObligadoEmision><ev:FechaHoraHusoGenEvento>"),
        std::string::npos);
    EXPECT_NE(xml.find("<ev:TipoEvento>01</ev:TipoEvento><ev:OtrosDatosEvento>Inicio &amp; arranque"
                       "</ev:OtrosDatosEvento><ev:Encadenamiento><ev:PrimerEvento>S</ev:PrimerEvento>"
                       "</ev:Encadenamiento><ev:TipoHuella>01</ev:TipoHuella><ev:HuellaEvento>" +
                       first.hash + "</ev:HuellaEvento></ev:Evento></ev:RegistroEvento>"),
              std::string::npos);

    FiscalEvent previous;
    previous.kind = "01";
    previous.hash = first.hash;
    const auto second = FiscalRecords::event(settings, "90", "2025-02-24T09:00:00Z", "", previous, timestamp);
    EXPECT_NE(textOf(second.xml)
                  .find("<ev:EventoAnterior><ev:TipoEvento>01</ev:TipoEvento><ev:FechaHoraHusoGenEvento>" +
                        timestamp + "</ev:FechaHoraHusoGenEvento><ev:HuellaEvento>" + first.hash +
                        "</ev:HuellaEvento></ev:EventoAnterior>"),
              std::string::npos);
    EXPECT_NE(second.hash, first.hash);
    EXPECT_EQ(
        failure([&] { FiscalRecords::event(settings, "90", "2025-02-24T09:00:00Z", "", previous, "ayer"); }),
        "Los datos del registro anterior de la cadena no son válidos.");
}

TEST(FiscalRecords, QRAddressPercentEncodesItsValues) {
    EXPECT_EQ(FiscalRecords::qrURL("B12345678", "F-2025/1", "23-02-2025", 1234, true),
              "https://prewww2.aeat.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=B12345678&numserie=F-2025%2F1"
              "&fecha=23-02-2025&importe=12.34");
    EXPECT_EQ(FiscalRecords::qrURL("B12345678", "A&B ñ", "23-02-2025", -5, false),
              "https://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=B12345678"
              "&numserie=A%26B%20%C3%B1&fecha=23-02-2025&importe=-0.05");
    // Text that is not UTF-8 cannot be encoded: its value is left empty.
    EXPECT_EQ(FiscalRecords::qrURL("B12345678", "F\xFF", "23-02-2025", 0, true),
              "https://prewww2.aeat.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=B12345678&numserie="
              "&fecha=23-02-2025&importe=0.00");
}

TEST(FiscalRecords, DateTextIsTheDayInMadrid) {
    EXPECT_EQ(FiscalRecords::dateText(Instant::fromUnix(1735685999)), "31-12-2024"); // 22:59:59 UTC
    EXPECT_EQ(FiscalRecords::dateText(Instant::fromUnix(1735686000)), "01-01-2025"); // midnight in Madrid
    EXPECT_EQ(FiscalRecords::dateText(Instant::fromUnix(1719784800)), "01-07-2024"); // 22:00 UTC in summer
    EXPECT_EQ(failure([] { FiscalRecords::dateText(Instant{1e300}); }),
              "La fecha queda fuera del intervalo admitido.");
}

// Generated proposals and events: every record the builders return passes the agency's schema,
// and a refusal is always a PCError with a message.
TEST(FiscalRecords, EveryRecordTheBuildersReturnPassesTheSchema) {
    std::mt19937 random(20240516);
    const std::vector<std::string> pieces = {"Pizza",
                                             " ",
                                             "&",
                                             "<",
                                             ">",
                                             "\"",
                                             "'",
                                             "ñ",
                                             "é",
                                             "e\xCC\x81",
                                             "🍕",
                                             "👨‍👩‍👧",
                                             "\t",
                                             "\n",
                                             "\r",
                                             "\x01",
                                             "\xEF\xBF\xBE",
                                             "; ",
                                             "漢字",
                                             "\xC3"};
    const auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    const auto text = [&](std::size_t maximum, bool clean) {
        std::string out;
        const std::size_t length = pick(maximum + 1);
        for (std::size_t i = 0; i < length; ++i) {
            const std::string& piece = pieces[pick(clean ? pieces.size() - 5 : pieces.size())];
            out += piece;
        }
        return out;
    };
    const auto taxID = [&] {
        return pick(10) == 0 ? text(12, false) : "B" + std::to_string(10000000 + pick(89999999));
    };
    std::size_t built = 0, refused = 0;
    std::optional<FiscalInvoice> previous;
    for (int round = 0; round < 300; ++round) {
        const bool clean = pick(4) != 0;
        FiscalSettings settings = pizzacore::testing::sampleSettings();
        settings.issuerName = text(pick(5) == 0 ? 130 : 20, clean);
        settings.issuerTaxID = taxID();
        settings.producerName = "P" + text(10, clean);
        settings.producerTaxID = taxID();
        if (pick(6) == 0) settings.installation = text(110, clean);
        InvoiceProposal proposal =
            pizzacore::testing::sampleProposal(pick(2) ? InvoiceKind::full : InvoiceKind::simplified);
        proposal.recipientName = text(pick(5) == 0 ? 130 : 20, clean) + "x";
        proposal.recipientTaxID = taxID();
        proposal.lines.clear();
        const std::size_t lines = 1 + pick(pick(3) == 0 ? 40 : 4);
        for (std::size_t i = 0; i < lines; ++i) {
            std::string description = "x" + text(pick(3) == 0 ? 490 : 30, clean);
            proposal.lines.push_back(FiscalLine{Uuid::random(), description, 1 + std::int64_t(pick(20)),
                                                std::int64_t(pick(5000)), std::int64_t(pick(15)) * 100});
        }
        const std::string number = pick(8) == 0 ? text(70, clean) : "F-" + std::to_string(round);
        const std::string date = pick(10) == 0 ? "3" + text(9, clean) : "23-02-2025";
        const std::string time = pick(10) == 0 ? text(25, clean) : timestamp;
        try {
            const auto record = FiscalRecords::alta(proposal, settings, number, date, time, previous, {});
            ++built;
            EXPECT_EQ(schemaErrors(record.xml, Schema::registration), std::vector<std::string>{})
                << textOf(record.xml);
            previous = issued(record, number, proposal.operationDate);
            previous->settings = settings;
        } catch (const PCError& error) {
            ++refused;
            EXPECT_FALSE(error.message().empty());
        }
    }
    EXPECT_GT(built, 40u);
    EXPECT_GT(refused, 30u);

    // Events need their signature to pass the schema.
    auto& credentials = pizzacore::testing::Credentials::shared();
    std::size_t events = 0;
    std::optional<FiscalEvent> previousEvent;
    std::string previousTime;
    const std::vector<std::string> kinds = {"01", "02", "07", "90"};
    for (int round = 0; round < 40; ++round) {
        const bool clean = pick(3) != 0;
        FiscalSettings settings = pizzacore::testing::sampleSettings();
        settings.issuerName = text(20, clean);
        settings.issuerTaxID = taxID();
        const std::string time =
            "2025-03-0" + std::to_string(1 + pick(9)) + "T10:00:0" + std::to_string(pick(10)) + "Z";
        try {
            const auto record = FiscalRecords::event(settings, kinds[pick(4)], time, text(150, clean),
                                                     previousEvent, previousTime);
            const Bytes signedRecord = FiscalSignature::sign(
                record.xml, credentials.key(), credentials.standard(), pizzacore::testing::signingTime());
            ++events;
            EXPECT_EQ(schemaErrors(signedRecord, Schema::event), std::vector<std::string>{})
                << textOf(signedRecord);
            previousEvent = FiscalEvent{};
            previousEvent->kind = between(textOf(record.xml), "<ev:TipoEvento>", "<");
            previousEvent->hash = record.hash;
            previousTime = time;
        } catch (const PCError& error) {
            EXPECT_FALSE(error.message().empty());
        }
    }
    EXPECT_GT(events, 15u);
}
