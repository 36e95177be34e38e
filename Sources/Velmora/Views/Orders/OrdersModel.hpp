#pragma once

// moc cannot parse the C++20 concepts the core's headers pull in, and needs none of their types.
#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/TextCompare.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Models/Orders.hpp>
#include <Velmora/Stores/RecordVersions.hpp>
#endif

#include <QAbstractListModel>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <memory>
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
//
// What the filters test (number text, folded name, telephone, session, payments, cancelled) is
// kept per order. A year of orders takes a noticeable time to fold, so the first records of a
// large history are made on a worker thread while the window keeps working (the list is empty
// until they arrive, see ready()). After that, each change of the document is followed by looking
// only at the orders and payments it changed: a confirmation inserts one row, a payment or a
// cancellation changes or removes one, and a keystroke in the search field tests these small
// records without touching the document. Display texts are made only for the rows on screen.
// The rows are the stored orders' positions; a change of filter or document keeps the selection
// on its order.
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
        WhenRole,                  // confirmation time and how long ago: "13:05 · hace 12 min"
    };

    // Histories with at least this many orders have their records made on a worker thread.
    static constexpr std::size_t defaultBackgroundFrom = 2000;

    // A model that makes its records at once, or from `backgroundFrom` orders on a worker.
    explicit OrdersModel(AppStore& store, QObject* parent = nullptr);
    OrdersModel(AppStore& store, std::size_t backgroundFrom, QObject* parent = nullptr);
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
    // The row showing the order, or -1 when the filters hide it, it does not exist or the records
    // are not made yet.
    int rowOf(const pizzacore::Uuid& id) const;
    // The stored order with that id, or null.
    const pizzacore::Order* order(const pizzacore::Uuid& id) const;

    // "Todos" and then every business day of the cash sessions, latest first.
    const QStringList& dayChoices() const { return dayChoices_; }

    // Whether the records have been made and the rows listed; false while a worker makes them.
    bool ready() const { return ready_; }

    // Brings the records up to the published document; called on every change of it. Only what
    // changed is looked at; a change of most of the history (a restored backup) makes every record
    // again, on the worker when there are many.
    void refresh();

    // Whether following a change costs only work proportional to the change (the document's
    // collections share their unchanged records); otherwise every order is compared.
    static constexpr bool followsChangesCheaply = RecordVersion<decltype(pizzacore::Database::orders)>::exact;

signals:
    void dayChoicesChanged();
    // The records made on the worker arrived: the rows are listed and ready() is true.
    void becameReady();

private:
    using Orders = decltype(pizzacore::Database::orders);
    using Payments = decltype(pizzacore::Database::payments);
    using Sessions = decltype(pizzacore::Database::sessions);

    struct Row {
        pizzacore::Uuid id;
        pizzacore::Uuid sessionID;
        std::int64_t number = 0;
        std::string name;       // as stored, to notice a change
        std::string foldedName; // for the case-insensitive search
        std::string phone;
        std::string numberText;
        pizzacore::Preparation preparation = pizzacore::Preparation::preparing;
        // Payments that name the order; paid when there is any.
        std::uint32_t payments = 0;

        bool paid() const { return payments > 0; }
        bool cancelled() const { return preparation == pizzacore::Preparation::cancelled; }
    };
    // The collections the records are made from on the worker, copied from one published
    // document.
    struct Source {
        Orders orders;
        Payments payments;
    };
    // Records made on the worker or at once, with the versions of the collections they describe.
    struct Made {
        std::vector<Row> rows;
        std::unordered_map<pizzacore::Uuid, int> positions;
        RecordVersion<Orders> orders;
        RecordVersion<Payments> payments;
    };
    // Shared with the worker, which hands its records over only while the model exists.
    struct Handover;
    // What a change of the document did to the records.
    struct Changes {
        std::vector<int> touched; // positions whose row changed or was added, ascending
        bool everything = false;  // positions moved or most records changed: filter every row again
        bool rebuild = false;     // most of the history changed: make every record again
    };

    static Row makeRow(const pizzacore::Order& order, const pizzacore::CaseInsensitiveMatcher& matcher);
    static Made make(const Orders& orders, const Payments& payments, const std::string& locale);

    // The orders the records describe: the document they were last brought up to.
    const Orders& orders() const;
    void rebuild();
    void finishBuild(std::uint64_t generation, const std::shared_ptr<Made>& made);
    void install(Made made);
    // Brings the records up to the published document without telling the views.
    Changes catchUp();
    // Shows the changed records to the views: rows inserted, removed or redrawn.
    void present(const Changes& changes);
    // Reads the sessions again: day choices and the sessions of the chosen day. True when the
    // chosen day's sessions changed.
    bool readSessions(const Sessions& sessions);
    void chooseDaySessions();

    bool accepts(const Row& row) const;
    // Whether the row passes the search `query` (as typed) whose folded form is `foldedQuery`.
    static bool matches(const Row& row, const std::string& query, const std::string& foldedQuery);
    std::vector<int> filtered() const;
    void show(std::vector<int> rows);

    AppStore& store_;
    const std::size_t backgroundFrom_;
    const std::string locale_;
    pizzacore::CaseInsensitiveMatcher matcher_;
    OrdersFilter filter_;
    std::string query_;                        // filter_.query in UTF-8
    std::string foldedQuery_;                  // and folded
    std::vector<pizzacore::Uuid> daySessions_; // the sessions of filter_.day

    std::vector<Row> rows_;  // one per stored order, in stored order
    std::vector<int> shown_; // positions in rows_, descending
    std::unordered_map<pizzacore::Uuid, int> positions_;
    std::unordered_map<pizzacore::Uuid, std::string> sessionDays_;
    QStringList dayChoices_;

    // The versions of the collections the records were brought up to.
    RecordVersion<Orders> ordersVersion_;
    RecordVersion<Payments> paymentsVersion_;
    RecordVersion<Sessions> sessionsVersion_;

    bool ready_ = false;
    bool building_ = false;
    std::uint64_t generation_ = 0;
    std::shared_ptr<Handover> handover_;
};

} // namespace velmora
