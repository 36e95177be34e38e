#pragma once

// moc cannot parse the C++20 concepts the core's headers pull in, and needs none of their types.
#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/TextCompare.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Models/Orders.hpp>
#endif

#include <QAbstractListModel>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmora {

class AppStore;

// The three filters of the orders list.
struct OrdersFilter {
    QString day;          // a business day ("yyyy-MM-dd"); empty for every day
    bool pending = false; // only orders neither paid nor cancelled
    QString query;        // number, name or telephone, as typed
};

// Every confirmed order, most recently stored first, through the filters of the orders screen.
// What the filters test (number text, folded name, telephone, business day, paid, cancelled) is
// kept per order and brought up to date after each change of the document by looking only at
// what changed, so a keystroke in the search field scans these small records and nothing else,
// and display texts are made only for the rows on screen. The rows shown are the stored orders'
// positions; a change of filter or document moves the selection with its order instead of
// resetting the list.
class OrdersModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        IdRole = Qt::UserRole + 1, // the order id as text
        NumberRole,                // "#27"
        NameRole,                  // the customer's name, or "Mostrador"
        TotalRole,                 // the order total as an amount text
        DetailRole,                // mode · preparation
        StatusRole,                // "Cobrado", "Anulado" or "Pendiente de cobro"
        PaidRole,                  // bool
    };

    explicit OrdersModel(AppStore& store, QObject* parent = nullptr);
    ~OrdersModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const OrdersFilter& filter() const { return filter_; }
    void setFilter(const OrdersFilter& filter);
    // The current filters without those that hide the order `id` (all of them kept when it does
    // not exist); looks at that one order only.
    OrdersFilter filterShowing(const pizzacore::Uuid& id) const;

    // The order shown on `row`.
    std::optional<pizzacore::Uuid> orderAt(int row) const;
    // The row showing the order, or -1 when the filters hide it or it does not exist.
    int rowOf(const pizzacore::Uuid& id) const;
    // The stored order with that id, or null.
    const pizzacore::Order* order(const pizzacore::Uuid& id) const;

    // "Todos" and then every business day of the cash sessions, latest first.
    const QStringList& dayChoices() const { return dayChoices_; }

    // Brings the per-order records up to the published document; called on every change of it.
    void refresh();

signals:
    void dayChoicesChanged();

private:
    struct Row {
        pizzacore::Uuid id;
        std::string name;       // as stored, to notice a change
        std::string foldedName; // for the case-insensitive search
        std::string phone;
        std::string numberText;
        std::string day; // the business day of its session; empty when the session is missing
        bool paid = false;
        bool cancelled = false;
    };

    // Whether the row passes the search `query` (as typed) whose folded form is `foldedQuery`.
    static bool matches(const Row& row, const std::string& query, const std::string& foldedQuery);
    std::vector<int> filtered() const;
    void show(std::vector<int> rows);

    AppStore& store_;
    pizzacore::CaseInsensitiveMatcher matcher_;
    OrdersFilter filter_;
    std::vector<Row> rows_;  // one per stored order, in stored order
    std::vector<int> shown_; // positions in rows_, descending
    std::unordered_map<pizzacore::Uuid, int> positions_;
    QStringList dayChoices_;
};

} // namespace velmora
