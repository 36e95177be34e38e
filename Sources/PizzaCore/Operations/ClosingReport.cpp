#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Models/ClosingReport.hpp>
#include <PizzaCore/Models/Database.hpp>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace pizzacore {
namespace {

// Sums of money never wrap around: a total beyond the 64-bit range is a refusal.
Cents add(Cents a, Cents b) {
    Cents sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) throw PCError::invalid("El importe supera el límite admitido.");
    return sum;
}

std::int64_t addCount(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) throw PCError::invalid("El importe supera el límite admitido.");
    return sum;
}

// Fills everything but the shifts, from the shifts already listed in `report`.
void count(const Database& db, ClosingReport& report) {
    std::unordered_map<Uuid, std::size_t> shiftOf;
    for (std::size_t i = 0; i < report.shifts.size(); ++i) {
        const ClosingReport::Shift& shift = report.shifts[i];
        report.sales = add(report.sales, shift.sales);
        report.receipts = add(report.receipts, shift.receipts);
        report.cash = add(report.cash, shift.cash);
        report.card = add(report.card, shift.card);
        shiftOf.emplace(shift.session.id, i);
    }
    std::unordered_set<Uuid> paid;
    paid.reserve(db.payments.size());
    for (const Payment& payment : db.payments)
        paid.insert(payment.orderID);

    std::unordered_map<std::string, ClosingReport::Breakdown> categories;
    for (const auto& [mode, name] : EnumCases<Mode>::cases)
        report.modes.push_back({std::string(name), 0, 0});
    for (const Order& order : db.orders) {
        const auto found = shiftOf.find(order.sessionID);
        if (found == shiftOf.end()) continue;
        ClosingReport::Shift& shift = report.shifts[found->second];
        ++shift.orders;
        ++report.orders;
        if (order.preparation == Preparation::cancelled) {
            ++shift.cancelled;
            report.cancelled.push_back({order, shift.ordinal});
            continue;
        }
        const Cents total = order.total();
        if (!paid.contains(order.id)) {
            ++report.unpaidOrders;
            report.unpaid = add(report.unpaid, total);
        }
        for (std::size_t m = 0; m < EnumCases<Mode>::cases.size(); ++m) {
            if (EnumCases<Mode>::cases[m].first != order.draft.mode) continue;
            report.modes[m].count = addCount(report.modes[m].count, 1);
            report.modes[m].sales = add(report.modes[m].sales, total);
        }
        for (const Line& line : order.draft.lines) {
            ClosingReport::Breakdown& category = categories[line.category.id];
            if (category.name.empty()) category.name = line.category.rawValue;
            category.count = addCount(category.count, line.quantity);
            category.sales = add(category.sales, line.total());
        }
    }
    report.unpaidAll = db.unpaid();

    // The catalogue's categories first, in its order and under their current names, then the
    // ones deleted since, alphabetically by the name their lines keep.
    for (const Category& category : db.categories) {
        const auto found = categories.find(category.id);
        if (found == categories.end()) continue;
        found->second.name = category.rawValue;
        report.categories.push_back(found->second);
        categories.erase(found);
    }
    std::vector<ClosingReport::Breakdown> others;
    for (auto& [name, breakdown] : categories)
        others.push_back(std::move(breakdown));
    std::sort(others.begin(), others.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    report.categories.insert(report.categories.end(), others.begin(), others.end());
}

ClosingReport::Shift shiftFigures(const Database& db, const Session& session, std::size_t ordinal) {
    ClosingReport::Shift shift;
    shift.session = session;
    shift.ordinal = ordinal;
    shift.sales = db.sales(session);
    shift.receipts = db.receipts(std::nullopt, session);
    shift.cash = db.receipts(PaymentMethod::cash, session);
    shift.card = db.receipts(PaymentMethod::card, session);
    return shift;
}

} // namespace

ClosingReport ClosingReport::ofDay(const Database& db, std::string day) {
    ClosingReport report;
    report.day = std::move(day);
    for (const Session& session : db.sessions)
        if (session.businessDay == report.day)
            report.shifts.push_back(shiftFigures(db, session, report.shifts.size() + 1));
    count(db, report);
    return report;
}

std::optional<ClosingReport> ClosingReport::ofShift(const Database& db, const Uuid& id) {
    const auto found =
        std::find_if(db.sessions.begin(), db.sessions.end(), [&](const Session& s) { return s.id == id; });
    if (found == db.sessions.end()) return std::nullopt;
    ClosingReport report;
    report.day = found->businessDay;
    report.session = id;
    std::size_t ordinal = 0;
    for (const Session& session : db.sessions) {
        if (session.businessDay != report.day) continue;
        ++ordinal;
        if (session.id == id) break;
    }
    report.shifts.push_back(shiftFigures(db, *found, ordinal));
    count(db, report);
    return report;
}

} // namespace pizzacore
