#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Models/Customer.hpp>
#include <PizzaCore/Models/Orders.hpp>
#endif

#include <QAbstractListModel>
#include <QDialog>

#include <optional>
#include <vector>

class QListView;

namespace velmora {

class AppStore;
class RowActionsDelegate;

// One card's orders, newest first, each with its payment method when it has been paid.
class CustomerOrdersModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        StateRole = Qt::UserRole + 1, // preparation · payment
        TotalRole,
    };

    CustomerOrdersModel(const AppStore& store, const pizzacore::Customer& customer,
                        QObject* parent = nullptr);

    const pizzacore::Order& order(int row) const { return orders_.at(static_cast<std::size_t>(row)); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    const AppStore& store_;
    std::vector<pizzacore::Order> orders_;
    std::vector<std::optional<pizzacore::PaymentMethod>> methods_;
};

// The sheet with a card's history; "Ver pedido" opens the order on the orders screen.
class CustomerHistoryView : public QDialog {
    Q_OBJECT
public:
    CustomerHistoryView(AppStore& store, const pizzacore::Customer& customer, QWidget* parent = nullptr);

    QListView& list() const { return *list_; }
    CustomerOrdersModel& model() const { return *model_; }
    RowActionsDelegate& rowActions() const { return *delegate_; }
    QString summary() const;
    bool showsEmptyMessage() const;

    // Shows the order of `row` on the orders screen and closes the sheet.
    void showOrder(int row);

private:
    AppStore& store_;
    CustomerOrdersModel* model_;
    QListView* list_;
    RowActionsDelegate* delegate_;
    QString summary_;
};

} // namespace velmora
