#pragma once

// moc cannot parse the C++20 concepts the core's headers pull in, and needs none of their types.
#ifndef Q_MOC_RUN
#include <PizzaCore/Models/Orders.hpp>
#endif

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace velmora {

class AppStore;

// The cancellation sheet, 450 wide: the reason is required, and "Anular pedido" cancels the order
// with it as typed. A refusal of the core leaves the sheet open with the reason, and the alert
// tells why.
class CancelOrderDialog : public QDialog {
    Q_OBJECT
public:
    CancelOrderDialog(AppStore& store, const pizzacore::Order& order, QWidget* parent = nullptr);

private:
    void confirmCancellation();

    AppStore& store_;
    pizzacore::Uuid orderID_;
    QLineEdit* reason_;
    QPushButton* confirm_;
    bool cancelling_ = false;
};

} // namespace velmora
