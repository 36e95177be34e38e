#include "TillWorkload.hpp"

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Json/Json.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <string_view>

namespace pizzacore::testing {

namespace {

// Where canonical identifier text starts in `text` at `at`: 8-4-4-4-12 hexadecimal digits.
bool identifierAt(std::string_view text, std::size_t at) {
    if (at + 36 > text.size()) return false;
    for (std::size_t i = 0; i < 36; ++i) {
        const char c = text[at + i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

template <class Visit>
void forEachIdentifier(std::string_view text, Visit visit) {
    for (std::size_t at = 0; at + 36 <= text.size(); ++at)
        if (identifierAt(text, at)) {
            visit(at);
            at += 35;
        }
}

std::uint64_t fnv(std::uint64_t digest, std::string_view bytes) {
    for (const char c : bytes)
        digest = (digest ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    return digest;
}

// The latest instant the document mentions in its audit trail, orders and sessions.
Instant latestInstant(const Database& db) {
    Instant latest = Instant::fromUnix(1'700'000'000);
    for (const Audit& entry : db.audit)
        latest = std::max(latest, entry.date);
    for (const Order& order : db.orders)
        latest = std::max(latest, order.created);
    for (const Session& session : db.sessions)
        latest = std::max({latest, session.opened, session.closed.value_or(session.opened)});
    return latest;
}

constexpr std::array<std::string_view, 12> typed = {"a", "e", "o", "ñ", " ", "3",
                                                    "º", "é", "-", "P", "z", "·"};

} // namespace

TillWorkload::TillWorkload(const Database& start, std::uint64_t seed)
    : state_(seed)
    , clock_(latestInstant(start)) {
    const std::string text = toJSON(start);
    forEachIdentifier(text, [&](std::size_t at) { known_.insert(text.substr(at, 36)); });
}

std::uint64_t TillWorkload::draw() {
    // splitmix64: small and the same everywhere.
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::string TillWorkload::madeIdentifier() {
    Uuid made;
    const std::uint64_t high = draw(), low = draw() ^ ++made_;
    for (std::size_t i = 0; i < 8; ++i) {
        made.bytes[i] = static_cast<std::uint8_t>(high >> (8 * i));
        made.bytes[8 + i] = static_cast<std::uint8_t>(low >> (8 * i));
    }
    made.bytes[6] = static_cast<std::uint8_t>((made.bytes[6] & 0x0F) | 0x40);
    made.bytes[8] = static_cast<std::uint8_t>((made.bytes[8] & 0x3F) | 0x80);
    return made.text();
}

std::string TillWorkload::replaceNewIdentifiers(const std::string& text) {
    std::string result = text;
    std::map<std::string, std::string> replaced;
    forEachIdentifier(text, [&](std::size_t at) {
        std::string identifier = text.substr(at, 36);
        std::transform(identifier.begin(), identifier.end(), identifier.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (known_.contains(identifier)) return;
        auto found = replaced.find(identifier);
        if (found == replaced.end()) found = replaced.emplace(identifier, madeIdentifier()).first;
        result.replace(at, 36, found->second);
    });
    for (const auto& [drawn, made] : replaced)
        known_.insert(made);
    return result;
}

TillWorkload::Step TillWorkload::next(const Database& before) {
    clock_.seconds += static_cast<double>(20 + below(900));
    Database changed = before;
    std::string kind;
    const std::size_t choice = below(100);
    try {
        if (choice < 40)
            kind = typeIntoDraft(changed);
        else if (choice < 65)
            kind = confirm(changed);
        else if (choice < 88)
            kind = pay(changed);
        else if (choice < 96)
            kind = moveAlong(changed);
        else
            kind = closeShift(changed);
    } catch (const PCError&) {
        // Refused: the document stays as it was, and the step changes nothing.
        changed = before;
        if (kind.empty()) kind = "transaction";
    }

    Step step;
    step.kind = kind;
    const std::string changeText = replaceNewIdentifiers(encodeChange(diff(before, changed)));
    step.change = decodeChange(changeText);
    step.after = before;
    apply(step.after, step.change);
    digest_ = fnv(fnv(digest_, kind), changeText);
    step.digest = digest_;
    return step;
}

std::string TillWorkload::typeIntoDraft(Database& db) {
    std::string& field = below(3) == 0 ? db.draft.name : db.draft.notes;
    // Typing, with now and then a correction or a line added.
    const std::size_t what = below(10);
    if (what == 0 && !field.empty()) {
        field.clear();
    } else if (what == 1) {
        const auto active = std::find_if(db.products.begin(), db.products.end(),
                                         [](const Product& product) { return product.active; });
        if (active != db.products.end()) db.draft.lines.push_back(Line::make(*active));
    } else if (field.size() < 200) {
        field += typed[below(typed.size())];
    }
    return "draft";
}

std::string TillWorkload::confirm(Database& db) {
    if (db.draft.lines.empty()) {
        for (const Product& product : db.products)
            if (product.active && db.draft.lines.size() < 1 + below(3))
                db.draft.lines.push_back(Line::make(product));
    }
    // A pickup order needs nothing of the customer.
    db.draft.mode = Mode::pickup;
    db.confirm(db.draft, clock_);
    return "transaction";
}

std::string TillWorkload::pay(Database& db) {
    // The most recent orders that are neither paid nor cancelled.
    const Database& view = db;
    for (std::size_t back = 0; back < std::min<std::size_t>(view.orders.size(), 40); ++back) {
        const Order& order = view.orders[view.orders.size() - 1 - back];
        if (order.cancellationReason || order.preparation == Preparation::cancelled || db.paymentFor(order))
            continue;
        const Uuid orderID = order.id;
        const Cents total = order.total();
        if (below(2) == 0)
            db.pay(orderID, PaymentMethod::card, std::nullopt, clock_);
        else
            db.pay(orderID, PaymentMethod::cash, total + static_cast<Cents>(below(3)) * 500, clock_);
        return "transaction";
    }
    return confirm(db);
}

std::string TillWorkload::moveAlong(Database& db) {
    const Database& view = db;
    if (view.orders.empty()) return confirm(db);
    const Order& order =
        view.orders[view.orders.size() - 1 - below(std::min<std::size_t>(view.orders.size(), 10))];
    if (order.preparation == Preparation::cancelled) return "transaction";
    const Uuid orderID = order.id;
    constexpr std::array<Preparation, 3> states = {Preparation::preparing, Preparation::ready,
                                                   Preparation::delivered};
    db.prepare(orderID, states[below(states.size())], clock_);
    return "transaction";
}

std::string TillWorkload::closeShift(Database& db) {
    db.reconcile(clock_);
    const Database& view = db;
    for (const Session& session : view.sessions)
        if (!session.closed) {
            const Uuid sessionID = session.id;
            db.closeManually(sessionID, clock_);
            break;
        }
    return "transaction";
}

} // namespace pizzacore::testing
