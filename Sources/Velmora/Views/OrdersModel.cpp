#include <Velmora/Views/OrdersModel.hpp>

#include <Velmora/Stores/AppStore.hpp>

#include <PizzaCore/Fiscal/FiscalMoney.hpp>
#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Models/Enumerations.hpp>

#include <algorithm>
#include <functional>
#include <set>
#include <string_view>

namespace velmora {

namespace {

QString text(std::string_view value) {
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

QString amount(const pizzacore::Order& order, const pizzacore::Settings& settings) {
    try {
        return text(pizzacore::FiscalMoney::text(order.total(), settings.currencyCode()));
    } catch (...) {
        // A total beyond the 64-bit range never passes validation; show no amount rather than fail.
        return QStringLiteral("—");
    }
}

} // namespace

OrdersModel::OrdersModel(AppStore& store, QObject* parent)
    : QAbstractListModel(parent)
    , store_(store)
    , matcher_(pizzacore::textLocale()) {
    refresh();
}

OrdersModel::~OrdersModel() = default;

int OrdersModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

QVariant OrdersModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return {};
    const int position = shown_[static_cast<std::size_t>(index.row())];
    const Row& row = rows_[static_cast<std::size_t>(position)];
    const pizzacore::Database& db = store_.db();
    if (static_cast<std::size_t>(position) >= db.orders.size()) return {};
    const pizzacore::Order& order = db.orders[static_cast<std::size_t>(position)];
    const auto name = [&] {
        QString shown = order.draft.name.empty() ? QStringLiteral("Mostrador") : text(order.draft.name);
        // A row has one line for the name.
        shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
        return shown;
    };
    const auto detail = [&] {
        return text(pizzacore::rawValue(order.draft.mode)) + QStringLiteral(" · ") +
               text(pizzacore::rawValue(order.preparation));
    };
    const auto status = [&] {
        if (row.paid) return QStringLiteral("Cobrado");
        return row.cancelled ? QStringLiteral("Anulado") : QStringLiteral("Pendiente de cobro");
    };
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return QStringLiteral("#") + QString::number(order.number) + QLatin1Char(' ') + name() +
               QStringLiteral(" · ") + amount(order, db.settings) + QStringLiteral(" · ") + detail() +
               QStringLiteral(" · ") + status();
    case IdRole:
        return text(order.id.text());
    case NumberRole:
        return QStringLiteral("#") + QString::number(order.number);
    case NameRole:
        return name();
    case TotalRole:
        return amount(order, db.settings);
    case DetailRole:
        return detail();
    case StatusRole:
        return status();
    case PaidRole:
        return row.paid;
    default:
        return {};
    }
}

std::optional<pizzacore::Uuid> OrdersModel::orderAt(int row) const {
    if (row < 0 || row >= rowCount()) return std::nullopt;
    return rows_[static_cast<std::size_t>(shown_[static_cast<std::size_t>(row)])].id;
}

int OrdersModel::rowOf(const pizzacore::Uuid& id) const {
    const auto found = positions_.find(id);
    if (found == positions_.end()) return -1;
    // The rows are positions in descending order.
    const auto at = std::lower_bound(shown_.begin(), shown_.end(), found->second, std::greater<>());
    if (at == shown_.end() || *at != found->second) return -1;
    return static_cast<int>(at - shown_.begin());
}

const pizzacore::Order* OrdersModel::order(const pizzacore::Uuid& id) const {
    const auto found = positions_.find(id);
    const auto& orders = store_.db().orders;
    if (found == positions_.end() || static_cast<std::size_t>(found->second) >= orders.size()) return nullptr;
    const pizzacore::Order& stored = orders[static_cast<std::size_t>(found->second)];
    return stored.id == id ? &stored : nullptr;
}

void OrdersModel::setFilter(const OrdersFilter& filter) {
    if (filter.day == filter_.day && filter.pending == filter_.pending && filter.query == filter_.query)
        return;
    filter_ = filter;
    show(filtered());
}

OrdersFilter OrdersModel::filterShowing(const pizzacore::Uuid& id) const {
    OrdersFilter showing = filter_;
    const auto found = positions_.find(id);
    if (found == positions_.end() || static_cast<std::size_t>(found->second) >= rows_.size()) return showing;
    const Row& row = rows_[static_cast<std::size_t>(found->second)];
    if (!showing.day.isEmpty() && (row.day.empty() || row.day != showing.day.toStdString()))
        showing.day.clear();
    if (showing.pending && (row.cancelled || row.paid)) showing.pending = false;
    if (!showing.query.isEmpty()) {
        const std::string query = showing.query.toStdString();
        if (!matches(row, query, matcher_.folded(query))) showing.query.clear();
    }
    return showing;
}

bool OrdersModel::matches(const Row& row, const std::string& query, const std::string& foldedQuery) {
    return row.numberText.find(query) != std::string::npos ||
           pizzacore::CaseInsensitiveMatcher::contains(row.foldedName, foldedQuery) ||
           row.phone.find(query) != std::string::npos;
}

std::vector<int> OrdersModel::filtered() const {
    const std::string day = filter_.day.toStdString();
    const std::string query = filter_.query.toStdString();
    const std::string foldedQuery = query.empty() ? std::string() : matcher_.folded(query);
    std::vector<int> result;
    result.reserve(rows_.size());
    for (auto position = static_cast<int>(rows_.size()) - 1; position >= 0; --position) {
        const Row& row = rows_[static_cast<std::size_t>(position)];
        // A missing session has no day, so a chosen day never shows its orders.
        if (!day.empty() && (row.day.empty() || row.day != day)) continue;
        if (filter_.pending && (row.cancelled || row.paid)) continue;
        if (!query.empty() && !matches(row, query, foldedQuery)) continue;
        result.push_back(position);
    }
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
        const auto at = std::lower_bound(shown_.begin(), shown_.end(), positions[i], std::greater<>());
        const bool kept = positions[i] >= 0 && at != shown_.end() && *at == positions[i];
        after.push_back(
            kept ? index(static_cast<int>(at - shown_.begin()), before[static_cast<qsizetype>(i)].column())
                 : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

void OrdersModel::refresh() {
    const pizzacore::Database& db = store_.db();
    const auto& orders = db.orders;

    std::unordered_map<pizzacore::Uuid, const std::string*> days;
    days.reserve(db.sessions.size());
    std::set<std::string, std::greater<>> distinctDays;
    for (const pizzacore::Session& session : db.sessions) {
        days.emplace(session.id, &session.businessDay);
        distinctDays.insert(session.businessDay);
    }

    // An order keeps its place in the stored list; a document with fewer orders (a restored
    // backup) or another order at a place is taken afresh from there on.
    if (rows_.size() > orders.size()) rows_.resize(orders.size());
    for (std::size_t i = 0; i < orders.size(); ++i) {
        const pizzacore::Order& order = orders[i];
        if (i >= rows_.size()) rows_.emplace_back();
        Row& row = rows_[i];
        if (row.id != order.id || row.numberText.empty()) {
            if (const auto old = positions_.find(row.id);
                old != positions_.end() && old->second == static_cast<int>(i))
                positions_.erase(old);
            row.id = order.id;
            positions_[order.id] = static_cast<int>(i);
            row.numberText = std::to_string(order.number);
            row.name.clear();
            row.foldedName.clear();
        }
        if (row.name != order.draft.name || (row.foldedName.empty() && !row.name.empty())) {
            row.name = order.draft.name;
            row.foldedName = matcher_.folded(row.name);
        }
        if (row.phone != order.draft.phone) row.phone = order.draft.phone;
        const auto day = days.find(order.sessionID);
        if (day == days.end())
            row.day.clear();
        else if (row.day != *day->second)
            row.day = *day->second;
        row.cancelled = order.preparation == pizzacore::Preparation::cancelled;
        row.paid = false;
    }
    // Payments only name orders; an order is paid when any payment names it.
    for (const pizzacore::Payment& payment : db.payments) {
        const auto found = positions_.find(payment.orderID);
        if (found != positions_.end() && static_cast<std::size_t>(found->second) < rows_.size())
            rows_[static_cast<std::size_t>(found->second)].paid = true;
    }
    // Ids of orders that are gone.
    if (positions_.size() != rows_.size()) {
        positions_.clear();
        for (std::size_t i = 0; i < rows_.size(); ++i)
            positions_[rows_[i].id] = static_cast<int>(i);
    }

    QStringList choices{QStringLiteral("Todos")};
    for (const std::string& day : distinctDays)
        choices << text(day);
    if (choices != dayChoices_) {
        dayChoices_ = choices;
        emit dayChoicesChanged();
    }
    show(filtered());
}

} // namespace velmora
