#pragma once

// moc cannot parse the C++20 concepts the core's headers pull in, and needs none of their types.
#ifndef Q_MOC_RUN
#include <PizzaCore/Models/Orders.hpp>
#endif

#include <QWidget>

#include <optional>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QLayout;
class QLineEdit;
class QListView;
class QPushButton;

namespace velmora {

class AppStore;
class OrderLinesModel;
class TicketService;

// The selected order: heading, preparation, customer and delivery, lines, payment with the cash
// drawer, invoice, tickets, repeat and cancel. Its widgets are made once and filled again for each order
// shown; showing another order resets the payment method, the cash typed and the cancellation reason, while a
// change of the same order (after a payment, say) keeps what the operator was typing.
class OrderDetail : public QWidget {
    Q_OBJECT
public:
    OrderDetail(AppStore& store, TicketService& tickets, QWidget* parent = nullptr);

    void showOrder(const pizzacore::Order& order);
    const std::optional<pizzacore::Order>& order() const { return order_; }
    TicketService& tickets() const { return tickets_; }

private:
    // The parts of the detail, top to bottom; each makes its widgets and connects them.
    QLayout* makeHeading();
    QWidget* makePreparation();
    QGroupBox* makeCustomerBox();
    QListView* makeLineList();
    QWidget* makePaidBlock();
    QWidget* makeUnpaidBlock();
    QLayout* makeTicketRow();
    QLayout* makeLastRow();

    void fill();
    void showPayment();
    void showChange();
    // Puts `cents` (0: the order's total) into the cash handed over.
    void fillReceived(pizzacore::Cents cents);
    void choosePreparation(QAbstractButton* button);
    void pay();
    void repeat();
    void openCancellation();
    void prepareInvoice();
    QString amount(pizzacore::Cents cents) const;

    AppStore& store_;
    TicketService& tickets_;
    std::optional<pizzacore::Order> order_;

    QLabel* title_;
    QLabel* total_;
    QLabel* subtitle_;
    QLabel* cancelled_;
    QWidget* preparation_;
    QButtonGroup* preparationChoices_;
    QGroupBox* customer_;
    QLabel* customerName_;
    QLabel* customerPhone_;
    QLabel* customerAddress_;
    QLabel* customerUsual_;
    QLabel* orderNotes_;
    OrderLinesModel* lines_;
    QListView* lineList_;
    QWidget* paid_;
    QLabel* paidTitle_;
    QLabel* paidChange_;
    QLabel* paidDate_;
    QWidget* unpaid_;
    QButtonGroup* methods_;
    QLineEdit* received_;
    std::vector<QPushButton*> quick_;
    QLabel* change_;
    QPushButton* payButton_;
    QPushButton* drawerButton_;
    QPushButton* invoiceButton_;
    QPushButton* previewButton_;
    QPushButton* printButton_;
    QLabel* ticketsCaption_;
    QPushButton* repeatButton_;
    QPushButton* cancelButton_;
};

} // namespace velmora
