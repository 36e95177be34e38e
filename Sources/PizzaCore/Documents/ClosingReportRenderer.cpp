#include "ClosingReportRenderer.hpp"

#include "DateText.hpp"
#include "PdfDocument.hpp"

#include <PizzaCore/Models/FiscalMoney.hpp>

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

namespace pizzacore::ClosingReportRenderer {
namespace {

using documents::Font;
using documents::Paragraph;
using documents::PdfDocument;

// Page size while drawing, margin on all sides and base font size, in points. Roll paper is
// drawn on a sheet tall enough for a busy day's report on one strip; it comes out cut to its
// content.
struct Geometry {
    double width;
    double height;
    double margin;
    double base;
};

Geometry geometry(Paper paper) {
    switch (paper) {
    case Paper::mm58:
        return {164.41, 2000, 9, 8};
    case Paper::mm80:
        return {226.77, 2000, 9, 9};
    case Paper::a4:
        break;
    }
    return {595.28, 841.89, 48, 11};
}

constexpr double minimumRollHeight = 72;
// Room between a label and its value on the same line.
constexpr double gap = 8;

// The drawing state of one report: the document, its geometry and the vertical position.
class Sheet {
public:
    Sheet(PdfDocument& pdf, Geometry geometry)
        : pdf_(pdf)
        , g_(geometry) {}

    void startPage() {
        pdf_.beginPage();
        y_ = g_.margin;
    }

    void endPage() { pdf_.endPage(std::max(std::min(y_ + g_.margin, g_.height), minimumRollHeight)); }

    double base() const { return g_.base; }

    // A paragraph across the column.
    void text(std::string_view text, bool bold, double size) {
        const Paragraph paragraph = pdf_.layout(text.empty() ? " " : text, Font{size, bold}, column());
        for (std::size_t i = 0; i < paragraph.lines().size(); ++i)
            place(paragraph, i, g_.margin, lineHeight(paragraph.lines()[i], size));
        y_ += 4;
    }
    void text(std::string_view text, bool bold = false) { this->text(text, bold, g_.base); }

    // A label at the left and its value at the right of the same line; when both do not fit, the
    // value goes right-aligned under the label.
    void row(std::string_view label, std::string_view value, bool bold = false, double indent = 0) {
        const Font font{g_.base, bold};
        const double available = column() - indent;
        const Paragraph amount = pdf_.layout(value, font, available);
        const double valueWidth = amount.lines().size() == 1 ? amount.lines().front().width : available;
        const double labelWidth = available - valueWidth - gap;
        const bool together = labelWidth >= available * 0.35;
        const Paragraph name = pdf_.layout(label, font, together ? labelWidth : available);
        const double right = g_.width - g_.margin;
        for (std::size_t i = 0; i < name.lines().size(); ++i) {
            const double height = lineHeight(name.lines()[i], g_.base);
            breakIfFull(height);
            pdf_.drawLine(name, i, g_.margin + indent, y_);
            if (together && i == 0) pdf_.drawLine(amount, 0, right - amount.lines().front().width, y_);
            y_ += height;
        }
        if (!together) {
            for (std::size_t i = 0; i < amount.lines().size(); ++i) {
                const Paragraph::Line& line = amount.lines()[i];
                place(amount, i, right - line.width - line.offsetX, lineHeight(line, g_.base));
            }
        }
        y_ += 2;
    }

    // A heading in capitals over a rule, starting a part of the report; it never stays alone at
    // the foot of a page.
    void heading(std::string_view text) {
        breakIfFull(12 + 4 * (g_.base + 5));
        // A page that starts with the heading needs no rule over it.
        if (y_ > g_.margin) rule();
        this->text(text, true, g_.base + 1);
    }

    void rule() {
        breakIfFull(12);
        pdf_.drawRule(g_.margin, g_.width - g_.margin, y_ + 4, 0.5);
        y_ += 12;
    }

    void space(double points) { y_ += points; }

private:
    double column() const { return g_.width - 2 * g_.margin; }

    static double lineHeight(const Paragraph::Line& line, double size) {
        return std::ceil(std::max(line.height, size + 3));
    }

    void breakIfFull(double height) {
        if (y_ + height <= g_.height - g_.margin) return;
        endPage();
        startPage();
    }

    void place(const Paragraph& paragraph, std::size_t line, double left, double height) {
        breakIfFull(height);
        pdf_.drawLine(paragraph, line, left, y_);
        y_ += height;
    }

    PdfDocument& pdf_;
    Geometry g_;
    double y_ = 0;
};

std::string count(std::size_t n, std::string_view one, std::string_view many) {
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

} // namespace

Bytes render(const ClosingReport& report, const Settings& settings) {
    const std::string currency = settings.currencyCode();
    const auto money = [&](Cents cents) { return FiscalMoney::text(cents, currency); };
    const documents::DateText dates(true);
    const bool oneShift = report.session.has_value();

    const Geometry g = geometry(settings.paper);
    PdfDocument pdf(g.width, g.height,
                    settings.paper == Paper::a4 ? PdfDocument::Pages::fixed : PdfDocument::Pages::trimmed);
    Sheet sheet(pdf, g);
    sheet.startPage();
    sheet.text(settings.business, true, g.base + 5);
    sheet.text("INFORME DE CIERRE", true, g.base + 2);
    sheet.text((oneShift ? "Tramo " + std::to_string(report.shifts.front().ordinal) + " · " : std::string()) +
                   "Jornada comercial " + report.day,
               true);
    if (report.shifts.empty()) sheet.text("No hay tramos de caja en esta jornada.");

    for (const ClosingReport::Shift& shift : report.shifts) {
        const Session& session = shift.session;
        sheet.heading("TRAMO " + std::to_string(shift.ordinal) +
                      (session.closed ? " · CERRADO" : " · ABIERTO"));
        sheet.row("Apertura", dates.format(session.opened));
        if (session.closed) {
            sheet.row("Cierre", dates.format(*session.closed));
            sheet.row("Motivo del cierre", session.reason.value_or("—"));
        } else {
            sheet.row("Cierre", "Abierto");
            sheet.row("Cierre automático", dates.format(session.scheduledEnd));
        }
        sheet.row("Pedidos",
                  std::to_string(shift.orders) + " (" + count(shift.cancelled, "anulado", "anulados") + ")");
        sheet.row("Ventas", money(shift.sales));
        sheet.row("Cobros", money(shift.receipts));
        sheet.row("Efectivo", money(shift.cash), false, g.base);
        sheet.row("Tarjeta", money(shift.card), false, g.base);
        sheet.row("Pendiente global al cierre", session.unpaidAtClose ? money(*session.unpaidAtClose) : "—");
    }

    sheet.heading(oneShift ? "TOTAL DEL TRAMO" : "TOTAL DE LA JORNADA");
    sheet.row("Pedidos", std::to_string(report.orders) + " (" +
                             count(report.cancelled.size(), "anulado", "anulados") + ")");
    sheet.row("Ventas", money(report.sales), true);
    sheet.row("Cobros", money(report.receipts), true);
    sheet.row("Efectivo", money(report.cash), false, g.base);
    sheet.row("Tarjeta", money(report.card), false, g.base);
    sheet.row("Sin cobrar",
              money(report.unpaid) + " (" + count(report.unpaidOrders, "pedido", "pedidos") + ")");
    sheet.row("Pendiente de todas las jornadas", money(report.unpaidAll));

    sheet.heading("EFECTIVO EN EL CAJÓN");
    sheet.row("Efectivo cobrado", money(report.cash), true);
    sheet.text(std::string(oneShift ? "Cobros en efectivo del tramo" : "Cobros en efectivo de la jornada") +
                   "; sin fondo inicial, retiradas, gastos ni devoluciones.",
               false, std::max(g.base - 1, 7.0));

    sheet.heading("VENTAS POR CATEGORÍA");
    if (report.categories.empty()) sheet.text("Sin ventas.");
    for (const ClosingReport::Breakdown& category : report.categories)
        sheet.row(category.name + " · " + count(static_cast<std::size_t>(category.count), "ud.", "uds."),
                  money(category.sales));

    sheet.heading("VENTAS POR MODO");
    for (const ClosingReport::Breakdown& mode : report.modes)
        sheet.row(mode.name + " · " + count(static_cast<std::size_t>(mode.count), "pedido", "pedidos"),
                  money(mode.sales));

    sheet.heading("PEDIDOS ANULADOS (" + std::to_string(report.cancelled.size()) + ")");
    if (report.cancelled.empty()) sheet.text("Ninguno.");
    for (const ClosingReport::CancelledOrder& cancelled : report.cancelled) {
        const Order& order = cancelled.order;
        // Appended piece by piece: GCC 12 at -O3 takes `"#" + std::string` for an overlapping copy.
        std::string title = "#";
        title += std::to_string(order.number);
        title += " · Tramo ";
        title += std::to_string(cancelled.shift);
        sheet.row(title, money(order.total()), true);
        sheet.text(dates.format(order.created));
        sheet.text("Motivo: " + order.cancellationReason.value_or("—"));
    }

    sheet.rule();
    sheet.text("Registro local de ventas y cobros. No es un arqueo ni una factura.", false,
               std::max(g.base - 2, 7.0));
    sheet.endPage();
    return pdf.finish();
}

std::string suggestedName(const ClosingReport& report, Paper paper) {
    std::string name = "Informe-" + report.day;
    if (report.session && !report.shifts.empty())
        name += "-tramo-" + std::to_string(report.shifts.front().ordinal);
    return name + "-" + std::string(rawValue(paper)) + ".pdf";
}

} // namespace pizzacore::ClosingReportRenderer
