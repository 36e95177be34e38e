// Invoice proposals read back with poppler: the title and page line of every page, the worked
// line, the empty issuer and recipient, the breakdown per rate and the refusals.

#include "PdfReading.hpp"

#include <PizzaCore/Documents/DateText.hpp>
#include <PizzaCore/PizzaCore.hpp>

#include <gtest/gtest.h>
#include <support/Refusal.hpp>

#include <cstdint>
#include <string>
#include <vector>

using namespace pizzacore;
using pizzacore::testing::failure;
using pizzacore::testing::PdfFile;
using pizzacore::testing::PdfPage;
using pizzacore::testing::readPdf;

namespace {

FiscalLine item(std::int64_t quantity, std::int64_t unitGross, std::int64_t rate,
                std::string description = "Pizza") {
    FiscalLine line;
    line.description = std::move(description);
    line.quantity = quantity;
    line.unitGross = unitGross;
    line.rate = rate;
    return line;
}

InvoiceProposal proposalWith(std::vector<FiscalLine> lines, InvoiceKind kind = InvoiceKind::full) {
    InvoiceProposal proposal;
    proposal.created = Instant{818000000};
    proposal.operationDate = Instant{817900000};
    proposal.kind = kind;
    proposal.recipientName = "Ana García";
    proposal.recipientTaxID = "12345678Z";
    proposal.recipientAddress = "Calle Sol 2, Madrid";
    proposal.lines = std::move(lines);
    if (rectifies(kind)) {
        proposal.correctionOf = Uuid::random();
        proposal.reason = "Precio equivocado";
    }
    return proposal;
}

FiscalSettings issuer() {
    FiscalSettings settings;
    settings.issuerName = "Pizzería Alba S.L.";
    settings.issuerTaxID = "B12345678";
    settings.issuerAddress = "Calle Mayor 1, Madrid";
    return settings;
}

// The body of all pages as paragraphs: the lines below the page line, a wrapped paragraph's
// lines joined by spaces (wrapping happens only at spaces here).
std::vector<std::string> body(const PdfFile& pdf) {
    std::vector<std::string> result;
    double previousBottom = 0;
    for (const PdfPage& page : pdf.pages) {
        previousBottom = 0;
        for (std::size_t i = 2; i < page.lines.size(); ++i) {
            const auto& line = page.lines[i];
            // Lines of one paragraph follow each other without the 7-point paragraph space.
            if (!result.empty() && previousBottom > 0 && line.top - previousBottom < 4)
                result.back() += " " + line.text;
            else
                result.push_back(line.text);
            previousBottom = line.bottom;
        }
    }
    return result;
}

// The amount in cents of a text such as "Base: 18,18 EUR".
std::int64_t cents(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    EXPECT_NE(at, std::string::npos) << text;
    std::string digits;
    for (std::size_t i = at + label.size(); i < text.size() && text[i] != ' '; ++i)
        if (text[i] != ',') digits += text[i];
    return std::stoll(digits);
}

} // namespace

TEST(InvoiceRenderer, ShortProposalOnOnePage) {
    const InvoiceProposal proposal = proposalWith({item(2, 1000, 1000, "Menú del día")});
    const PdfFile pdf = readPdf(InvoiceRenderer::proposal(proposal, issuer()));
    ASSERT_EQ(pdf.pages.size(), 1u);
    const PdfPage& page = pdf.pages[0];
    EXPECT_NEAR(page.width, 595.28, 0.01);
    EXPECT_NEAR(page.height, 841.89, 0.01);
    ASSERT_GE(page.lines.size(), 3u);
    EXPECT_EQ(page.lines[0].text, "PROPUESTA · SIN VALIDEZ FISCAL");
    EXPECT_TRUE(page.lines[0].bold);
    EXPECT_NEAR(page.lines[0].fontSize, 15, 0.1);
    EXPECT_NEAR(page.lines[0].left, 40, 0.5);
    EXPECT_EQ(page.lines[1].text, "Velmora 1.1.0 · Página 1 · Sin número fiscal ni QR");
    EXPECT_NEAR(page.lines[1].fontSize, 9, 0.1);

    const std::vector<std::string> expected = {
        "Factura completa",
        "Preparada: " + documents::DateText(true).format(proposal.created),
        "Fecha de operación: " + documents::DateText(false).format(proposal.operationDate),
        "EMISOR",
        "Pizzería Alba S.L.",
        "Identificación fiscal: B12345678",
        "Calle Mayor 1, Madrid",
        "DESTINATARIO",
        "Ana García",
        "Identificación fiscal: 12345678Z",
        "Calle Sol 2, Madrid",
        "CONCEPTOS",
        "2 × Menú del día",
        "Unidad con impuesto: 10,00 EUR · Base: 18,18 EUR · IVA 10.00 %: 1,82 EUR · Total: 20,00 EUR",
        "DESGLOSE",
        "IVA 10.00 % · Base: 18,18 EUR · Cuota: 1,82 EUR",
        "BASE: 18,18 EUR",
        "IMPUESTOS: 1,82 EUR",
        "TOTAL PROPUESTO: 20,00 EUR",
        "No es una factura emitida ni un justificante fiscal. No consume numeración fiscal. Revisa "
        "impuestos, "
        "emisor y destinatario antes de una futura emisión.",
    };
    EXPECT_EQ(body(pdf), expected);
    EXPECT_TRUE(page.find("2 × Menú")->bold);
    EXPECT_FALSE(page.find("Unidad con impuesto")->bold);
    EXPECT_TRUE(page.find("TOTAL PROPUESTO")->bold);
    EXPECT_NEAR(page.find("2 × Menú")->fontSize, 11, 0.1);
}

TEST(InvoiceRenderer, EveryPageCarriesTitleAndCountingPageLine) {
    std::vector<FiscalLine> lines;
    for (int i = 0; i < 1000; ++i)
        lines.push_back(item(1 + i % 3, 100 + i, i % 2 ? 1000 : 2100, "Concepto " + std::to_string(i)));
    const PdfFile pdf = readPdf(InvoiceRenderer::proposal(proposalWith(lines), issuer()));
    ASSERT_GT(pdf.pages.size(), 20u);
    double firstTitleTop = 0;
    double firstBodyTop = 0;
    for (std::size_t p = 0; p < pdf.pages.size(); ++p) {
        const PdfPage& page = pdf.pages[p];
        ASSERT_GE(page.lines.size(), 3u);
        EXPECT_EQ(page.lines[0].text, "PROPUESTA · SIN VALIDEZ FISCAL");
        EXPECT_EQ(page.lines[1].text,
                  "Velmora 1.1.0 · Página " + std::to_string(p + 1) + " · Sin número fiscal ni QR");
        if (p == 0) {
            firstTitleTop = page.lines[0].top;
            firstBodyTop = page.lines[2].top;
        }
        EXPECT_NEAR(page.lines[0].top, firstTitleTop, 0.01);
        EXPECT_NEAR(page.lines[2].top, firstBodyTop, 0.01);
        for (const auto& line : page.lines)
            EXPECT_LE(line.bottom, 785 + 1);
    }
    // Title drawn from y = 32, page line from y = 55, body from y = 78 (glyph boxes sit a
    // little below the top of their line).
    EXPECT_NEAR(firstTitleTop, 32, 3);
    EXPECT_NEAR(pdf.pages[0].lines[1].top, 55, 3);
    EXPECT_NEAR(firstBodyTop, 78, 3);
    const std::vector<std::string> paragraphs = body(pdf);
    std::size_t next = 0;
    for (const std::string& text : paragraphs)
        if (text.ends_with("× Concepto " + std::to_string(next))) ++next;
    EXPECT_EQ(next, 1000u);
    EXPECT_TRUE(paragraphs.back().starts_with("No es una factura emitida"));
}

TEST(InvoiceRenderer, EmptyIssuerAndRecipient) {
    InvoiceProposal proposal = proposalWith({item(1, 500, 1000)}, InvoiceKind::simplified);
    proposal.recipientName.clear();
    proposal.recipientTaxID.clear();
    proposal.recipientAddress.clear();
    const std::vector<std::string> texts =
        body(readPdf(InvoiceRenderer::proposal(proposal, FiscalSettings{})));
    const std::vector<std::string> head(texts.begin(), texts.begin() + 11);
    const std::vector<std::string> expected = {
        "Factura simplificada",
        head[1],
        head[2],
        "EMISOR",
        "Pendiente de configurar",
        "Identificación fiscal: Pendiente",
        // The empty address still takes its line, which holds no text.
        "DESTINATARIO",
        "Sin destinatario identificado",
        "CONCEPTOS",
        "1 × Pizza",
        head[10],
    };
    EXPECT_EQ(head, expected);
}

TEST(InvoiceRenderer, CorrectionsShowTheirReason) {
    const PdfFile pdf = readPdf(
        InvoiceRenderer::proposal(proposalWith({item(1, 500, 1000)}, InvoiceKind::correction), issuer()));
    const PdfPage& page = pdf.pages.at(0);
    EXPECT_TRUE(page.contains("Factura rectificativa"));
    ASSERT_TRUE(page.contains("Rectificación: Precio equivocado"));
    EXPECT_TRUE(page.find("Rectificación:")->bold);
    EXPECT_LT(*page.indexOf("Rectificación:"), *page.indexOf("CONCEPTOS"));
}

TEST(InvoiceRenderer, BreakdownPerRateAscendingAddsUpToTheBase) {
    struct Case {
        std::vector<FiscalLine> lines;
        std::vector<std::string> rates;
    };
    const std::vector<Case> cases = {
        {{item(3, 333, 2100), item(1, 1999, 400), item(7, 101, 1000), item(2, 5, 1000)},
         {"IVA 4.00 %", "IVA 10.00 %", "IVA 21.00 %"}},
        {{item(1, 1, 1000), item(3, 999, 1000), item(11, 77, 1000)}, {"IVA 10.00 %"}},
        {{item(1, 1234, 0), item(2, 250, 2100)}, {"IVA 0.00 %", "IVA 21.00 %"}},
    };
    for (const Case& c : cases) {
        const InvoiceProposal proposal = proposalWith(c.lines);
        const std::vector<std::string> texts = body(readPdf(InvoiceRenderer::proposal(proposal, issuer())));
        const auto desglose = std::find(texts.begin(), texts.end(), "DESGLOSE");
        const auto base =
            std::find_if(texts.begin(), texts.end(), [](const auto& t) { return t.starts_with("BASE: "); });
        ASSERT_NE(desglose, texts.end());
        ASSERT_EQ(base - desglose - 1, static_cast<long>(c.rates.size()));
        std::int64_t nets = 0;
        std::int64_t taxes = 0;
        for (std::size_t i = 0; i < c.rates.size(); ++i) {
            const std::string& line = *(desglose + 1 + static_cast<long>(i));
            EXPECT_TRUE(line.starts_with(c.rates[i] + " · Base: ")) << line;
            nets += cents(line, "Base: ");
            taxes += cents(line, "Cuota: ");
        }
        EXPECT_EQ(nets, cents(*base, "BASE: "));
        EXPECT_EQ(nets, proposal.net());
        EXPECT_EQ(taxes, proposal.tax());
        EXPECT_EQ(*(base + 2), "TOTAL PROPUESTO: " + FiscalMoney::text(proposal.gross(), "EUR"));
    }
}

TEST(InvoiceRenderer, InvalidProposalsAreRefusedBeforeDrawing) {
    EXPECT_EQ(failure([] { InvoiceRenderer::proposal(proposalWith({item(1, 500, -1)}), issuer()); }),
              "Revisa los conceptos, cantidades, precios e impuestos.");
    EXPECT_EQ(failure([] { InvoiceRenderer::proposal(proposalWith({}), issuer()); }),
              "Añade entre 1 y 1000 conceptos.");
    InvoiceProposal correction = proposalWith({item(1, 500, 1000)}, InvoiceKind::correction);
    correction.reason.clear();
    EXPECT_EQ(failure([&] { InvoiceRenderer::proposal(correction, issuer()); }),
              "La rectificativa requiere factura de origen y motivo.");
}
