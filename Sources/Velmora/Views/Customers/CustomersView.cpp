#include <Velmora/Views/Customers/CustomersView.hpp>

#include <Velmora/Platform/PlatformServices.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Customers/CustomerHistoryView.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>
#include <Velmora/Views/Shared/RowActions.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace velmora {

namespace {

// A card's row: name, telephone and address, usual notes, then the order count and usual payment.
class CustomerRowDelegate : public RowActionsDelegate {
public:
    using RowActionsDelegate::RowActionsDelegate;

protected:
    int contentHeight(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return QFontMetrics(headlineFont(option.font)).height() + 2 * QFontMetrics(option.font).height() +
               QFontMetrics(captionFont(option.font)).height() + 6;
    }

    void paintContent(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                      const QRect& content) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& palette = option.palette;
        const QColor text = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        const QColor secondary = selected ? text : secondaryColor(palette);
        const int height = contentHeight(option, index);
        int y = content.top() + (content.height() - height) / 2;
        const int x = content.left();
        const int width = content.width();
        y = drawLine(painter, index.data(Qt::DisplayRole).toString(), headlineFont(option.font), text, x, y,
                     width);
        y += 2;
        y = drawLine(painter, index.data(CustomersModel::ContactRole).toString(), option.font, secondary, x,
                     y, width);
        y = drawLine(painter, index.data(CustomersModel::NotesRole).toString(), captionFont(option.font),
                     text, x, y, width);
        y += 4;
        QFont bold = option.font;
        bold.setBold(true);
        const QString count = index.data(CustomersModel::OrdersRole).toString();
        const int countWidth = QFontMetrics(bold).horizontalAdvance(count) + 12;
        drawLine(painter, count, bold, text, x, y, width);
        drawLine(painter, index.data(CustomersModel::UsualPaymentRole).toString(), option.font, secondary,
                 x + countWidth, y, width - countWidth);
    }
};

} // namespace

CustomersModel::CustomersModel(const AppStore& store, QObject* parent)
    : QAbstractListModel(parent)
    , store_(store) {}

void CustomersModel::setCards(std::vector<pizzacore::Customer> cards) {
    beginResetModel();
    cards_ = std::move(cards);
    endResetModel();
}

void CustomersModel::followDocument() {
    summariesBehind_ = summaries_.has_value();
    if (!cards_.empty()) emit dataChanged(index(0), index(rowCount() - 1), {OrdersRole, UsualPaymentRole});
}

const CustomerSummaries& CustomersModel::summaries() const {
    if (!summaries_) {
        summaries_.emplace(store_.db());
    } else if (summariesBehind_) {
        summaries_->update(store_.db());
    }
    summariesBehind_ = false;
    return *summaries_;
}

int CustomersModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(cards_.size());
}

QVariant CustomersModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const pizzacore::Customer& customer = card(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return qtext(customer.name);
    case ContactRole: {
        QString contact = qtext(customer.phone);
        if (!customer.address.empty()) contact += QStringLiteral(" · ") + qtext(customer.address);
        return contact;
    }
    case NotesRole:
        return qtext(customer.notes);
    case OrdersRole:
        return QString::number(summaries().summary(customer).orders) + QStringLiteral(" pedidos");
    case UsualPaymentRole:
        return QStringLiteral("Pago habitual: ") + qtext(summaries().summary(customer).usualPayment);
    default:
        return {};
    }
}

CustomersView::CustomersView(AppStore& store, QWidget* parent)
    : QWidget(parent)
    , store_(store)
    , nameQuery_(makeField(QStringLiteral("Buscar por nombre"), QStringLiteral("nameQuery"), this))
    , phoneQuery_(makeField(QStringLiteral("Buscar por teléfono"), QStringLiteral("phoneQuery"), this))
    , addressQuery_(makeField(QStringLiteral("Buscar por dirección"), QStringLiteral("addressQuery"), this))
    , content_(new QStackedWidget(this))
    , list_(new QListView(this))
    , model_(new CustomersModel(store, this))
    , delegate_(new CustomerRowDelegate({{QStringLiteral("Historial")},
                                         {QStringLiteral("Usar en Caja")},
                                         {QStringLiteral("Editar")},
                                         {QStringLiteral("Eliminar"), true}},
                                        this)) {
    setObjectName(QStringLiteral("CustomersView"));

    auto* header = new QHBoxLayout;
    header->addWidget(new PageHeader(QStringLiteral("Clientes"),
                                     QStringLiteral("Teléfonos, direcciones e indicaciones habituales."),
                                     this),
                      1);
    QPushButton* create =
        makeProminentButton(QStringLiteral("Nuevo cliente"), QStringLiteral("newCustomer"), this);
    create->setDefault(false);
    header->addWidget(create, 0, Qt::AlignTop);

    auto* searches = new QHBoxLayout;
    for (QLineEdit* field : {nameQuery_, phoneQuery_, addressQuery_}) {
        searches->addWidget(field);
        connect(field, &QLineEdit::textChanged, this, &CustomersView::search);
    }

    list_->setObjectName(QStringLiteral("customers"));
    list_->setAccessibleName(QStringLiteral("Clientes"));
    list_->setModel(model_);
    // Every row has the same height, so the list never measures rows that are not on screen.
    list_->setUniformItemSizes(true);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    delegate_->attach(*list_, edit, remove);

    content_->addWidget(list_);
    content_->addWidget(
        new EmptyMessage(QStringLiteral("Sin clientes"),
                         QStringLiteral("Puedes crear una ficha aquí o durante una llamada en Caja."),
                         QStringLiteral("person.crop.circle.badge.plus"), this));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->setSpacing(14);
    layout->addLayout(header);
    layout->addLayout(searches);
    layout->addWidget(content_, 1);

    connect(create, &QPushButton::clicked, this, [this] { openEditor(pizzacore::Customer{}); });
    connect(delegate_, &RowActionsDelegate::triggered, this,
            [this](const QModelIndex& index, int action) { run(index.row(), static_cast<Action>(action)); });
    connect(&store_, &AppStore::dbChanged, this, &CustomersView::documentChanged);
}

bool CustomersView::showsEmptyMessage() const {
    return content_->currentIndex() == 1;
}

void CustomersView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale_) search();
}

void CustomersView::documentChanged() {
    model_->followDocument();
    // When the cards are known to be those searched (the document shares its unchanged records),
    // the rows stay and only their figures are drawn again.
    using Cards = decltype(pizzacore::Database::customers);
    if (RecordVersion<Cards>::exact && searchedCards_.known() &&
        searchedCards_.spanTo(store_.db().customers).empty())
        return;
    // A hidden screen only remembers that it is out of date: the checkout saves its draft on every
    // keystroke, and those saves must not search the cards again.
    if (isVisible())
        search();
    else
        stale_ = true;
}

void CustomersView::search() {
    stale_ = false;
    searchedCards_.remember(store_.db().customers);
    model_->setCards(store_.db().customersMatching(utf8(nameQuery_->text()), utf8(phoneQuery_->text()),
                                                   utf8(addressQuery_->text())));
    content_->setCurrentIndex(model_->rowCount() == 0 ? 1 : 0);
}

void CustomersView::run(int row, Action action) {
    if (row < 0 || row >= model_->rowCount()) return;
    const pizzacore::Customer customer = model_->card(row);
    switch (action) {
    case history:
        openHistory(customer);
        break;
    case useAtTill:
        store_.selectCustomer(customer);
        break;
    case edit:
        openEditor(customer);
        break;
    case remove: {
        // The alert lets the event loop run; the controller outlives this screen, the screen may not.
        AppStore& store = store_;
        const std::optional<int> chosen = store.platform().confirm(
            Confirmation{QStringLiteral("¿Eliminar la ficha? Los pedidos anteriores conservan sus datos."),
                         QString(),
                         {QStringLiteral("Eliminar ficha"), QStringLiteral("Cancelar")}},
            window());
        if (chosen == 0) store.deleteCustomer(customer);
        break;
    }
    }
}

void CustomersView::openEditor(const pizzacore::Customer& customer) {
    auto* editor = new CustomerEditor(store_, customer, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->open();
}

void CustomersView::openHistory(const pizzacore::Customer& customer) {
    auto* history = new CustomerHistoryView(store_, customer, this);
    history->setAttribute(Qt::WA_DeleteOnClose);
    history->open();
}

CustomerEditor::CustomerEditor(AppStore& store, pizzacore::Customer customer, QWidget* parent)
    : EditorSheet(store, QStringLiteral("Ficha de cliente"), parent)
    , customer_(std::move(customer))
    , name_(makeField(QStringLiteral("Nombre"), QStringLiteral("name"), this))
    , phone_(makeField(QStringLiteral("Teléfono"), QStringLiteral("phone"), this))
    , address_(makeField(QStringLiteral("Dirección"), QStringLiteral("address"), this))
    , notes_(makeField(QStringLiteral("Notas habituales"), QStringLiteral("notes"), this)) {
    setObjectName(QStringLiteral("CustomerEditor"));
    setMinimumWidth(450);

    name_->setText(qtext(customer_.name));
    phone_->setText(qtext(customer_.phone));
    address_->setText(qtext(customer_.address));
    notes_->setText(qtext(customer_.notes));

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("Nombre"), name_);
    fields->addRow(QStringLiteral("Teléfono"), phone_);
    fields->addRow(QStringLiteral("Dirección"), address_);
    fields->addRow(QStringLiteral("Notas habituales"), notes_);
    form().addLayout(fields);
    form().addWidget(makeCaption(
        QStringLiteral(
            "Las notas habituales se copian a los nuevos pedidos. Los históricos no se modifican."),
        QStringLiteral("caption"), this));
}

std::optional<QString> CustomerEditor::check() {
    edited_ = customer_;
    edited_.name = utf8(name_->text());
    edited_.phone = utf8(phone_->text());
    edited_.address = utf8(address_->text());
    edited_.notes = utf8(notes_->text());
    return std::nullopt;
}

void CustomerEditor::transact(AppStore::Then then) {
    store().saveCustomer(edited_, this, std::move(then));
}

} // namespace velmora
