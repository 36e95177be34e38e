#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Operations/BusinessClock.hpp>

#include <algorithm>
#include <unordered_set>
#include <utility>

namespace pizzacore {
namespace {

// Sums of money never wrap around: a total beyond the 64-bit range is a refusal.
Cents checkedAdd(Cents a, Cents b) {
    Cents sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) throw PCError::invalid("El importe supera el límite admitido.");
    return sum;
}

bool counts(const Order& order) {
    return order.preparation != Preparation::cancelled;
}

bool isOpen(const Session& session) {
    return !session.closed.has_value();
}

} // namespace

Cents Database::sales(const Session& session) const {
    Cents total = 0;
    for (const Order& order : orders)
        if (order.sessionID == session.id && counts(order)) total = checkedAdd(total, order.total());
    return total;
}

Cents Database::receipts(std::optional<PaymentMethod> method, const Session& session) const {
    Cents total = 0;
    for (const Payment& payment : payments)
        if (payment.sessionID == session.id && (!method || payment.method == *method))
            total = checkedAdd(total, payment.cents);
    return total;
}

Cents Database::unpaid() const {
    std::unordered_set<Uuid> paid;
    paid.reserve(payments.size());
    for (const Payment& payment : payments)
        paid.insert(payment.orderID);
    Cents total = 0;
    for (const Order& order : orders)
        if (counts(order) && !paid.contains(order.id)) total = checkedAdd(total, order.total());
    return total;
}

void Database::close(std::size_t index, Instant at, std::string reason) {
    // The three figures first: should one of them fail, the session stays as it was.
    const Session& current = std::as_const(sessions).at(index);
    const Cents sold = sales(current);
    const Cents received = receipts(std::nullopt, current);
    const Cents owed = unpaid();
    Session& session = sessions.modify(index);
    session.salesAtClose = sold;
    session.receiptsAtClose = received;
    session.unpaidAtClose = owed;
    session.closed = at;
    session.reason = reason;
    record("Cierre " + reason, session.id.text(), at);
}

void Database::reconcile(Instant now) {
    const auto open = std::find_if(sessions.begin(), sessions.end(), isOpen);
    const bool due = open != sessions.end() && now >= open->scheduledEnd;
    if (open != sessions.end() && !due) return;

    // Whether a session opens once the due one is closed: only when no other one is left open.
    const bool opens = open == sessions.end() || std::none_of(open + 1, sessions.end(), isOpen);
    Session opened;
    if (opens) {
        // Worked out before anything changes, so that a failure leaves the document as it was.
        opened.id = Uuid::random();
        opened.businessDay = BusinessClock::day(now, settings);
        opened.opened = now;
        opened.scheduledEnd = BusinessClock::next(now, settings);
    }

    // A due session closes at its scheduled end, which may lie well in the past after days
    // without the application running; no sessions are made up for the days in between.
    if (due) close(static_cast<std::size_t>(open - sessions.begin()), open->scheduledEnd, "Automático");
    if (!opens) return;
    const std::string reference = opened.id.text();
    sessions.push_back(std::move(opened));
    record("Apertura", reference, now);
}

void Database::closeManually(Uuid expected, Instant now) {
    reconcile(now);
    // The session may have closed by itself meanwhile (or earlier, or never existed): then the
    // operator's request has nothing left to do.
    const auto session = std::find_if(sessions.begin(), sessions.end(), [&](const Session& candidate) {
        return candidate.id == expected && isOpen(candidate);
    });
    if (session == sessions.end()) return;
    close(static_cast<std::size_t>(session - sessions.begin()), now, "Manual");
    // The next shift opens at once, on the business day of `now`.
    reconcile(now);
}

} // namespace pizzacore
