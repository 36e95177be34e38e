#include <Velmora/Views/Customers/CustomerHistoryView.hpp>

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>
#include <Velmora/Views/Shared/RowActions.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <PizzaCore/Models/Enumerations.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <unordered_map>

namespace velmora {

namespace {

// An order's row: number and date, state and payment, and the total at the right of the text.
class OrderRowDelegate : public RowActionsDelegate {
public:
    using RowActionsDelegate::RowActionsDelegate;

protected:
    int contentHeight(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return 2 * QFontMetrics(option.font).height() + 2;
    }

    void paintContent(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                      const QRect& content) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QColor text = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        const QColor secondary = selected ? text : secondaryColor(option.palette);
        QFont bold = option.font;
        bold.setBold(true);
        // The interface font's digits all have the same width, so totals line up.
        const QFont& digits = option.font;
        const QString total = index.data(CustomerOrdersModel::TotalRole).toString();
        const int totalWidth = QFontMetrics(digits).horizontalAdvance(total) + 8;
        const int width = content.width() - totalWidth;
        int y = content.top() + (content.height() - contentHeight(option, index)) / 2;
        drawLine(painter, total, digits, text, content.right() - totalWidth, y, totalWidth, Qt::AlignRight);
        y = drawLine(painter, index.data(Qt::DisplayRole).toString(), bold, text, content.left(), y, width) +
            2;
        drawLine(painter, index.data(CustomerOrdersModel::StateRole).toString(), option.font, secondary,
                 content.left(), y, width);
    }
};

} // namespace

CustomerOrdersModel::CustomerOrdersModel(const AppStore& store, const pizzacore::Customer& customer,
                                         QObject* parent)
    : QAbstractListModel(parent)
    , store_(store)
    , orders_(store.db().ordersFor(customer)) {
    // The payments of these orders only, found in one pass.
    std::unordered_map<pizzacore::Uuid, std::size_t> rows;
    for (std::size_t row = 0; row < orders_.size(); ++row)
        rows.emplace(orders_[row].id, row);
    methods_.resize(orders_.size());
    for (const pizzacore::Payment& payment : store.db().payments) {
        const auto row = rows.find(payment.orderID);
        if (row != rows.end() && !methods_[row->second]) methods_[row->second] = payment.method;
    }
}

int CustomerOrdersModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(orders_.size());
}

QVariant CustomerOrdersModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    const pizzacore::Order& shown = orders_[row];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return QStringLiteral("#") + QString::number(shown.number) + QStringLiteral(" · ") +
               dateTimeText(shown.created);
    case StateRole:
        return qtext(pizzacore::rawValue(shown.preparation)) + QStringLiteral(" · ") +
               (methods_[row] ? qtext(pizzacore::rawValue(*methods_[row]))
                              : QStringLiteral("Sin cobro registrado"));
    case TotalRole:
        try {
            return amountText(shown.total(), store_.db().settings);
        } catch (...) {
            return QStringLiteral("—");
        }
    default:
        return {};
    }
}

CustomerHistoryView::CustomerHistoryView(AppStore& store, const pizzacore::Customer& customer,
                                         QWidget* parent)
    : QDialog(parent)
    , store_(store)
    , model_(new CustomerOrdersModel(store, customer, this))
    , list_(new QListView(this))
    , delegate_(new OrderRowDelegate({{QStringLiteral("Ver pedido")}}, this)) {
    setObjectName(QStringLiteral("CustomerHistoryView"));
    setWindowTitle(QStringLiteral("Historial"));
    setModal(true);
    resize(560, 520);

    summary_ = QString::number(model_->rowCount()) + QStringLiteral(" pedidos · Pago habitual: ") +
               qtext(store.db().usualPaymentFor(customer));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 20);
    layout->setSpacing(10);
    layout->addWidget(makeSheetTitle(QStringLiteral("Historial · ") + qtext(customer.name), this));
    layout->addWidget(makeCaption(summary_, QStringLiteral("summary"), this));

    list_->setObjectName(QStringLiteral("orders"));
    list_->setAccessibleName(QStringLiteral("Pedidos"));
    list_->setModel(model_);
    list_->setUniformItemSizes(true);
    delegate_->attach(*list_, 0, -1);
    if (model_->rowCount() == 0) {
        list_->hide();
        layout->addWidget(
            new EmptyMessage(QStringLiteral("Sin pedidos"),
                             QStringLiteral("Aquí aparecerán los pedidos registrados de este cliente."),
                             QStringLiteral("list.bullet.rectangle"), this),
            1);
    } else {
        layout->addWidget(list_, 1);
    }

    QPushButton* close = makeButton(QStringLiteral("Cerrar"), QStringLiteral("close"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(delegate_, &RowActionsDelegate::triggered, this,
            [this](const QModelIndex& index, int) { showOrder(index.row()); });
}

QString CustomerHistoryView::summary() const {
    return summary_;
}

bool CustomerHistoryView::showsEmptyMessage() const {
    return model_->rowCount() == 0;
}

void CustomerHistoryView::showOrder(int row) {
    if (row < 0 || row >= model_->rowCount()) return;
    store_.showOrder(model_->order(row).id);
    accept();
}

} // namespace velmora
