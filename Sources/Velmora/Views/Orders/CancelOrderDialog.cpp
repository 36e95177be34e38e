#include <Velmora/Views/Orders/CancelOrderDialog.hpp>

#include <Velmora/Views/Shared/Formatting.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <PizzaCore/Foundation/Text.hpp>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

CancelOrderDialog::CancelOrderDialog(AppStore& store, const pizzacore::Order& order, QWidget* parent)
    : EditorSheet(store, QStringLiteral("Anular pedido #") + QString::number(order.number), parent,
                  {QStringLiteral("Volver"), QStringLiteral("cancelBack"), QStringLiteral("Anular pedido"),
                   QStringLiteral("cancelConfirm"), true})
    , orderID_(order.id)
    , reason_(makeField(QStringLiteral("Motivo obligatorio"), QStringLiteral("cancelReason"), this)) {
    setObjectName(QStringLiteral("cancelOrderDialog"));
    setFixedWidth(450);
    titleLabel().setObjectName(QStringLiteral("cancelTitle"));

    QLabel* explanation =
        makePlainLabel(QStringLiteral("Se conserva el pedido y su motivo. No se permite anular ventas "
                                      "de jornadas cerradas ni pedidos cobrados."),
                       QStringLiteral("explanation"), this);
    explanation->setWordWrap(true);
    form().addWidget(explanation);
    form().addWidget(reason_);
    saveButton().setEnabled(false);

    connect(reason_, &QLineEdit::textChanged, this,
            [this](const QString& text) { saveButton().setEnabled(!pizzacore::isBlank(utf8(text))); });
}

std::optional<QString> CancelOrderDialog::check() {
    if (pizzacore::isBlank(utf8(reason_->text()))) return QString();
    return std::nullopt;
}

void CancelOrderDialog::transact(AppStore::Then then) {
    // A refusal is in the controller's message and the sheet stays open with the reason.
    store().cancelOrder(orderID_, reason_->text(), this, std::move(then));
}

} // namespace velmora
