#include <Velmora/Views/Orders/OrderDetail.hpp>

#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Services/TicketService.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Fiscal/InvoiceEditor.hpp>
#include <Velmora/Views/Orders/CancelOrderDialog.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>
#include <Velmora/Views/Shared/Palette.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Models/Enumerations.hpp>
#include <PizzaCore/Models/FiscalMoney.hpp>
#include <PizzaCore/Models/Money.hpp>

#include <QAbstractListModel>
#include <QButtonGroup>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <array>
#include <string_view>

namespace velmora {

namespace {

// A label for what the order holds: names, addresses and notes are the operator's own text, never
// markup, and can be selected to be copied.
QLabel* orderText(const QString& objectName, QWidget* parent) {
    QLabel* label = makePlainLabel(QString(), objectName, parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// A segmented picker: a row of exclusive checkable buttons, side by side.
QWidget* segmented(const QString& name, const QStringList& labels, QButtonGroup*& group, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(name);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    group = new QButtonGroup(row);
    group->setExclusive(true);
    for (qsizetype index = 0; index < labels.size(); ++index) {
        QPushButton* choice = makeButton(labels[index], name + QString::number(index), row);
        choice->setCheckable(true);
        group->addButton(choice, static_cast<int>(index));
        layout->addWidget(choice);
    }
    layout->addStretch();
    // The chosen segment must read at a glance from across the counter: filled with the
    // highlight colour, the others plain. (Not bold: the segments are sized for their text.)
    row->setStyleSheet(QStringLiteral(
        "QPushButton { padding: 5px 14px; border: 1px solid palette(mid); background-color: palette(button); "
        "}"
        "QPushButton:hover:!checked { background-color: palette(midlight); }"
        "QPushButton:checked { background-color: palette(highlight); color: palette(highlighted-text);"
        " border-color: palette(highlight); }"));
    return row;
}

// The buttons next to the cash field: a cents value of 0 stands for the exact total.
struct QuickAmount {
    const char* label;
    const char* name;
    pizzacore::Cents cents;
};
constexpr std::array<QuickAmount, 5> quickAmounts{{
    {"Exacto", "receivedExact", 0},
    {"5", "received5", 500},
    {"10", "received10", 1000},
    {"20", "received20", 2000},
    {"50", "received50", 5000},
}};

} // namespace

// The lines of the order shown: quantity × name with the amount at the right, and the line's
// notes under it.
class OrderLinesModel : public QAbstractListModel {
public:
    enum Role { AmountRole = Qt::UserRole + 1, NotesRole };

    using QAbstractListModel::QAbstractListModel;

    void show(std::vector<pizzacore::Line> lines, std::string currency) {
        beginResetModel();
        lines_ = std::move(lines);
        currency_ = std::move(currency);
        endResetModel();
    }

    bool anyNotes() const {
        return std::any_of(lines_.begin(), lines_.end(),
                           [](const pizzacore::Line& line) { return !line.notes.empty(); });
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(lines_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) return {};
        const pizzacore::Line& line = lines_[static_cast<std::size_t>(index.row())];
        const QString title = QString::number(line.quantity) + QStringLiteral(" × ") + qtext(line.name);
        QString amount;
        try {
            amount = qtext(pizzacore::FiscalMoney::text(line.total(), currency_));
        } catch (const pizzacore::PCError&) {
            amount = QStringLiteral("—");
        }
        switch (role) {
        case Qt::DisplayRole:
            return title;
        case Qt::AccessibleTextRole:
            return title + QStringLiteral(" · ") + amount +
                   (line.notes.empty() ? QString() : QStringLiteral(" · ") + qtext(line.notes));
        case AmountRole:
            return amount;
        case NotesRole:
            return qtext(line.notes);
        default:
            return {};
        }
    }

private:
    std::vector<pizzacore::Line> lines_;
    std::string currency_;
};

namespace {

class LineDelegate : public QStyledItemDelegate {
public:
    LineDelegate(const OrderLinesModel& model, QObject* parent)
        : QStyledItemDelegate(parent)
        , model_(model) {}

    // Every row leaves room for a notes line when any line has notes, so the rows stay uniform.
    // The notes ("sin cebolla") are what the kitchen must not miss: full size, in the secondary
    // colour.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        const int notes = model_.anyNotes() ? QFontMetrics(option.font).height() : 0;
        return {200, QFontMetrics(option.font).height() + notes + 8};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QRect area = option.rect.adjusted(2, 4, -2, -4);
        const int first = QFontMetrics(option.font).height();
        const QString amount = index.data(OrderLinesModel::AmountRole).toString();
        const int amountWidth = QFontMetrics(option.font).horizontalAdvance(amount);
        painter->save();
        painter->setFont(option.font);
        painter->setPen(option.palette.color(QPalette::Text));
        const QRect line(area.left(), area.top(), area.width(), first);
        painter->drawText(line, Qt::AlignRight | Qt::AlignVCenter, amount);
        const QString title =
            QFontMetrics(option.font)
                .elidedText(
                    index.data(Qt::DisplayRole).toString().replace(QLatin1Char('\n'), QLatin1Char(' ')),
                    Qt::ElideRight, std::max(0, area.width() - amountWidth - 12));
        painter->drawText(line.adjusted(0, 0, -amountWidth - 12, 0), Qt::AlignLeft | Qt::AlignVCenter, title);
        const QString notes = index.data(OrderLinesModel::NotesRole).toString();
        if (!notes.isEmpty()) {
            const QFont& caption = option.font;
            painter->setFont(caption);
            QColor secondary = option.palette.color(QPalette::Text);
            secondary.setAlphaF(0.6);
            painter->setPen(secondary);
            const QRect below(area.left(), line.bottom() + 1, area.width(), QFontMetrics(caption).height());
            painter->drawText(
                below, Qt::AlignLeft | Qt::AlignVCenter,
                QFontMetrics(caption).elidedText(QString(notes).replace(QLatin1Char('\n'), QLatin1Char(' ')),
                                                 Qt::ElideRight, below.width()));
        }
        painter->restore();
    }

private:
    const OrderLinesModel& model_;
};

} // namespace

OrderDetail::OrderDetail(AppStore& store, TicketService& tickets, QWidget* parent)
    : QWidget(parent)
    , store_(store)
    , tickets_(tickets) {
    setObjectName(QStringLiteral("OrderDetail"));

    // The parts are made top to bottom, which is also the order the keyboard goes through them.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 0, 12, 12);
    layout->setSpacing(12);
    layout->addLayout(makeHeading());
    layout->addWidget(subtitle_);
    layout->addWidget(cancelled_);
    layout->addWidget(makePreparation());
    layout->addWidget(makeCustomerBox());
    layout->addWidget(makeLineList());
    layout->addWidget(makeDivider(this));
    layout->addWidget(makePaidBlock());
    layout->addWidget(makeUnpaidBlock());
    // The drawer opens on demand whatever the order's payment: to give change, or to put away
    // what was taken.
    drawerButton_ = makeButton(QStringLiteral("Abrir cajón"), QStringLiteral("openDrawer"), this);
    drawerButton_->setToolTip(
        QStringLiteral("Envía a la impresora de tickets la orden de abrir el cajón portamonedas."));
    layout->addWidget(drawerButton_, 0, Qt::AlignLeft);
    invoiceButton_ = makeButton(QStringLiteral("Preparar factura…"), QStringLiteral("prepareInvoice"), this);
    layout->addWidget(invoiceButton_, 0, Qt::AlignLeft);
    layout->addLayout(makeTicketRow());
    layout->addWidget(ticketsCaption_);
    layout->addLayout(makeLastRow());
    layout->addStretch();

    connect(invoiceButton_, &QPushButton::clicked, this, &OrderDetail::prepareInvoice);
    // One pulse at a time: a second click while the first is on its way would only queue another.
    connect(drawerButton_, &QPushButton::clicked, this, [this] {
        if (!order_) return;
        drawerButton_->setEnabled(false);
        tickets_.openDrawer(order_->id);
    });
    connect(&tickets_, &TicketService::drawerFinished, this,
            [this] { drawerButton_->setEnabled(tickets_.drawersInProgress() == 0); });
}

// Number and total side by side; under them (laid out by the constructor) the date and mode and,
// for a cancelled order, its reason.
QLayout* OrderDetail::makeHeading() {
    title_ = makeBoldLabel(QString(), QStringLiteral("orderTitle"), this, 1.6);
    title_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    total_ = makeBoldLabel(QString(), QStringLiteral("orderTotal"), this, 1.6);
    total_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    subtitle_ = orderText(QStringLiteral("orderSubtitle"), this);
    makeSecondary(*subtitle_);
    cancelled_ = orderText(QStringLiteral("cancelledReason"), this);
    colours::paintText(*cancelled_, colours::destructive);
    auto* heading = new QHBoxLayout;
    heading->addWidget(title_, 1);
    heading->addWidget(total_);
    return heading;
}

QWidget* OrderDetail::makePreparation() {
    QStringList states;
    for (const auto state : {pizzacore::Preparation::preparing, pizzacore::Preparation::ready,
                             pizzacore::Preparation::delivered})
        states << qtext(pizzacore::rawValue(state));
    preparation_ = new QWidget(this);
    preparation_->setObjectName(QStringLiteral("preparation"));
    auto* label = new QLabel(QStringLiteral("Preparación"), preparation_);
    auto* row = new QHBoxLayout(preparation_);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(label);
    row->addWidget(segmented(QStringLiteral("preparationChoice"), states, preparationChoices_, preparation_),
                   1);
    connect(preparationChoices_, &QButtonGroup::buttonClicked, this, &OrderDetail::choosePreparation);
    return preparation_;
}

QGroupBox* OrderDetail::makeCustomerBox() {
    customer_ = new QGroupBox(QStringLiteral("Cliente y entrega"), this);
    customer_->setObjectName(QStringLiteral("customerBox"));
    // As tall as the lines it shows, whichever of them are hidden.
    customer_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    customerName_ = orderText(QStringLiteral("customerName"), customer_);
    scaleFont(*customerName_, 1.0, true);
    customerPhone_ = orderText(QStringLiteral("customerPhone"), customer_);
    // One line each: a wrapping label asks for the height of its narrowest layout.
    customerName_->setWordWrap(false);
    customerPhone_->setWordWrap(false);
    customerAddress_ = orderText(QStringLiteral("customerAddress"), customer_);
    customerUsual_ = orderText(QStringLiteral("customerUsual"), customer_);
    orderNotes_ = orderText(QStringLiteral("orderNotes"), customer_);
    scaleFont(*orderNotes_, 1.0, true);
    auto* box = new QVBoxLayout(customer_);
    box->setSpacing(4);
    for (QLabel* label : {customerName_, customerPhone_, customerAddress_, customerUsual_, orderNotes_})
        box->addWidget(label);
    return customer_;
}

QListView* OrderDetail::makeLineList() {
    lines_ = new OrderLinesModel(this);
    lineList_ =
        nameControl(new QListView(this), QStringLiteral("orderLines"), QStringLiteral("Líneas del pedido"));
    lineList_->setModel(lines_);
    lineList_->setItemDelegate(new LineDelegate(*lines_, lineList_));
    lineList_->setUniformItemSizes(true);
    lineList_->setSelectionMode(QAbstractItemView::NoSelection);
    lineList_->setFocusPolicy(Qt::NoFocus);
    lineList_->setFrameShape(QFrame::NoFrame);
    lineList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lineList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lineList_->setAutoFillBackground(false);
    lineList_->viewport()->setAutoFillBackground(false);
    return lineList_;
}

// What was paid, how and when, with the change to count out for cash.
QWidget* OrderDetail::makePaidBlock() {
    paid_ = new QWidget(this);
    paid_->setObjectName(QStringLiteral("paidBlock"));
    paidTitle_ = orderText(QStringLiteral("paidTitle"), paid_);
    scaleFont(*paidTitle_, 1.1, true);
    colours::paintText(*paidTitle_, colours::positive);
    auto* paidIcon = new QLabel(paid_);
    paidIcon->setObjectName(QStringLiteral("paidIcon"));
    // The desktop's check mark when its theme has one, otherwise the check-mark character.
    if (const QPixmap check = QIcon::fromTheme(QStringLiteral("emblem-default")).pixmap(18, 18);
        !check.isNull()) {
        paidIcon->setPixmap(check);
    } else {
        paidIcon->setText(QStringLiteral("✔"));
        scaleFont(*paidIcon, 1.1, true);
        colours::paintText(*paidIcon, colours::positive);
    }
    paidChange_ = orderText(QStringLiteral("paidChange"), paid_);
    // The change is counted out right after the payment is registered: large enough to read.
    scaleFont(*paidChange_, 1.25, true);
    paidDate_ = orderText(QStringLiteral("paidDate"), paid_);
    makeSecondary(*paidDate_);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    titleRow->addWidget(paidIcon);
    titleRow->addWidget(paidTitle_, 1);
    auto* block = new QVBoxLayout(paid_);
    block->setContentsMargins(0, 0, 0, 0);
    block->setSpacing(4);
    block->addLayout(titleRow);
    block->addWidget(paidChange_);
    block->addWidget(paidDate_);
    return paid_;
}

// The payment still to take: the method, the cash handed over with its quick amounts, the change
// and the button that registers it.
QWidget* OrderDetail::makeUnpaidBlock() {
    unpaid_ = new QWidget(this);
    unpaid_->setObjectName(QStringLiteral("unpaidBlock"));
    QLabel* pending =
        makeBoldLabel(QStringLiteral("Pendiente de cobro"), QStringLiteral("pendingTitle"), unpaid_, 1.1);
    QStringList methods;
    for (const auto method : {pizzacore::PaymentMethod::cash, pizzacore::PaymentMethod::card})
        methods << qtext(pizzacore::rawValue(method));
    auto* methodRow = new QHBoxLayout;
    methodRow->addWidget(new QLabel(QStringLiteral("Método"), unpaid_));
    methodRow->addWidget(segmented(QStringLiteral("method"), methods, methods_, unpaid_), 1);
    received_ = makeField(QStringLiteral("Efectivo entregado (vacío = importe exacto)"),
                          QStringLiteral("received"), unpaid_);
    received_->setClearButtonEnabled(false);
    received_->setMinimumWidth(120);
    auto* receivedRow = new QHBoxLayout;
    receivedRow->setSpacing(4);
    receivedRow->addWidget(received_, 1);
    // Quick amounts: the exact total and the usual notes, each filling in the cash handed over.
    for (const auto& [label, name, cents] : quickAmounts) {
        QPushButton* quick = makeButton(QString::fromUtf8(label), QString::fromLatin1(name), unpaid_);
        // As narrow as their labels (the style's minimum button width would push the detail
        // wider than a small screen): the field keeps the room to show what was typed.
        quick->setFixedWidth(std::max(40, quick->fontMetrics().horizontalAdvance(quick->text()) + 20));
        quick->setProperty("cents", QVariant::fromValue<qint64>(cents));
        receivedRow->addWidget(quick);
        quick_.push_back(quick);
        connect(quick, &QPushButton::clicked, this, [this, cents = cents] { fillReceived(cents); });
    }
    change_ = orderText(QStringLiteral("change"), unpaid_);
    scaleFont(*change_, 1.8, true);
    // Its label, with the amount, is given by showPayment().
    payButton_ = makeProminentButton(QString(), QStringLiteral("payButton"), unpaid_);

    auto* block = new QVBoxLayout(unpaid_);
    block->setContentsMargins(0, 0, 0, 0);
    block->setSpacing(8);
    block->addWidget(pending);
    block->addLayout(methodRow);
    block->addLayout(receivedRow);
    block->addWidget(change_);
    block->addWidget(payButton_, 0, Qt::AlignLeft);

    connect(methods_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) showPayment();
    });
    connect(received_, &QLineEdit::textChanged, this, &OrderDetail::showChange);
    connect(received_, &QLineEdit::returnPressed, this, &OrderDetail::pay);
    connect(payButton_, &QPushButton::clicked, this, &OrderDetail::pay);
    return unpaid_;
}

// The tickets' preview and printing; the caption under them (laid out by the constructor) says
// which tickets and on what paper.
QLayout* OrderDetail::makeTicketRow() {
    previewButton_ = makeButton(QStringLiteral("Vista previa / PDF"), QStringLiteral("previewTickets"), this);
    printButton_ = makeButton(QStringLiteral("Imprimir…"), QStringLiteral("printTickets"), this);
    ticketsCaption_ = makeFootnote(QString(), QStringLiteral("ticketsCaption"), this);
    ticketsCaption_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* row = new QHBoxLayout;
    row->addWidget(previewButton_);
    row->addWidget(printButton_);
    row->addStretch();
    connect(previewButton_, &QPushButton::clicked, this, [this] {
        if (order_) tickets_.preview(*order_);
    });
    connect(printButton_, &QPushButton::clicked, this, [this] {
        if (order_) tickets_.printOrder(*order_);
    });
    return row;
}

QLayout* OrderDetail::makeLastRow() {
    repeatButton_ =
        makeButton(QStringLiteral("Repetir a precios actuales"), QStringLiteral("repeatOrder"), this);
    cancelButton_ = makeButton(QStringLiteral("Anular…"), QStringLiteral("cancelOrder"), this);
    colours::makeDestructive(*cancelButton_);
    auto* row = new QHBoxLayout;
    row->addWidget(repeatButton_);
    row->addWidget(cancelButton_);
    row->addStretch();
    connect(repeatButton_, &QPushButton::clicked, this, &OrderDetail::repeat);
    connect(cancelButton_, &QPushButton::clicked, this, &OrderDetail::openCancellation);
    return row;
}

QString OrderDetail::amount(pizzacore::Cents cents) const {
    return qtext(pizzacore::FiscalMoney::text(cents, store_.db().settings.currencyCode()));
}

void OrderDetail::showOrder(const pizzacore::Order& order) {
    const bool another = !order_ || order_->id != order.id;
    order_ = order;
    if (another) {
        // A new order starts with cash, an empty amount and no reason.
        methods_->button(0)->setChecked(true);
        received_->clear();
    }
    fill();
}

void OrderDetail::fill() {
    if (!order_) return;
    const pizzacore::Order& order = *order_;
    const pizzacore::Database& db = store_.db();
    const pizzacore::Draft& draft = order.draft;
    pizzacore::Cents total = 0;
    try {
        total = order.total();
    } catch (const pizzacore::PCError&) {
    }

    title_->setText(QStringLiteral("Pedido #") + QString::number(order.number));
    total_->setText(amount(total));
    subtitle_->setText(dateTimeText(order.created) + QStringLiteral(" · ") +
                       qtext(pizzacore::rawValue(draft.mode)));

    const bool cancelled = order.preparation == pizzacore::Preparation::cancelled;
    cancelled_->setVisible(cancelled);
    cancelled_->setText(QStringLiteral("Anulado · ") +
                        qtext(order.cancellationReason.value_or(std::string())));
    preparation_->setVisible(!cancelled);
    if (!cancelled) preparationChoices_->button(static_cast<int>(order.preparation))->setChecked(true);

    customerName_->setText(draft.name.empty() ? QStringLiteral("Mostrador") : qtext(draft.name));
    customerPhone_->setText(qtext(draft.phone));
    customerPhone_->setVisible(!draft.phone.empty());
    customerAddress_->setText(qtext(draft.address));
    customerAddress_->setVisible(!draft.address.empty());
    customerUsual_->setText(QStringLiteral("Habituales: ") + qtext(draft.customerNotes));
    customerUsual_->setVisible(!draft.customerNotes.empty());
    orderNotes_->setText(QStringLiteral("Este pedido: ") + qtext(draft.notes));
    orderNotes_->setVisible(!draft.notes.empty());

    lines_->show(draft.lines, db.settings.currencyCode());
    const int rowHeight = lineList_->sizeHintForRow(0);
    lineList_->setFixedHeight(std::max(0, rowHeight) * lines_->rowCount() + 2 * lineList_->frameWidth() + 2);

    showPayment();

    printButton_->setText(order.printAttempts > 0 ? QStringLiteral("Reimprimir copia…")
                                                  : QStringLiteral("Imprimir…"));
    printButton_->setAccessibleName(printButton_->text());
    QStringList recipients;
    for (const pizzacore::Recipient recipient : db.settings.recipients())
        recipients << qtext(pizzacore::rawValue(recipient));
    ticketsCaption_->setText(QStringLiteral("Tickets: ") + recipients.join(QStringLiteral(", ")) +
                             QStringLiteral(" · ") + qtext(pizzacore::rawValue(db.settings.paper)));

    const bool paid = db.paymentFor(order).has_value();
    cancelButton_->setVisible(!paid && !cancelled);
}

void OrderDetail::showPayment() {
    if (!order_) return;
    const pizzacore::Database& db = store_.db();
    const std::optional<pizzacore::Payment> payment = db.paymentFor(*order_);
    const bool cancelled = order_->preparation == pizzacore::Preparation::cancelled;
    paid_->setVisible(payment.has_value());
    unpaid_->setVisible(!payment && !cancelled);
    if (payment) {
        paidTitle_->setText(QStringLiteral("Cobrado · ") + qtext(pizzacore::rawValue(payment->method)) +
                            QStringLiteral(" · ") + amount(payment->cents));
        const bool cash = payment->method == pizzacore::PaymentMethod::cash;
        paidChange_->setVisible(cash);
        if (cash) {
            QString change = QStringLiteral("—");
            try {
                change = amount(payment->change());
            } catch (const pizzacore::PCError&) {
            }
            paidChange_->setText(QStringLiteral("Entregado: ") + amount(payment->received) +
                                 QStringLiteral(" · Cambio: ") + change);
        }
        paidDate_->setText(dateTimeText(payment->date));
        return;
    }
    pizzacore::Cents total = 0;
    try {
        total = order_->total();
    } catch (const pizzacore::PCError&) {
    }
    const bool cash = methods_->checkedId() == 0;
    received_->setVisible(cash);
    for (QPushButton* quick : quick_) {
        const pizzacore::Cents cents = quick->property("cents").value<qint64>();
        quick->setVisible(cash);
        // A note smaller than the total cannot pay it.
        quick->setEnabled(cents == 0 || cents >= total);
        quick->setToolTip(QStringLiteral("Entregado: ") + amount(cents == 0 ? total : cents));
    }
    payButton_->setText(QStringLiteral("Registrar cobro · ") + amount(total));
    payButton_->setAccessibleName(payButton_->text());
    showChange();
}

void OrderDetail::showChange() {
    if (!order_) return;
    bool shown = false;
    if (methods_->checkedId() == 0 && !received_->text().isEmpty()) {
        try {
            const pizzacore::Cents received = pizzacore::Money::parse(received_->text().toStdString());
            const pizzacore::Cents total = order_->total();
            if (received >= total) {
                change_->setText(QStringLiteral("Cambio: ") + amount(received - total));
                shown = true;
            }
        } catch (const pizzacore::PCError&) {
            // Not an amount (yet): no change line.
        }
    }
    change_->setVisible(shown);
}

void OrderDetail::fillReceived(pizzacore::Cents cents) {
    if (!order_) return;
    if (cents == 0) {
        try {
            cents = order_->total();
        } catch (const pizzacore::PCError&) {
            return;
        }
    }
    received_->setText(qtext(pizzacore::Money::input(cents)));
    received_->setFocus(Qt::OtherFocusReason);
}

void OrderDetail::choosePreparation(QAbstractButton* button) {
    if (!order_) return;
    const int id = preparationChoices_->id(button);
    const auto state = static_cast<pizzacore::Preparation>(id);
    if (state == order_->preparation) return;
    store_.prepareOrder(order_->id, state, this, [this](const Outcome& outcome) {
        if (!outcome) fill(); // back to the stored state
    });
}

void OrderDetail::pay() {
    if (!order_ || unpaid_->isHidden()) return;
    commitPendingEdits(*this);
    const auto method =
        methods_->checkedId() == 1 ? pizzacore::PaymentMethod::card : pizzacore::PaymentMethod::cash;
    store_.payOrder(order_->id, method, received_->text());
}

void OrderDetail::repeat() {
    if (!order_) return;
    const pizzacore::Order order = *order_;
    if (!store_.draft().lines.empty()) {
        const QPointer<OrderDetail> alive(this);
        const std::optional<int> choice = store_.platform().confirm(
            Confirmation{QStringLiteral("¿Sustituir el borrador actual por este pedido?"),
                         QString(),
                         {QStringLiteral("Sustituir borrador"), QStringLiteral("Cancelar")}},
            window());
        if (!alive || choice != 0) return;
    }
    store_.repeatOrder(order);
}

void OrderDetail::openCancellation() {
    if (!order_) return;
    auto* dialog = new CancelOrderDialog(store_, *order_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

// A new proposal prepared from this order, never an earlier one of the same order, opened in the
// invoice editor; nothing is saved until the editor saves it.
void OrderDetail::prepareInvoice() {
    if (!order_) return;
    pizzacore::InvoiceProposal proposal;
    try {
        proposal = store_.db().invoiceProposalFor(*order_, store_.now());
    } catch (...) {
        store_.setMessage(describeFailure(std::current_exception()));
        return;
    }
    auto* editor = new InvoiceEditor(store_, std::move(proposal), this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->open();
}

} // namespace velmora
