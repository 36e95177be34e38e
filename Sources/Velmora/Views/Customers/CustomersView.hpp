#pragma once

#include <Velmora/Stores/CustomerSummaries.hpp>
#include <Velmora/Views/Shared/EditorSheet.hpp>

#include <QAbstractListModel>
#include <QWidget>

#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QStackedWidget;

namespace velmora {

class AppStore;
class RowActionsDelegate;

// The cards the search found, in the search's order, each with its order count and usual payment.
// The two figures come from a summary of the whole history, made when a row first needs it and
// brought up to date with each change of the document (looking at the changed orders only) when a
// row next needs it, so that neither typing in a search field nor a saved change walks the orders.
class CustomersModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        ContactRole = Qt::UserRole + 1, // telephone · address
        NotesRole,
        OrdersRole,       // "12 pedidos"
        UsualPaymentRole, // "Pago habitual: Efectivo"
    };

    explicit CustomersModel(const AppStore& store, QObject* parent = nullptr);

    void setCards(std::vector<pizzacore::Customer> cards);
    // The document changed: the figures are brought up to date when next shown.
    void followDocument();
    const pizzacore::Customer& card(int row) const { return cards_.at(static_cast<std::size_t>(row)); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    const CustomerSummaries& summaries() const;

    const AppStore& store_;
    std::vector<pizzacore::Customer> cards_;
    mutable std::optional<CustomerSummaries> summaries_;
    mutable bool summariesBehind_ = false;
};

// The "Clientes" section: three searches and the matching cards, each with its history, its use
// at the till, its editor and its removal.
class CustomersView : public QWidget {
    Q_OBJECT
public:
    // The buttons of each row, in order.
    enum Action { history, useAtTill, edit, remove };

    explicit CustomersView(AppStore& store, QWidget* parent = nullptr);

    QLineEdit& nameField() const { return *nameQuery_; }
    QLineEdit& phoneField() const { return *phoneQuery_; }
    QLineEdit& addressField() const { return *addressQuery_; }
    QListView& list() const { return *list_; }
    CustomersModel& model() const { return *model_; }
    RowActionsDelegate& rowActions() const { return *delegate_; }
    // Whether the "Sin clientes" message is shown instead of the list.
    bool showsEmptyMessage() const;

    // Runs a row's button.
    void run(int row, Action action);
    void openEditor(const pizzacore::Customer& customer);
    void openHistory(const pizzacore::Customer& customer);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void search();
    void documentChanged();

    AppStore& store_;
    QLineEdit* nameQuery_;
    QLineEdit* phoneQuery_;
    QLineEdit* addressQuery_;
    QStackedWidget* content_;
    QListView* list_;
    CustomersModel* model_;
    RowActionsDelegate* delegate_;
    bool stale_ = true;
    // The cards the list was last searched in.
    RecordVersion<decltype(pizzacore::Database::customers)> searchedCards_;
};

// The sheet that creates or edits one card. A refusal stays in its red line with what was typed.
class CustomerEditor : public EditorSheet {
    Q_OBJECT
public:
    CustomerEditor(AppStore& store, pizzacore::Customer customer, QWidget* parent = nullptr);

protected:
    std::optional<QString> check() override;
    void transact(AppStore::Then then) override;

private:
    pizzacore::Customer customer_;
    // The card as read from the fields by the last check.
    pizzacore::Customer edited_;
    QLineEdit* name_;
    QLineEdit* phone_;
    QLineEdit* address_;
    QLineEdit* notes_;
};

} // namespace velmora
