#include <PizzaCore/PizzaCore.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace pizzacore {
namespace {

constexpr double hour = 3600;
constexpr double day = 24 * hour;

// Instants in Madrid (UTC+1 in March 2026), as Unix seconds worked out by hand.
const Instant monday12h = Instant::fromUnix(1773054000);            // 2026-03-09 12:00
const Instant monday18h = Instant::fromUnix(1773054000 + 6 * hour); // 2026-03-09 18:00
const Instant tuesday4h = Instant::fromUnix(1773111600);            // 2026-03-10 04:00
const Instant wednesday4h = Instant::fromUnix(1773111600 + day);

Instant plus(Instant instant, double seconds) {
    return Instant{instant.seconds + seconds};
}

struct Entry {
    std::string action;
    std::string reference;
    Instant date;
    bool operator==(const Entry&) const = default;
};

void PrintTo(const Entry& entry, std::ostream* out) {
    *out << "{" << entry.action << ", " << entry.reference << ", " << entry.date.unixSeconds() << "}";
}

std::vector<Entry> entries(const Database& database, std::size_t from = 0) {
    std::vector<Entry> result;
    for (std::size_t i = from; i < database.audit.size(); ++i)
        result.push_back({database.audit[i].action, database.audit[i].reference, database.audit[i].date});
    return result;
}

Order order(const Session& session, std::vector<std::pair<Cents, std::int64_t>> lines,
            Preparation preparation = Preparation::preparing) {
    Order result;
    result.sessionID = session.id;
    result.preparation = preparation;
    for (auto [cents, quantity] : lines) {
        Line line;
        line.cents = cents;
        line.quantity = quantity;
        result.draft.lines.push_back(line);
    }
    return result;
}

Payment payment(const Order& order, const Session& session, PaymentMethod method, Cents received = 0) {
    Payment result;
    result.orderID = order.id;
    result.sessionID = session.id;
    result.method = method;
    result.cents = order.total();
    result.received = received == 0 ? result.cents : received;
    return result;
}

TEST(Sessions, FirstReconcileOpensOneSession) {
    Database database;
    database.reconcile(monday12h);
    ASSERT_EQ(database.sessions.size(), 1u);
    const Session& session = database.sessions[0];
    EXPECT_EQ(session.businessDay, "2026-03-09");
    EXPECT_EQ(session.opened, monday12h);
    EXPECT_EQ(session.scheduledEnd, tuesday4h);
    EXPECT_FALSE(session.closed || session.reason || session.salesAtClose || session.receiptsAtClose ||
                 session.unpaidAtClose);
    EXPECT_EQ(entries(database), (std::vector<Entry>{{"Apertura", session.id.text(), monday12h}}));

    // Nothing is due until the scheduled end, and a second call at the same instant changes nothing.
    for (Instant later : {monday12h, plus(tuesday4h, -0.001)}) {
        const Database before = database;
        database.reconcile(later);
        EXPECT_EQ(database, before);
    }
}

TEST(Sessions, ReconcileAtTheScheduledEndClosesAndOpensTheNextDay) {
    Database database;
    database.reconcile(monday12h);
    const Uuid first = database.sessions[0].id;
    database.reconcile(tuesday4h);
    const Database afterClose = database;
    database.reconcile(tuesday4h);
    EXPECT_EQ(database, afterClose);

    ASSERT_EQ(database.sessions.size(), 2u);
    const Session& closed = database.sessions[0];
    EXPECT_EQ(closed.closed, tuesday4h);
    EXPECT_EQ(closed.reason, "Automático");
    EXPECT_EQ(closed.salesAtClose, 0);
    EXPECT_EQ(closed.receiptsAtClose, 0);
    EXPECT_EQ(closed.unpaidAtClose, 0);
    const Session& opened = database.sessions[1];
    EXPECT_EQ(opened.businessDay, "2026-03-10");
    EXPECT_EQ(opened.opened, tuesday4h);
    EXPECT_EQ(opened.scheduledEnd, wednesday4h);
    EXPECT_EQ(entries(database, 1), (std::vector<Entry>{{"Cierre Automático", first.text(), tuesday4h},
                                                        {"Apertura", opened.id.text(), tuesday4h}}));
}

TEST(Sessions, DaysOfDowntimeCloseTheOldSessionOnceAtItsOwnEnd) {
    Database database;
    database.reconcile(monday12h);
    const Instant fiveDaysLater = plus(monday12h, 5 * day + 0.5);
    database.reconcile(fiveDaysLater);
    database.reconcile(fiveDaysLater);

    ASSERT_EQ(database.sessions.size(), 2u);
    EXPECT_EQ(database.sessions[0].closed, tuesday4h);
    EXPECT_EQ(database.sessions[1].businessDay, "2026-03-14");
    EXPECT_EQ(database.sessions[1].opened, fiveDaysLater);
    EXPECT_EQ(database.sessions[1].scheduledEnd, plus(tuesday4h, 5 * day));
    EXPECT_EQ(entries(database, 1),
              (std::vector<Entry>{{"Cierre Automático", database.sessions[0].id.text(), tuesday4h},
                                  {"Apertura", database.sessions[1].id.text(), fiveDaysLater}}));
}

TEST(Sessions, ManualCloseOpensASecondShiftThatEndsAtTheSameClosingTime) {
    auto current = std::make_shared<Instant>(monday12h);
    const Clock clock = Clock::manual(current);
    Database database;
    database.reconcile(clock.now());
    const Uuid first = database.sessions[0].id;

    *current = monday18h;
    database.closeManually(first, clock.now());
    ASSERT_EQ(database.sessions.size(), 2u);
    EXPECT_EQ(database.sessions[0].closed, monday18h);
    EXPECT_EQ(database.sessions[0].reason, "Manual");
    const Session second = database.sessions[1];
    EXPECT_EQ(second.businessDay, "2026-03-09");
    EXPECT_EQ(second.opened, monday18h);
    EXPECT_EQ(second.scheduledEnd, tuesday4h);
    EXPECT_EQ(entries(database, 1), (std::vector<Entry>{{"Cierre Manual", first.text(), monday18h},
                                                        {"Apertura", second.id.text(), monday18h}}));

    *current = plus(tuesday4h, 30);
    database.reconcile(clock.now());
    ASSERT_EQ(database.sessions.size(), 3u);
    EXPECT_EQ(database.sessions[1].closed, tuesday4h);
    EXPECT_EQ(database.sessions[1].reason, "Automático");
    EXPECT_EQ(database.sessions[2].businessDay, "2026-03-10");
}

// A manual close of a session that is no longer open only reconciles.
TEST(Sessions, ManualCloseOfASessionNoLongerOpenChangesNothingMore) {
    Database database;
    database.reconcile(monday12h);
    const Uuid first = database.sessions[0].id;

    Database unknown = database;
    unknown.closeManually(Uuid::random(), monday18h);
    EXPECT_EQ(unknown, database);

    // The session fell due before the operator confirmed: it closes by itself at its end.
    Database late = database;
    late.closeManually(first, plus(tuesday4h, 60));
    ASSERT_EQ(late.sessions.size(), 2u);
    EXPECT_EQ(late.sessions[0].reason, "Automático");
    EXPECT_FALSE(late.sessions[1].closed);
    EXPECT_EQ(entries(late, 1),
              (std::vector<Entry>{{"Cierre Automático", first.text(), tuesday4h},
                                  {"Apertura", late.sessions[1].id.text(), plus(tuesday4h, 60)}}));

    // Closing the same session twice.
    Database twice = database;
    twice.closeManually(first, monday18h);
    const Database once = twice;
    twice.closeManually(first, plus(monday18h, 1));
    EXPECT_EQ(twice, once);
}

TEST(Sessions, NewSettingsApplyFromTheNextSession) {
    Database database;
    database.reconcile(monday12h);
    database.settings.closingHour = 6;
    database.settings.timeZone = "Atlantic/Canary";
    database.reconcile(plus(tuesday4h, -1));
    EXPECT_EQ(database.sessions.back().scheduledEnd, tuesday4h);
    database.reconcile(tuesday4h);
    // 06:00 in the Canary Islands (UTC+0 in March) on the same Tuesday.
    EXPECT_EQ(database.sessions.back().scheduledEnd, plus(tuesday4h, 3 * hour));
}

// Two shifts: yesterday's (closed) and today's (open). Orders of both, some paid today.
struct Shifts {
    Database database;
    Session yesterday;
    Session today;
    Order paidToday;      // yesterday's order, paid by card today
    Order owedYesterday;  // yesterday's, unpaid
    Order cancelled;      // yesterday's, cancelled, unpaid
    Order owedToday;      // today's, unpaid
    Order paidCash;       // today's, paid cash with change
    Order cancelledToday; // today's, cancelled

    Shifts() {
        database.reconcile(monday12h);
        yesterday = database.sessions[0];
        paidToday = order(yesterday, {{1250, 2}, {300, 1}}); // 2800
        owedYesterday = order(yesterday, {{990, 3}});        // 2970
        cancelled = order(yesterday, {{5000, 1}}, Preparation::cancelled);
        database.orders = {paidToday, owedYesterday, cancelled};
        database.reconcile(tuesday4h);
        today = database.sessions[1];
        owedToday = order(today, {{450, 4}}, Preparation::delivered);      // 1800
        paidCash = order(today, {{1500, 1}, {25, 4}}, Preparation::ready); // 1600
        cancelledToday = order(today, {{700, 1}}, Preparation::cancelled);
        for (const Order& added : {owedToday, paidCash, cancelledToday})
            database.orders.push_back(added);
        database.payments = {payment(paidToday, today, PaymentMethod::card),
                             payment(paidCash, today, PaymentMethod::cash, 2000)};
    }
};

TEST(Sessions, TotalsFollowSessionsOfOrdersAndOfPayments) {
    const Shifts shifts;
    const Database& db = shifts.database;
    EXPECT_EQ(db.sales(shifts.yesterday), 2800 + 2970);
    EXPECT_EQ(db.sales(shifts.today), 1800 + 1600);
    EXPECT_EQ(db.receipts(std::nullopt, shifts.yesterday), 0);
    EXPECT_EQ(db.receipts(std::nullopt, shifts.today), 2800 + 1600);
    EXPECT_EQ(db.receipts(PaymentMethod::card, shifts.today), 2800);
    EXPECT_EQ(db.receipts(PaymentMethod::cash, shifts.today), 1600); // charged, not handed over
    EXPECT_EQ(db.unpaid(), 2970 + 1800);
    Session unknown;
    EXPECT_EQ(db.sales(unknown), 0);
    EXPECT_EQ(db.receipts(std::nullopt, unknown), 0);
}

TEST(Sessions, CloseFreezesTheTotalsOfThatMoment) {
    Shifts shifts;
    Database& db = shifts.database;
    db.closeManually(shifts.today.id, plus(tuesday4h, 8 * hour));
    const Session& closed = db.sessions[1];
    EXPECT_EQ(closed.salesAtClose, 1800 + 1600);
    EXPECT_EQ(closed.receiptsAtClose, 2800 + 1600);
    EXPECT_EQ(closed.unpaidAtClose, 2970 + 1800); // includes yesterday's unpaid order
    // Yesterday's snapshot was taken before any of today's orders or payments existed.
    EXPECT_EQ(db.sessions[0].salesAtClose, 2800 + 2970);
    EXPECT_EQ(db.sessions[0].receiptsAtClose, 0);
    EXPECT_EQ(db.sessions[0].unpaidAtClose, 2800 + 2970);

    // A payment taken later changes nothing that was frozen.
    db.payments.push_back(payment(shifts.owedYesterday, db.sessions[2], PaymentMethod::cash));
    EXPECT_EQ(db.unpaid(), 1800);
    EXPECT_EQ(db.sessions[1].unpaidAtClose, 2970 + 1800);
    EXPECT_EQ(db.receipts(std::nullopt, db.sessions[2]), 2970);
}

TEST(Sessions, SumsBeyondTheIntegerRangeAreRefusedAndChangeNothing) {
    constexpr Cents big = std::numeric_limits<Cents>::max() / 2 + 1;
    struct Case {
        const char* what;
        std::vector<std::vector<std::pair<Cents, std::int64_t>>> orders;
    };
    const Case cases[] = {
        {"one line", {{{big, 2}}}},
        {"two lines", {{{big, 1}, {big, 1}}}},
        {"two orders", {{{big, 1}}, {{big, 1}}}},
        {"below the range", {{{std::numeric_limits<Cents>::min(), 1}, {-1, 1}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Database db;
        db.reconcile(monday12h);
        for (const auto& lines : c.orders)
            db.orders.push_back(order(db.sessions[0], lines));
        try {
            (void)db.sales(db.sessions[0]);
            ADD_FAILURE() << "no refusal";
        } catch (const PCError& error) {
            EXPECT_STREQ(error.what(), "El importe supera el límite admitido.");
        }
        EXPECT_THROW((void)db.unpaid(), PCError);
        const Database before = db;
        EXPECT_THROW(db.reconcile(tuesday4h), PCError);
        EXPECT_EQ(db, before);
    }

    Database db;
    db.reconcile(monday12h);
    Payment huge;
    huge.sessionID = db.sessions[0].id;
    huge.cents = big;
    db.payments = {huge, huge};
    EXPECT_THROW((void)db.receipts(std::nullopt, db.sessions[0]), PCError);
}

// A broken clock reading is refused before anything changes: the due session is not closed.
TEST(Sessions, InstantsOutsideTheCalendarChangeNothing) {
    Database database;
    const Database empty = database;
    EXPECT_THROW(database.reconcile(Instant{std::numeric_limits<double>::infinity()}), PCError);
    EXPECT_EQ(database, empty);
    database.reconcile(monday12h);
    const Database before = database;
    EXPECT_THROW(database.reconcile(Instant{1e300}), PCError);
    EXPECT_EQ(database, before);
}

TEST(Clock, FixedManualAndSystem) {
    EXPECT_EQ(Clock::fixed(monday12h).now(), monday12h);
    auto current = std::make_shared<Instant>(monday12h);
    const Clock manual = Clock::manual(current);
    *current = tuesday4h;
    EXPECT_EQ(manual.now(), tuesday4h);
    const Instant before = Instant::now();
    const Instant reading = Clock::system().now();
    EXPECT_LE(before, reading);
    EXPECT_LE(reading, Instant::now());
    EXPECT_THROW(Clock::manual(nullptr), std::invalid_argument);
    EXPECT_THROW(Clock(std::function<Instant()>{}), std::invalid_argument);
}

} // namespace
} // namespace pizzacore
