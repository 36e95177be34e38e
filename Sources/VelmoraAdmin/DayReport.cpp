// velmora-admin informe: the cash shifts of one business day with their sales, receipts by
// method and unpaid amounts, the day's totals and its cancelled orders, as text, CSV or JSON, or
// the closing report Velmora prints, as a PDF file.

#include "BusinessDays.hpp"
#include "Commands.hpp"
#include "Failure.hpp"
#include "LocalTimes.hpp"
#include "OutputFile.hpp"
#include "StoredData.hpp"
#include "TextOutput.hpp"

#include <PizzaCore/Documents/ClosingReportRenderer.hpp>
#include <PizzaCore/Json/Writer.hpp>
#include <PizzaCore/Models/ClosingReport.hpp>
#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Models/FiscalMoney.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>

#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace velmora::admin {

using pizzacore::Cents;
using pizzacore::Database;
using pizzacore::Order;
using pizzacore::Session;

namespace {

using Day = pizzacore::ClosingReport;
using Shift = pizzacore::ClosingReport::Shift;
using CancelledOrder = pizzacore::ClosingReport::CancelledOrder;

std::string state(const Session& session) {
    if (!session.closed) return "Abierto";
    return session.reason.value_or("");
}

void writeText(const Database& db, const Day& day, std::ostream& out) {
    const std::string currency = db.settings.currencyCode();
    const LocalTimes times(db.settings.timeZone);
    auto money = [&](Cents cents) { return pizzacore::FiscalMoney::text(cents, currency); };

    out << "Jornada comercial " << day.day << " · " << printable(db.settings.business) << '\n';
    out << "Horas de " << printable(db.settings.timeZone) << "; importes en " << printable(currency) << ".\n";
    if (day.shifts.empty()) out << "\nNo hay tramos de caja en esta jornada.\n";
    for (const Shift& shift : day.shifts) {
        const Session& session = shift.session;
        out << "\nTramo " << shift.ordinal << " · "
            << (session.closed ? "Cerrado · " + printable(state(session)) : std::string("Abierto")) << '\n';
        out << "  " << times.dateTime(session.opened) << " → "
            << (session.closed ? times.dateTime(*session.closed)
                               : "ahora (cierre automático " + times.dateTime(session.scheduledEnd) + ")")
            << '\n';
        out << "  Pedidos: " << shift.orders << " (" << shift.cancelled << " anulados)\n";
        out << "  Ventas: " << money(shift.sales) << '\n';
        out << "  Cobros: " << money(shift.receipts) << " (Efectivo: " << money(shift.cash)
            << " · Tarjeta: " << money(shift.card) << ")\n";
        out << "  Pendiente global al cierre: "
            << (session.unpaidAtClose ? money(*session.unpaidAtClose) : std::string("—")) << '\n';
    }
    out << "\nTotal de la jornada\n";
    out << "  Pedidos: " << day.orders << '\n';
    out << "  Ventas de la jornada: " << money(day.sales) << '\n';
    out << "  Cobros de la jornada: " << money(day.receipts) << '\n';
    out << "  Efectivo cobrado: " << money(day.cash) << '\n';
    out << "  Tarjeta cobrada: " << money(day.card) << '\n';
    out << "  Pendiente de la jornada: " << money(day.unpaid) << " (" << day.unpaidOrders << " pedidos)\n";
    out << "  Pendiente total, todas las jornadas: " << money(day.unpaidAll) << '\n';
    out << "\nPedidos anulados: " << day.cancelled.size() << '\n';
    for (const CancelledOrder& cancelled : day.cancelled) {
        const Order& order = cancelled.order;
        out << "  #" << order.number << " · " << times.time(order.created) << " · " << money(order.total())
            << " · " << printable(order.cancellationReason.value_or("")) << '\n';
    }
}

void writeCsv(const Database& db, const Day& day, std::ostream& out) {
    const LocalTimes times(db.settings.timeZone);
    auto amount = [](Cents cents) { return pizzacore::FiscalMoney::decimal(cents); };
    writeCsvRecord(out, {"tipo", "jornada", "tramo", "apertura", "cierre", "estado", "pedidos", "ventas",
                         "cobros", "efectivo", "tarjeta", "pendiente", "pendiente_total", "pedido", "creado",
                         "importe", "motivo"});
    for (const Shift& shift : day.shifts) {
        const Session& session = shift.session;
        writeCsvRecord(out,
                       {"tramo", day.day, std::to_string(shift.ordinal), times.iso(session.opened),
                        session.closed ? times.iso(*session.closed) : "", spreadsheetText(state(session)),
                        std::to_string(shift.orders), amount(shift.sales), amount(shift.receipts),
                        amount(shift.cash), amount(shift.card),
                        session.unpaidAtClose ? amount(*session.unpaidAtClose) : "", "", "", "", "", ""});
    }
    writeCsvRecord(out, {"jornada", day.day, "", "", "", "", std::to_string(day.orders), amount(day.sales),
                         amount(day.receipts), amount(day.cash), amount(day.card), amount(day.unpaid),
                         amount(day.unpaidAll), "", "", "", ""});
    for (const CancelledOrder& cancelled : day.cancelled) {
        const Order& order = cancelled.order;
        writeCsvRecord(out, {"anulado", day.day, std::to_string(cancelled.shift), "", "", "Anulado", "", "",
                             "", "", "", "", "", std::to_string(order.number), times.iso(order.created),
                             amount(order.total()), spreadsheetText(order.cancellationReason.value_or(""))});
    }
}

// A small JSON object writer over the core's token writer: keys are written as given.
class JsonObject {
public:
    JsonObject(pizzacore::json::Writer& writer)
        : writer_(writer) {
        writer_.raw('{');
    }
    ~JsonObject() { writer_.raw('}'); }

    pizzacore::json::Writer& key(std::string_view name) {
        if (!first_) writer_.raw(',');
        first_ = false;
        writer_.string(name);
        writer_.raw(':');
        return writer_;
    }
    void text(std::string_view name, std::string_view value) { key(name).string(value); }
    void integer(std::string_view name, std::int64_t value) { key(name).integer(value); }
    // A time, or null for an instant that cannot be written as a date.
    void time(std::string_view name, const std::string& iso) {
        if (iso.empty())
            key(name).raw("null");
        else
            key(name).string(iso);
    }

private:
    pizzacore::json::Writer& writer_;
    bool first_ = true;
};

void writeJson(const Database& db, const Day& day, std::ostream& out) {
    const LocalTimes times(db.settings.timeZone);
    std::string text;
    pizzacore::json::Writer writer(text);
    {
        JsonObject root(writer);
        root.text("businessDay", day.day);
        root.text("business", db.settings.business);
        root.text("currency", db.settings.currencyCode());
        root.text("timeZone", db.settings.timeZone);
        root.key("sessions").raw('[');
        for (const Shift& shift : day.shifts) {
            if (shift.ordinal > 1) writer.raw(',');
            const Session& session = shift.session;
            JsonObject object(writer);
            object.integer("shift", static_cast<std::int64_t>(shift.ordinal));
            object.key("id").uuid(session.id);
            object.time("opened", times.iso(session.opened));
            object.time("scheduledEnd", times.iso(session.scheduledEnd));
            if (session.closed)
                object.time("closed", times.iso(*session.closed));
            else
                object.key("closed").raw("null");
            if (session.reason)
                object.text("reason", *session.reason);
            else
                object.key("reason").raw("null");
            object.integer("orders", static_cast<std::int64_t>(shift.orders));
            object.integer("cancelled", static_cast<std::int64_t>(shift.cancelled));
            object.integer("sales", shift.sales);
            object.integer("receipts", shift.receipts);
            object.integer("cash", shift.cash);
            object.integer("card", shift.card);
            if (session.unpaidAtClose)
                object.integer("unpaidAtClose", *session.unpaidAtClose);
            else
                object.key("unpaidAtClose").raw("null");
        }
        writer.raw(']');
        {
            root.key("totals");
            JsonObject totals(writer);
            totals.integer("orders", static_cast<std::int64_t>(day.orders));
            totals.integer("sales", day.sales);
            totals.integer("receipts", day.receipts);
            totals.integer("cash", day.cash);
            totals.integer("card", day.card);
            totals.integer("unpaid", day.unpaid);
            totals.integer("unpaidOrders", static_cast<std::int64_t>(day.unpaidOrders));
            totals.integer("unpaidAll", day.unpaidAll);
        }
        root.key("cancelled").raw('[');
        bool first = true;
        for (const CancelledOrder& cancelled : day.cancelled) {
            if (!first) writer.raw(',');
            first = false;
            const Order& order = cancelled.order;
            JsonObject object(writer);
            object.integer("number", order.number);
            object.key("id").uuid(order.id);
            object.integer("shift", static_cast<std::int64_t>(cancelled.shift));
            object.time("created", times.iso(order.created));
            object.integer("total", order.total());
            object.text("reason", order.cancellationReason.value_or(""));
        }
        writer.raw(']');
    }
    out << text << '\n';
}

// The report as the PDF Velmora prints, on the paper of the settings.
int writePdf(const ReportRequest& request, pizzacore::Instant now, std::ostream& out) {
    const StoredFile stored = locate(dataLocation(request.data));
    const Database db = readDocument(request.data);
    const std::filesystem::path& output = *request.pdf;
    const bool toStandardOutput = output == "-";
    // Checked before anything is rendered, and again by the atomic write for what changed since.
    const std::filesystem::path target =
        toStandardOutput ? std::filesystem::path() : checkedOutput(output, stored);
    if (toStandardOutput) checkStandardOutput(stored);
    const Day day = Day::ofDay(db, resolveDay(request.day, now, db.settings));
    useBusinessZone(db.settings.timeZone);
    const pizzacore::Bytes pdf = pizzacore::ClosingReportRenderer::render(day, db.settings);
    const std::string_view bytes(reinterpret_cast<const char*>(pdf.data()), pdf.size());
    if (toStandardOutput) {
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return 0;
    }
    try {
        // Whole or not at all; the report names no one, but it is the restaurant's business.
        pizzacore::AtomicFile::write(target, bytes, 0600);
    } catch (const std::system_error& error) {
        throw Refusal("No se pudo guardar " + printable(output.string()) + ": " +
                      systemReason(error.code().value()) + ".");
    }
    out << "Informe de cierre de la jornada " << day.day << " (" << day.shifts.size()
        << (day.shifts.size() == 1 ? " tramo" : " tramos") << "; papel "
        << pizzacore::rawValue(db.settings.paper) << ") guardado en " << printable(output.string()) << ", "
        << pdf.size() << " bytes.\n";
    return 0;
}

} // namespace

int dayReport(const ReportRequest& request, pizzacore::Instant now, std::ostream& out) {
    if (request.pdf) return writePdf(request, now, out);
    const Database db = readDocument(request.data);
    // The figures are the core's, as Velmora prints them in its closing report.
    const Day day = Day::ofDay(db, resolveDay(request.day, now, db.settings));
    switch (request.format) {
    case Format::text:
        writeText(db, day, out);
        break;
    case Format::csv:
        writeCsv(db, day, out);
        break;
    case Format::json:
        writeJson(db, day, out);
        break;
    }
    return 0;
}

} // namespace velmora::admin
