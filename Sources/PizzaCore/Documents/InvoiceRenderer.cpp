#include "InvoiceRenderer.hpp"

#include "DateText.hpp"
#include "PdfDocument.hpp"

#include <PizzaCore/Models/FiscalMoney.hpp>
#include <PizzaCore/Fiscal/FiscalRules.hpp>
#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Models/Money.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pizzacore::InvoiceRenderer {
namespace {

using documents::Font;
using documents::Paragraph;
using documents::PdfDocument;

constexpr double pageWidth = 595.28;
constexpr double pageHeight = 841.89;
constexpr double left = 40;
constexpr double columnWidth = 515;
constexpr double firstBodyLine = 78;
constexpr double lowestLineEnd = 785;
constexpr double minimumLineHeight = 15;
constexpr double paragraphSpace = 7;
constexpr Font body{11, false};
constexpr Font bodyBold{11, true};

struct Text {
    std::string text;
    bool bold;
};

[[noreturn]] void beyondLimit() {
    throw PCError::invalid("El importe supera el límite admitido.");
}

Cents add(Cents a, Cents b) {
    Cents sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) beyondLimit();
    return sum;
}

// Every paragraph of the proposal, in order; worked out before the PDF is created.
std::vector<Text> paragraphs(const InvoiceProposal& proposal, const FiscalSettings& settings) {
    const auto money = [&](Cents cents) { return FiscalMoney::text(cents, settings.currency); };
    const auto rate = [&](std::int64_t value) {
        return settings.taxName + " " + FiscalMoney::decimal(value) + " %";
    };

    std::vector<Text> result;
    result.reserve(2 * proposal.lines.size() + 32);
    result.push_back({std::string(title(proposal.kind)), true});
    result.push_back({"Preparada: " + documents::DateText(true).format(proposal.created), false});
    result.push_back(
        {"Fecha de operación: " + documents::DateText(false).format(proposal.operationDate), false});
    result.push_back({"EMISOR", true});
    result.push_back({settings.issuerName.empty() ? "Pendiente de configurar" : settings.issuerName, false});
    result.push_back(
        {"Identificación fiscal: " + (settings.issuerTaxID.empty() ? "Pendiente" : settings.issuerTaxID),
         false});
    result.push_back({settings.issuerAddress, false});
    result.push_back({"DESTINATARIO", true});
    result.push_back(
        {proposal.recipientName.empty() ? "Sin destinatario identificado" : proposal.recipientName, false});
    if (!proposal.recipientTaxID.empty())
        result.push_back({"Identificación fiscal: " + proposal.recipientTaxID, false});
    result.push_back({proposal.recipientAddress, false});
    if (rectifies(proposal.kind)) result.push_back({"Rectificación: " + proposal.reason, true});

    result.push_back({"CONCEPTOS", true});
    // Per rate, ascending: the sums of the line bases and taxes.
    std::map<std::int64_t, std::pair<Cents, Cents>> breakdown;
    for (const FiscalLine& line : proposal.lines) {
        const Cents net = line.net();
        const Cents tax = line.tax();
        result.push_back({std::to_string(line.quantity) + " × " + line.description, true});
        result.push_back({"Unidad con impuesto: " + money(line.unitGross) + " · Base: " + money(net) + " · " +
                              rate(line.rate) + ": " + money(tax) + " · Total: " + money(line.gross()),
                          false});
        auto& [nets, taxes] = breakdown[line.rate];
        nets = add(nets, net);
        taxes = add(taxes, tax);
    }
    result.push_back({"DESGLOSE", true});
    for (const auto& [value, sums] : breakdown)
        result.push_back(
            {rate(value) + " · Base: " + money(sums.first) + " · Cuota: " + money(sums.second), false});
    result.push_back({"BASE: " + money(proposal.net()), true});
    result.push_back({"IMPUESTOS: " + money(proposal.tax()), true});
    result.push_back({"TOTAL PROPUESTO: " + money(proposal.gross()), true});
    result.push_back({"No es una factura emitida ni un justificante fiscal. No consume numeración fiscal. "
                      "Revisa impuestos, emisor y destinatario antes de una futura emisión.",
                      false});
    return result;
}

// The drawing state of one call: the document, the page counter and the vertical position.
class Pages {
public:
    explicit Pages(PdfDocument& pdf)
        : pdf_(pdf) {}

    void start() {
        pdf_.beginPage();
        ++page_;
        y_ = firstBodyLine;
        pdf_.drawText("PROPUESTA · SIN VALIDEZ FISCAL", Font{15, true}, left, 32);
        pdf_.drawText("Velmora 1.1.0 · Página " + std::to_string(page_) + " · Sin número fiscal ni QR",
                      Font{9, false}, left, 55, 0.5);
    }

    void end() { pdf_.endPage(pageHeight); }

    void draw(const Text& paragraph) {
        const Paragraph laidOut = pdf_.layout(paragraph.text.empty() ? " " : paragraph.text,
                                              paragraph.bold ? bodyBold : body, columnWidth);
        const auto& lines = laidOut.lines();
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const double height = std::ceil(std::max(minimumLineHeight, lines[i].height));
            if (y_ + height > lowestLineEnd) {
                end();
                start();
            }
            pdf_.drawLine(laidOut, i, left, y_);
            y_ += height;
        }
        y_ += paragraphSpace;
    }

private:
    PdfDocument& pdf_;
    int page_ = 0;
    double y_ = firstBodyLine;
};

} // namespace

Bytes proposal(const InvoiceProposal& proposal, const FiscalSettings& settings) {
    FiscalRules::validate(proposal, settings, false);
    const std::vector<Text> texts = paragraphs(proposal, settings);
    PdfDocument pdf(pageWidth, pageHeight, PdfDocument::Pages::fixed);
    Pages pages(pdf);
    pages.start();
    for (const Text& text : texts)
        pages.draw(text);
    pages.end();
    return pdf.finish();
}

} // namespace pizzacore::InvoiceRenderer
