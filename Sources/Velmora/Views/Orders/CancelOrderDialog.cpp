#include <Velmora/Views/Orders/CancelOrderDialog.hpp>

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Shared/Palette.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <PizzaCore/Foundation/Text.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

CancelOrderDialog::CancelOrderDialog(AppStore& store, const pizzacore::Order& order, QWidget* parent)
    : QDialog(parent)
    , store_(store)
    , orderID_(order.id)
    , reason_(new QLineEdit(this))
    , confirm_(new QPushButton(QStringLiteral("Anular pedido"), this)) {
    setObjectName(QStringLiteral("cancelOrderDialog"));
    const QString title = QStringLiteral("Anular pedido #") + QString::number(order.number);
    setWindowTitle(title);
    setModal(true);
    setFixedWidth(450);

    auto* heading = new QLabel(title, this);
    heading->setObjectName(QStringLiteral("cancelTitle"));
    QFont bold = heading->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.25);
    heading->setFont(bold);
    auto* explanation =
        new QLabel(QStringLiteral("Se conserva el pedido y su motivo. No se permite anular ventas "
                                  "de jornadas cerradas ni pedidos cobrados."),
                   this);
    explanation->setWordWrap(true);

    reason_->setObjectName(QStringLiteral("cancelReason"));
    reason_->setPlaceholderText(QStringLiteral("Motivo obligatorio"));
    reason_->setAccessibleName(QStringLiteral("Motivo obligatorio"));

    auto* back = new QPushButton(QStringLiteral("Volver"), this);
    back->setObjectName(QStringLiteral("cancelBack"));
    back->setAccessibleName(QStringLiteral("Volver"));
    back->setAutoDefault(false);
    confirm_->setObjectName(QStringLiteral("cancelConfirm"));
    confirm_->setAccessibleName(QStringLiteral("Anular pedido"));
    confirm_->setAutoDefault(false);
    colours::makeDestructive(*confirm_);
    confirm_->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(back);
    buttons->addWidget(confirm_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(12);
    layout->addWidget(heading);
    layout->addWidget(explanation);
    layout->addWidget(reason_);
    layout->addLayout(buttons);

    connect(reason_, &QLineEdit::textChanged, this,
            [this](const QString& text) { confirm_->setEnabled(!pizzacore::isBlank(text.toStdString())); });
    connect(back, &QPushButton::clicked, this, &QDialog::reject);
    connect(confirm_, &QPushButton::clicked, this, &CancelOrderDialog::confirmCancellation);
}

void CancelOrderDialog::confirmCancellation() {
    commitPendingEdits(*this);
    if (cancelling_ || pizzacore::isBlank(reason_->text().toStdString())) return;
    cancelling_ = true;
    // A refusal is in the controller's message and the sheet stays open with the reason.
    store_.cancelOrder(orderID_, reason_->text(), this, [this](const Outcome& outcome) {
        cancelling_ = false;
        if (outcome) accept();
    });
}

} // namespace velmora
