#include "TicketRenderer.hpp"

#include "DateText.hpp"
#include "LogoImage.hpp"
#include "PdfDocument.hpp"

#include <PizzaCore/Models/FiscalMoney.hpp>
#include <PizzaCore/Foundation/PCError.hpp>

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

namespace pizzacore::TicketRenderer {
namespace {

using documents::Font;
using documents::LogoImage;
using documents::Paragraph;
using documents::PdfDocument;

// Page size while drawing, margin on all sides and base font size, in points.
struct Geometry {
    double width;
    double height;
    double margin;
    double base;
};

Geometry geometry(Paper paper) {
    switch (paper) {
    case Paper::mm58:
        return {164.41, 720, 9, 9};
    case Paper::mm80:
        return {226.77, 720, 9, 9};
    case Paper::a4:
        break;
    }
    return {595.28, 841.89, 36, 12};
}

// Trimmed roll paper pages are never shorter than this.
constexpr double minimumRollHeight = 72;
// Room kept free at the foot of a page while drawing paragraphs.
constexpr double footRoom = 22;

std::string upperASCII(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return result;
}

// The amounts a ticket prints, worked out before any drawing so that an amount beyond the
// 64-bit range stops the whole document.
struct Amounts {
    std::vector<Cents> lineTotals;
    Cents total = 0;
    Cents change = 0;
};

Amounts amounts(const Order& order, const std::optional<Payment>& payment) {
    Amounts result;
    for (const Line& line : order.draft.lines)
        result.lineTotals.push_back(line.total());
    result.total = order.total();
    if (payment && payment->method == PaymentMethod::cash) result.change = payment->change();
    return result;
}

// The drawing state of one call: the document, its geometry and the vertical position.
class Ticket {
public:
    Ticket(PdfDocument& pdf, Geometry geometry)
        : pdf_(pdf)
        , g_(geometry) {}

    double y() const { return y_; }
    void advance(double by) { y_ += by; }

    void startPage() {
        pdf_.beginPage();
        y_ = g_.margin;
    }

    // A roll page keeps its content and the bottom margin, at least 72 and at most its drawing
    // height.
    void endPage() { pdf_.endPage(std::max(std::min(y_ + g_.margin, g_.height), minimumRollHeight)); }

    void draw(std::string_view text, bool bold, double size) {
        const Paragraph paragraph =
            pdf_.layout(text.empty() ? " " : text, Font{size, bold}, g_.width - 2 * g_.margin);
        const auto& lines = paragraph.lines();
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const double height = std::ceil(std::max(lines[i].height, size + 3));
            if (y_ + height > g_.height - g_.margin - footRoom) {
                endPage();
                startPage();
            }
            pdf_.drawLine(paragraph, i, g_.margin, y_);
            y_ += height;
        }
        y_ += 5;
    }

    void draw(std::string_view text, bool bold) { draw(text, bold, g_.base); }

    void rule() {
        if (y_ + 12 > g_.height - g_.margin) {
            endPage();
            startPage();
        }
        pdf_.drawRule(g_.margin, g_.width - g_.margin, y_ + 4, 0.5);
        y_ += 12;
    }

private:
    PdfDocument& pdf_;
    Geometry g_;
    double y_ = 0;
};

bool belongs(const Line& line, Recipient recipient, bool full) {
    if (full) return true;
    return recipient == Recipient::bar ? line.category.bar : !line.category.bar;
}

} // namespace

Bytes render(const Order& order, const Settings& settings, const std::optional<Payment>& payment, bool copy) {
    const std::vector<Recipient> recipients = settings.recipients();
    if (recipients.empty()) throw PCError::invalid("Activa al menos un destinatario en Ajustes → Tickets.");
    const Amounts sums = amounts(order, payment);
    const std::string currency = settings.currencyCode();
    const auto money = [&](Cents cents) { return FiscalMoney::text(cents, currency); };

    const Geometry g = geometry(settings.paper);
    PdfDocument pdf(g.width, g.height,
                    settings.paper == Paper::a4 ? PdfDocument::Pages::fixed : PdfDocument::Pages::trimmed);
    const std::shared_ptr<const LogoImage> logo =
        settings.logo ? LogoImage::from(*settings.logo) : std::shared_ptr<const LogoImage>();
    const std::string date = documents::DateText(true).format(order.created);
    const std::string mode = upperASCII(rawValue(order.draft.mode));
    const Draft& draft = order.draft;

    Ticket ticket(pdf, g);
    for (const Recipient recipient : recipients) {
        const bool full = recipient == Recipient::customer || settings.fullCopies;
        ticket.startPage();
        if (logo) {
            const double scale = std::min(LogoImage::boxHeight / std::max(1, logo->height()),
                                          LogoImage::boxWidth / std::max(1, logo->width()));
            pdf.drawImage(logo, g.margin, ticket.y(), logo->width() * scale, logo->height() * scale);
            ticket.advance(50);
        }
        ticket.draw(settings.business, true, g.base + 4);
        ticket.draw(upperASCII(rawValue(recipient)) + " · #" + std::to_string(order.number), true,
                    g.base + 2);
        if (copy) ticket.draw("COPIA / REIMPRESIÓN", true);
        if (order.preparation == Preparation::cancelled) ticket.draw("PEDIDO ANULADO", true);
        ticket.draw(date, false);
        ticket.draw(mode, true);

        if (full) {
            if (!settings.taxID.empty()) ticket.draw("NIF/CIF: " + settings.taxID, false);
            if (!settings.address.empty()) ticket.draw(settings.address, false);
            if (!settings.phone.empty()) ticket.draw("Tel.: " + settings.phone, false);
            ticket.draw("Cliente: " + (draft.name.empty() ? std::string("Mostrador") : draft.name), true);
            if (!draft.phone.empty()) ticket.draw("Tel.: " + draft.phone, false);
            if (draft.mode == Mode::delivery) ticket.draw("Entrega: " + draft.address, true);
            if (!draft.customerNotes.empty()) ticket.draw("Habituales: " + draft.customerNotes, false);
        }

        ticket.rule();
        bool any = false;
        for (std::size_t i = 0; i < draft.lines.size(); ++i) {
            const Line& line = draft.lines[i];
            if (!belongs(line, recipient, full)) continue;
            any = true;
            std::string heading = std::to_string(line.quantity) + " × " + line.name;
            if (full) heading += " · " + money(sums.lineTotals[i]);
            ticket.draw(heading, true);
            if (full) ticket.draw("Unidad: " + money(line.cents), false);
            if (!line.notes.empty()) ticket.draw("↳ " + line.notes, false);
        }
        if (!any) ticket.draw("Sin artículos para este destino", false);
        if (!draft.notes.empty()) ticket.draw("NOTAS PEDIDO: " + draft.notes, true);

        if (full) {
            ticket.rule();
            ticket.draw("TOTAL: " + money(sums.total), true, g.base + 4);
            if (!payment) {
                ticket.draw("PENDIENTE DE COBRO", true);
            } else {
                ticket.draw(std::string("Cobrado: ").append(rawValue(payment->method)), false);
                if (payment->method == PaymentMethod::cash) {
                    ticket.draw("Entregado: " + money(payment->received), false);
                    ticket.draw("Cambio: " + money(sums.change), false);
                }
            }
            if (!settings.footer.empty()) ticket.draw(settings.footer, false);
        }
        ticket.draw("Resumen de pedido. No es factura.", false, std::max(g.base - 2, 8.0));
        ticket.endPage();
    }
    return pdf.finish();
}

} // namespace pizzacore::TicketRenderer
