// velmora-admin pedidos: one row per order of a range of business days, for the bookkeeper.

#include "BusinessDays.hpp"
#include "Commands.hpp"
#include "Failure.hpp"
#include "LocalTimes.hpp"
#include "StoredData.hpp"
#include "TextOutput.hpp"

#include <PizzaCore/Models/FiscalMoney.hpp>
#include <PizzaCore/Models/Database.hpp>

#include <string>
#include <unordered_map>
#include <vector>

namespace velmora::admin {

using pizzacore::Database;
using pizzacore::Order;
using pizzacore::Payment;
using pizzacore::rawValue;

namespace {

struct Row {
    const Order* order = nullptr;
    // The business day of the order's cash shift: the day its sales count in.
    const std::string* day = nullptr;
    const Payment* payment = nullptr;
};

// The orders whose shift belongs to a day from `from` to `to`, in confirmation order.
std::vector<Row> rowsBetween(const Database& db, const std::string& from, const std::string& to) {
    std::unordered_map<pizzacore::Uuid, const std::string*> dayOf;
    for (const pizzacore::Session& session : db.sessions)
        if (session.businessDay >= from && session.businessDay <= to)
            dayOf.emplace(session.id, &session.businessDay);
    std::unordered_map<pizzacore::Uuid, const Payment*> paymentOf;
    // An order has at most one payment; should there be more, the first one counts, as in Velmora.
    for (const Payment& payment : db.payments)
        paymentOf.emplace(payment.orderID, &payment);
    std::vector<Row> rows;
    for (const Order& order : db.orders) {
        const auto day = dayOf.find(order.sessionID);
        if (day == dayOf.end()) continue;
        const auto payment = paymentOf.find(order.id);
        rows.push_back({&order, day->second, payment == paymentOf.end() ? nullptr : payment->second});
    }
    return rows;
}

std::string linesText(const Order& order) {
    std::string text;
    for (const pizzacore::Line& line : order.draft.lines) {
        if (!text.empty()) text += "; ";
        text += std::to_string(line.quantity) + " × " + line.name;
    }
    return text;
}

void writeText(const Database& db, const std::vector<Row>& rows, const std::string& from,
               const std::string& to, std::ostream& out) {
    const std::string currency = db.settings.currencyCode();
    const LocalTimes times(db.settings.timeZone);
    const std::string range = from == to ? "la jornada " + from : "las jornadas " + from + " a " + to;
    if (rows.empty()) {
        out << "No hay pedidos en " << range << ".\n";
        return;
    }
    pizzacore::Cents total = 0;
    for (const Row& row : rows) {
        const Order& order = *row.order;
        const std::string& name = order.draft.name;
        // The date and time are those of the clock when the order was taken; after midnight the
        // date is the next calendar day, so the business day its sales count in is named apart.
        out << '#' << order.number << " · " << times.dateTime(order.created) << " · jornada "
            << printable(*row.day) << " · " << rawValue(order.draft.mode) << " · "
            << (name.empty() ? std::string("Mostrador") : printable(name)) << " · "
            << pizzacore::FiscalMoney::text(order.total(), currency) << " · "
            << (row.payment ? std::string(rawValue(row.payment->method)) : std::string("Pendiente de cobro"))
            << " · " << rawValue(order.preparation);
        if (order.cancellationReason) out << ": " << printable(*order.cancellationReason);
        out << '\n';
        if (order.preparation != pizzacore::Preparation::cancelled) total += order.total();
    }
    out << rows.size() << " pedidos en " << range
        << "; ventas sin anulados: " << pizzacore::FiscalMoney::text(total, currency) << ".\n";
}

void writeCsv(const Database& db, const std::vector<Row>& rows, std::ostream& out) {
    const LocalTimes times(db.settings.timeZone);
    writeCsvRecord(out, {"numero", "jornada", "creado", "cliente", "modo", "lineas", "total", "forma_pago",
                         "cobrado", "preparacion", "motivo_anulacion"});
    for (const Row& row : rows) {
        const Order& order = *row.order;
        writeCsvRecord(out,
                       {std::to_string(order.number), spreadsheetText(*row.day), times.iso(order.created),
                        spreadsheetText(order.draft.name), std::string(rawValue(order.draft.mode)),
                        spreadsheetText(linesText(order)), pizzacore::FiscalMoney::decimal(order.total()),
                        row.payment ? std::string(rawValue(row.payment->method)) : "",
                        row.payment ? pizzacore::FiscalMoney::decimal(row.payment->cents) : "",
                        std::string(rawValue(order.preparation)),
                        spreadsheetText(order.cancellationReason.value_or(""))});
    }
}

} // namespace

int orderList(const OrdersRequest& request, pizzacore::Instant now, std::ostream& out) {
    const Database db = readDocument(request.data);
    const std::string from = resolveDay(request.from, now, db.settings);
    const std::string to = resolveDay(request.to, now, db.settings);
    if (to < from) throw Misuse("--hasta (" + to + ") es anterior a --desde (" + from + ").");
    const std::vector<Row> rows = rowsBetween(db, from, to);
    if (request.format == Format::csv)
        writeCsv(db, rows, out);
    else
        writeText(db, rows, from, to, out);
    return 0;
}

} // namespace velmora::admin
