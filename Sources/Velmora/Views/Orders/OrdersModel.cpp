#include <Velmora/Views/Orders/OrdersModel.hpp>

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>

#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Models/Enumerations.hpp>
#include <PizzaCore/Models/FiscalMoney.hpp>

#include <QThreadPool>

#include <algorithm>
#include <functional>
#include <mutex>
#include <set>
#include <string_view>
#include <utility>

namespace velmora {

namespace {

QString amount(const pizzacore::Order& order, const pizzacore::Settings& settings) {
    try {
        return qtext(pizzacore::FiscalMoney::text(order.total(), settings.currencyCode()));
    } catch (...) {
        // A total beyond the 64-bit range never passes validation; show no amount rather than fail.
        return QStringLiteral("—");
    }
}

// The row at `position` in `shown` (positions in descending order), or where it would go.
std::size_t placeOf(const std::vector<int>& shown, int position) {
    return static_cast<std::size_t>(std::lower_bound(shown.begin(), shown.end(), position, std::greater<>()) -
                                    shown.begin());
}

} // namespace

struct OrdersModel::Handover {
    std::mutex mutex;
    // Cleared by the model's destructor: the worker then drops what it made.
    OrdersModel* model = nullptr;
};

OrdersModel::OrdersModel(AppStore& store, QObject* parent)
    : OrdersModel(store, defaultBackgroundFrom, parent) {}

OrdersModel::OrdersModel(AppStore& store, std::size_t backgroundFrom, QObject* parent)
    : QAbstractListModel(parent)
    , store_(store)
    , backgroundFrom_(backgroundFrom)
    , locale_(pizzacore::textLocale())
    , matcher_(locale_)
    , handover_(std::make_shared<Handover>()) {
    handover_->model = this;
    refresh();
}

OrdersModel::~OrdersModel() {
    const std::lock_guard lock(handover_->mutex);
    handover_->model = nullptr;
}

int OrdersModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

QVariant OrdersModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return {};
    const int position = shown_[static_cast<std::size_t>(index.row())];
    const Row& row = rows_[static_cast<std::size_t>(position)];
    const Orders& stored = orders();
    if (static_cast<std::size_t>(position) >= stored.size()) return {};
    const pizzacore::Order& order = stored[static_cast<std::size_t>(position)];
    const pizzacore::Settings& settings = store_.db().settings;
    const auto name = [&] {
        QString shown = order.draft.name.empty() ? QStringLiteral("Mostrador") : qtext(order.draft.name);
        // A row has one line for the name.
        shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
        return shown;
    };
    const auto detail = [&] {
        return qtext(pizzacore::rawValue(order.draft.mode)) + QStringLiteral(" · ") +
               qtext(pizzacore::rawValue(order.preparation));
    };
    const auto status = [&] {
        if (row.paid()) return QStringLiteral("Cobrado");
        return row.cancelled() ? QStringLiteral("Anulado") : QStringLiteral("Pendiente de cobro");
    };
    switch (role) {
    case Qt::DisplayRole:
        return QStringLiteral("#") + QString::number(order.number) + QLatin1Char(' ') + name() +
               QStringLiteral(" · ") + amount(order, settings) + QStringLiteral(" · ") + detail() +
               QStringLiteral(" · ") + status();
    case Qt::AccessibleTextRole:
        return data(index, Qt::DisplayRole).toString() + QStringLiteral(" · ") +
               whenText(order.created, store_.now());
    case WhenRole:
        return whenText(order.created, store_.now());
    case IdRole:
        return qtext(order.id.text());
    case NumberRole:
        return QStringLiteral("#") + QString::number(order.number);
    case NameRole:
        return name();
    case TotalRole:
        return amount(order, settings);
    case DetailRole:
        return detail();
    case StatusRole:
        return status();
    case PaidRole:
        return row.paid();
    default:
        return {};
    }
}

const OrdersModel::Orders& OrdersModel::orders() const {
    // A kept version is exactly what the records describe, even while the screen waits to catch
    // up; without one, the published document is (the screen brings the records up to it).
    if constexpr (RecordVersion<Orders>::exact) {
        if (ordersVersion_.known()) return ordersVersion_.list();
    }
    return store_.db().orders;
}

std::optional<pizzacore::Uuid> OrdersModel::orderAt(int row) const {
    if (row < 0 || row >= rowCount()) return std::nullopt;
    return rows_[static_cast<std::size_t>(shown_[static_cast<std::size_t>(row)])].id;
}

int OrdersModel::rowOf(const pizzacore::Uuid& id) const {
    const auto found = positions_.find(id);
    if (found == positions_.end()) return -1;
    const std::size_t at = placeOf(shown_, found->second);
    if (at == shown_.size() || shown_[at] != found->second) return -1;
    return static_cast<int>(at);
}

const pizzacore::Order* OrdersModel::order(const pizzacore::Uuid& id) const {
    if (!ready_) {
        // While the records are being made the detail can still show an order: the one asked
        // for is nearly always among the latest.
        const Orders& stored = store_.db().orders;
        for (std::size_t at = stored.size(); at > 0; --at)
            if (stored[at - 1].id == id) return &stored[at - 1];
        return nullptr;
    }
    const auto found = positions_.find(id);
    const Orders& stored = orders();
    if (found == positions_.end() || static_cast<std::size_t>(found->second) >= stored.size()) return nullptr;
    const pizzacore::Order& order = stored[static_cast<std::size_t>(found->second)];
    return order.id == id ? &order : nullptr;
}

void OrdersModel::setFilter(const OrdersFilter& filter) {
    if (filter.day == filter_.day && filter.pending == filter_.pending && filter.query == filter_.query)
        return;
    filter_ = filter;
    query_ = filter_.query.toStdString();
    foldedQuery_ = query_.empty() ? std::string() : matcher_.folded(query_);
    chooseDaySessions();
    show(filtered());
}

OrdersFilter OrdersModel::filterShowing(const pizzacore::Uuid& id) const {
    OrdersFilter showing = filter_;
    const auto found = positions_.find(id);
    if (found == positions_.end() || static_cast<std::size_t>(found->second) >= rows_.size()) return showing;
    const Row& row = rows_[static_cast<std::size_t>(found->second)];
    if (!showing.day.isEmpty()) {
        const auto day = sessionDays_.find(row.sessionID);
        if (day == sessionDays_.end() || day->second != showing.day.toStdString()) showing.day.clear();
    }
    if (showing.pending && (row.cancelled() || row.paid())) showing.pending = false;
    if (!showing.query.isEmpty() && !matches(row, query_, foldedQuery_)) showing.query.clear();
    return showing;
}

bool OrdersModel::matches(const Row& row, const std::string& query, const std::string& foldedQuery) {
    return row.numberText.find(query) != std::string::npos ||
           pizzacore::CaseInsensitiveMatcher::contains(row.foldedName, foldedQuery) ||
           row.phone.find(query) != std::string::npos;
}

bool OrdersModel::accepts(const Row& row) const {
    // A missing session has no day, so a chosen day never shows its orders.
    if (!filter_.day.isEmpty() &&
        std::find(daySessions_.begin(), daySessions_.end(), row.sessionID) == daySessions_.end())
        return false;
    if (filter_.pending && (row.cancelled() || row.paid())) return false;
    return query_.empty() || matches(row, query_, foldedQuery_);
}

std::vector<int> OrdersModel::filtered() const {
    std::vector<int> result;
    result.reserve(rows_.size());
    for (auto position = static_cast<int>(rows_.size()) - 1; position >= 0; --position)
        if (accepts(rows_[static_cast<std::size_t>(position)])) result.push_back(position);
    return result;
}

// Moves to a new list of rows as one layout change: the views keep their selection and current
// row on the same orders (or lose them when the order is no longer shown), and only the rows on
// screen are drawn again.
void OrdersModel::show(std::vector<int> rows) {
    if (rows == shown_) {
        if (!shown_.empty()) emit dataChanged(index(0), index(rowCount() - 1));
        return;
    }
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<int> positions;
    positions.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& old : before)
        positions.push_back(
            old.row() >= 0 && old.row() < rowCount() ? shown_[static_cast<std::size_t>(old.row())] : -1);
    shown_ = std::move(rows);
    QModelIndexList after;
    after.reserve(before.size());
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const std::size_t at = placeOf(shown_, positions[i]);
        const bool kept = positions[i] >= 0 && at < shown_.size() && shown_[at] == positions[i];
        after.push_back(kept ? index(static_cast<int>(at), before[static_cast<qsizetype>(i)].column())
                             : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

OrdersModel::Row OrdersModel::makeRow(const pizzacore::Order& order,
                                      const pizzacore::CaseInsensitiveMatcher& matcher) {
    Row row;
    row.id = order.id;
    row.sessionID = order.sessionID;
    row.number = order.number;
    row.numberText = std::to_string(order.number);
    row.name = order.draft.name;
    row.foldedName = matcher.folded(row.name);
    row.phone = order.draft.phone;
    row.preparation = order.preparation;
    return row;
}

OrdersModel::Made OrdersModel::make(const Orders& orders, const Payments& payments,
                                    const std::string& locale) {
    const pizzacore::CaseInsensitiveMatcher matcher(locale);
    Made made;
    made.rows.reserve(orders.size());
    made.positions.reserve(orders.size());
    for (const pizzacore::Order& order : orders) {
        made.positions[order.id] = static_cast<int>(made.rows.size());
        made.rows.push_back(makeRow(order, matcher));
    }
    // Payments only name orders; an order is paid when any payment names it.
    for (const pizzacore::Payment& payment : payments)
        if (const auto found = made.positions.find(payment.orderID); found != made.positions.end())
            ++made.rows[static_cast<std::size_t>(found->second)].payments;
    made.orders.remember(orders);
    made.payments.remember(payments);
    return made;
}

void OrdersModel::refresh() {
    // The worker's records are brought up to the document when they arrive.
    if (building_) return;
    if (!ready_) {
        rebuild();
        return;
    }
    const QStringList days = dayChoices_;
    const Changes changes = catchUp();
    // A change that makes everything again reads nothing else first.
    if (changes.rebuild) {
        rebuild();
        return;
    }
    present(changes);
    if (dayChoices_ != days) emit dayChoicesChanged();
}

void OrdersModel::rebuild() {
    const pizzacore::Database& db = store_.db();
    ++generation_;
    if (db.orders.size() < backgroundFrom_) {
        const QStringList days = dayChoices_;
        building_ = false;
        install(make(db.orders, db.payments, locale_));
        if (dayChoices_ != days) emit dayChoicesChanged();
        return;
    }
    if (ready_ || !rows_.empty()) {
        beginResetModel();
        rows_.clear();
        shown_.clear();
        positions_.clear();
        ready_ = false;
        endResetModel();
    }
    ordersVersion_.forget();
    paymentsVersion_.forget();
    building_ = true;
    // Copying collections that share their records costs a pointer each. The worker frees the
    // copy itself, so that a long history is never freed on the window's thread either.
    auto source = std::make_unique<Source>(Source{db.orders, db.payments});
    QThreadPool::globalInstance()->start([handover = handover_,
                                          source = std::shared_ptr<Source>(std::move(source)),
                                          locale = locale_, generation = generation_]() mutable {
        std::shared_ptr<Made> made;
        try {
            made = std::make_shared<Made>(make(source->orders, source->payments, locale));
        } catch (...) {
            // Out of memory here leaves the records to the window's thread, which reports it.
        }
        source.reset();
        const std::lock_guard lock(handover->mutex);
        if (OrdersModel* model = handover->model)
            QMetaObject::invokeMethod(
                model, [model, made = std::move(made), generation] { model->finishBuild(generation, made); },
                Qt::QueuedConnection);
    });
}

void OrdersModel::finishBuild(std::uint64_t generation, const std::shared_ptr<Made>& made) {
    // A later build replaced this one.
    if (generation != generation_ || !building_) return;
    const QStringList days = dayChoices_;
    building_ = false;
    const pizzacore::Database& db = store_.db();
    install(made ? std::move(*made) : make(db.orders, db.payments, locale_));
    if (dayChoices_ != days) emit dayChoicesChanged();
    if (ready_) emit becameReady();
}

void OrdersModel::install(Made made) {
    beginResetModel();
    rows_ = std::move(made.rows);
    positions_ = std::move(made.positions);
    ordersVersion_ = std::move(made.orders);
    paymentsVersion_ = std::move(made.payments);
    sessionsVersion_.forget();
    ready_ = true;
    // The document may have changed while the records were made.
    const Changes changes = catchUp();
    if (!changes.rebuild) shown_ = filtered();
    endResetModel();
    if (changes.rebuild) rebuild();
}

OrdersModel::Changes OrdersModel::catchUp() {
    const pizzacore::Database& db = store_.db();
    const Orders& stored = db.orders;
    Changes changes;

    const ChangedSpan span = ordersVersion_.spanTo(stored);
    if constexpr (RecordVersion<Orders>::exact) {
        // The records to make: the changed ones, or every one after the first change when
        // positions move. Many of them (a restored backup) are made again on the worker.
        const bool inPlace = span.keepsPositions() || span.onlyAppends(rows_.size());
        const std::size_t work = inPlace ? span.laterEnd - span.first : stored.size() - span.first;
        if (work > 0 && work >= backgroundFrom_) {
            changes.rebuild = true;
            return changes;
        }
    }

    if (!sessionsVersion_.known() || !sessionsVersion_.spanTo(db.sessions).empty()) {
        if (readSessions(db.sessions)) changes.everything = true;
        sessionsVersion_.remember(db.sessions);
    }

    // Payments are counted again from scratch when positions move or orders change their ids.
    bool recount = !RecordVersion<Payments>::exact || !paymentsVersion_.known();
    const auto add = [&](std::size_t position) {
        const pizzacore::Order& order = stored[position];
        positions_[order.id] = static_cast<int>(position);
        rows_.push_back(makeRow(order, matcher_));
        changes.touched.push_back(static_cast<int>(position));
    };
    const auto update = [&](std::size_t position) {
        const pizzacore::Order& order = stored[position];
        Row& row = rows_[position];
        if (row.id != order.id) {
            if (const auto old = positions_.find(row.id);
                old != positions_.end() && old->second == static_cast<int>(position))
                positions_.erase(old);
            positions_[order.id] = static_cast<int>(position);
            row = makeRow(order, matcher_);
            recount = true;
            changes.touched.push_back(static_cast<int>(position));
            return;
        }
        // A record replaced in a shared collection may have changed anything the row displays.
        bool changed = RecordVersion<Orders>::exact;
        if (row.name != order.draft.name) {
            row.name = order.draft.name;
            row.foldedName = matcher_.folded(row.name);
            changed = true;
        }
        if (row.phone != order.draft.phone) {
            row.phone = order.draft.phone;
            changed = true;
        }
        if (row.number != order.number) {
            row.number = order.number;
            row.numberText = std::to_string(order.number);
            changed = true;
        }
        if (row.sessionID != order.sessionID || row.preparation != order.preparation) {
            row.sessionID = order.sessionID;
            row.preparation = order.preparation;
            changed = true;
        }
        if (changed) changes.touched.push_back(static_cast<int>(position));
    };

    if (span.keepsPositions() && span.earlierEnd <= rows_.size()) {
        for (std::size_t position = span.first; position < span.earlierEnd; ++position)
            update(position);
    } else if (RecordVersion<Orders>::exact && span.onlyAppends(rows_.size())) {
        for (std::size_t position = span.first; position < span.laterEnd; ++position)
            add(position);
    } else {
        // Without shared records every order is compared where it is; with them, orders were
        // inserted or removed before the end and every position after the first change moves.
        const std::size_t from = RecordVersion<Orders>::exact ? std::min(span.first, rows_.size()) : 0;
        const std::size_t common = std::min(rows_.size(), stored.size());
        if (RecordVersion<Orders>::exact || stored.size() < rows_.size()) {
            rows_.resize(from);
            positions_.clear();
            for (std::size_t position = 0; position < rows_.size(); ++position)
                positions_[rows_[position].id] = static_cast<int>(position);
            changes.everything = true;
            recount = true;
            for (std::size_t position = from; position < stored.size(); ++position)
                add(position);
        } else {
            for (std::size_t position = 0; position < common; ++position)
                update(position);
            for (std::size_t position = common; position < stored.size(); ++position)
                add(position);
        }
    }
    ordersVersion_.remember(stored);

    const Payments& payments = db.payments;
    if constexpr (RecordVersion<Payments>::exact) {
        if (!recount) {
            const auto count = [&](const pizzacore::Payment& payment, int step) {
                const auto found = positions_.find(payment.orderID);
                if (found == positions_.end()) return;
                Row& row = rows_[static_cast<std::size_t>(found->second)];
                const bool paid = row.paid();
                if (step < 0 && row.payments == 0) return;
                row.payments = step < 0 ? row.payments - 1 : row.payments + 1;
                if (paid != row.paid()) changes.touched.push_back(found->second);
            };
            const ChangedSpan paid = paymentsVersion_.spanTo(payments);
            const Payments& earlier = paymentsVersion_.list();
            for (std::size_t at = paid.first; at < paid.earlierEnd; ++at)
                count(earlier[at], -1);
            for (std::size_t at = paid.first; at < paid.laterEnd; ++at)
                count(payments[at], 1);
        }
    }
    if (recount) {
        std::vector<std::uint32_t> counts(rows_.size(), 0);
        for (const pizzacore::Payment& payment : payments)
            if (const auto found = positions_.find(payment.orderID); found != positions_.end())
                ++counts[static_cast<std::size_t>(found->second)];
        for (std::size_t position = 0; position < rows_.size(); ++position) {
            Row& row = rows_[position];
            if ((row.payments > 0) != (counts[position] > 0))
                changes.touched.push_back(static_cast<int>(position));
            row.payments = counts[position];
        }
    }
    paymentsVersion_.remember(payments);

    std::sort(changes.touched.begin(), changes.touched.end());
    changes.touched.erase(std::unique(changes.touched.begin(), changes.touched.end()), changes.touched.end());
    return changes;
}

void OrdersModel::present(const Changes& changes) {
    if (changes.everything) {
        show(filtered());
        return;
    }
    // Newest first, so that new orders go in at the top one after another.
    for (auto touched = changes.touched.rbegin(); touched != changes.touched.rend(); ++touched) {
        const int position = *touched;
        const bool passes = accepts(rows_[static_cast<std::size_t>(position)]);
        const std::size_t at = placeOf(shown_, position);
        const bool listed = at < shown_.size() && shown_[at] == position;
        const int row = static_cast<int>(at);
        if (listed && passes) {
            emit dataChanged(index(row), index(row));
        } else if (listed) {
            beginRemoveRows({}, row, row);
            shown_.erase(shown_.begin() + static_cast<std::ptrdiff_t>(at));
            endRemoveRows();
        } else if (passes) {
            beginInsertRows({}, row, row);
            shown_.insert(shown_.begin() + static_cast<std::ptrdiff_t>(at), position);
            endInsertRows();
        }
    }
}

bool OrdersModel::readSessions(const Sessions& sessions) {
    sessionDays_.clear();
    sessionDays_.reserve(sessions.size());
    std::set<std::string, std::greater<>> distinct;
    for (const pizzacore::Session& session : sessions) {
        // The first session listed with an id gives its day.
        sessionDays_.emplace(session.id, session.businessDay);
        distinct.insert(session.businessDay);
    }
    QStringList choices{QStringLiteral("Todos")};
    for (const std::string& day : distinct)
        choices << qtext(day);
    dayChoices_ = std::move(choices);

    const std::vector<pizzacore::Uuid> before = daySessions_;
    chooseDaySessions();
    return !filter_.day.isEmpty() && daySessions_ != before;
}

void OrdersModel::chooseDaySessions() {
    daySessions_.clear();
    if (filter_.day.isEmpty()) return;
    const std::string day = filter_.day.toStdString();
    for (const auto& [id, businessDay] : sessionDays_)
        if (businessDay == day) daySessions_.push_back(id);
    std::sort(daySessions_.begin(), daySessions_.end());
}

} // namespace velmora
