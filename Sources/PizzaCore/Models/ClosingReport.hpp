#pragma once

#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Models/Enumerations.hpp>
#include <PizzaCore/Models/Money.hpp>
#include <PizzaCore/Models/Orders.hpp>
#include <PizzaCore/Models/Session.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace pizzacore {

struct Database;

// The figures of the closing report of one business day, or of one shift of it. The shifts'
// sales and receipts are the session operations' own (Database::sales and receipts), so that they
// are the figures the sessions screen shows and freezes at closing. Sessions and orders are
// copies: a report outlives the document it was made from and can be drawn on any thread.
struct ClosingReport {
    struct Shift {
        Session session;
        // Its place among the day's shifts, 1 for the first, also in a report of that shift alone.
        std::size_t ordinal = 0;
        std::size_t orders = 0;
        std::size_t cancelled = 0;
        Cents sales = 0;
        Cents receipts = 0;
        Cents cash = 0;
        Cents card = 0;
    };

    struct CancelledOrder {
        Order order;
        // The ordinal of the order's shift.
        std::size_t shift = 0;
    };

    // Sales of the orders that count (not cancelled) by line category or by mode.
    struct Breakdown {
        std::string name;
        // Units sold for a category, orders for a mode.
        std::int64_t count = 0;
        Cents sales = 0;
    };

    std::string day;
    // Set for the report of one shift.
    std::optional<Uuid> session;
    std::vector<Shift> shifts;
    std::vector<CancelledOrder> cancelled;
    std::size_t orders = 0;
    Cents sales = 0;
    Cents receipts = 0;
    Cents cash = 0;
    Cents card = 0;
    // Orders of the report that are neither cancelled nor paid.
    std::size_t unpaidOrders = 0;
    Cents unpaid = 0;
    // Every unpaid order of every day, as the sessions screen shows it.
    Cents unpaidAll = 0;
    // The categories sold, by their identifier: the catalogue's in its order and under their
    // current names, then those deleted since by the name their lines keep.
    std::vector<Breakdown> categories;
    // Every mode, in display order ("Recoger", "Comer en local", "Domicilio").
    std::vector<Breakdown> modes;

    // The report of the business day `day` ("yyyy-MM-dd"): every shift of that day in opening
    // order; a day without shifts gives a report without them.
    static ClosingReport ofDay(const Database& db, std::string day);
    // The report of one shift; absent when no session has that id.
    static std::optional<ClosingReport> ofShift(const Database& db, const Uuid& session);
};

} // namespace pizzacore
