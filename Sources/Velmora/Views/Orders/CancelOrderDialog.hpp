#pragma once

#include <Velmora/Views/Shared/EditorSheet.hpp>

// moc cannot parse the C++20 concepts the core's headers pull in, and needs none of their types.
#ifndef Q_MOC_RUN
#include <PizzaCore/Models/Orders.hpp>
#endif

class QLineEdit;

namespace velmora {

// The cancellation sheet, 450 wide: the reason is required, and "Anular pedido" cancels the order
// with it as typed. A refusal of the core leaves the sheet open with the reason, and the alert
// tells why.
class CancelOrderDialog : public EditorSheet {
    Q_OBJECT
public:
    CancelOrderDialog(AppStore& store, const pizzacore::Order& order, QWidget* parent = nullptr);

protected:
    // A blank reason cancels nothing (its button is disabled meanwhile).
    std::optional<QString> check() override;
    void transact(AppStore::Then then) override;

private:
    pizzacore::Uuid orderID_;
    QLineEdit* reason_;
};

} // namespace velmora
