#include <Velmora/Views/Orders/OrdersView.hpp>

#include <Velmora/Services/TicketService.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Orders/OrderDetail.hpp>
#include <Velmora/Views/Orders/OrdersModel.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Palette.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

namespace velmora {

namespace {

// One order in three lines: number, name and total; mode and preparation; payment state.
class OrderRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static constexpr int padding = 7;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        QFont caption = option.font;
        caption.setPointSizeF(caption.pointSizeF() * 0.88);
        return {280,
                QFontMetrics(option.font).height() + 2 * QFontMetrics(caption).height() + 2 * padding + 4};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& given,
               const QModelIndex& index) const override {
        QStyleOptionViewItem option = given;
        initStyleOption(&option, index);
        option.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : nullptr;
        if (style) style->drawPrimitive(QStyle::PE_PanelItemViewItem, &option, painter, widget);

        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& palette = option.palette;
        const QColor text = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        QColor secondary = text;
        secondary.setAlphaF(0.6);

        QFont bold = option.font;
        bold.setBold(true);
        QFont caption = option.font;
        caption.setPointSizeF(caption.pointSizeF() * 0.88);
        const QRect area = option.rect.adjusted(10, padding, -10, -padding);
        const int firstHeight = QFontMetrics(option.font).height();
        const int captionHeight = QFontMetrics(caption).height();

        painter->save();
        painter->setPen(text);
        painter->setFont(bold);
        const QString number = index.data(OrdersModel::NumberRole).toString();
        const QString total = index.data(OrdersModel::TotalRole).toString();
        const QFontMetrics boldMetrics(bold);
        QRect line(area.left(), area.top(), area.width(), firstHeight);
        painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter, number);
        painter->drawText(line, Qt::AlignRight | Qt::AlignVCenter, total);
        const int nameLeft = line.left() + boldMetrics.horizontalAdvance(number) + 8;
        const int nameRight = line.right() - boldMetrics.horizontalAdvance(total) - 8;
        painter->setFont(option.font);
        const QString name = QFontMetrics(option.font)
                                 .elidedText(index.data(OrdersModel::NameRole).toString(), Qt::ElideRight,
                                             std::max(0, nameRight - nameLeft));
        painter->drawText(QRect(nameLeft, line.top(), std::max(0, nameRight - nameLeft), firstHeight),
                          Qt::AlignLeft | Qt::AlignVCenter, name);

        painter->setFont(caption);
        painter->setPen(secondary);
        line = QRect(area.left(), line.bottom() + 3, area.width(), captionHeight);
        // When it was confirmed at the right; the mode and state take what is left.
        const QString when = index.data(OrdersModel::WhenRole).toString();
        const QFontMetrics captionMetrics(caption);
        const int whenWidth = captionMetrics.horizontalAdvance(when);
        painter->drawText(line, Qt::AlignRight | Qt::AlignVCenter, when);
        painter->drawText(line.adjusted(0, 0, -whenWidth - 8, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          captionMetrics.elidedText(index.data(OrdersModel::DetailRole).toString(),
                                                    Qt::ElideRight,
                                                    std::max(0, line.width() - whenWidth - 8)));
        line.translate(0, captionHeight);
        const bool paid = index.data(OrdersModel::PaidRole).toBool();
        painter->setPen(selected ? text : (paid ? colours::positive : colours::attention));
        painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                          index.data(OrdersModel::StatusRole).toString());
        painter->restore();
    }
};

} // namespace

OrdersView::OrdersView(AppStore& store, QWidget* parent)
    : OrdersView(store, *new TicketService(store, TicketService::standardRenderer()), parent) {
    // The service is made before the view exists; the view takes it over.
    detail_->tickets().setParent(this);
}

OrdersView::OrdersView(AppStore& store, TicketService& tickets, QWidget* parent)
    : QWidget(parent)
    , store_(store)
    , model_(new OrdersModel(store, this))
    , search_(makeField(QStringLiteral("Número, cliente o teléfono"), QStringLiteral("orderSearch"), this))
    , day_(nameControl(new QComboBox(this), QStringLiteral("dayFilter"), QStringLiteral("Jornada")))
    , pending_(nameControl(new QCheckBox(QStringLiteral("Sin cobrar"), this), QStringLiteral("pendingFilter"),
                           QStringLiteral("Sin cobrar")))
    , list_(nameControl(new QListView(this), QStringLiteral("ordersList"), QStringLiteral("Pedidos")))
    , pane_(new QStackedWidget(this))
    , detail_(new OrderDetail(store, tickets, this)) {
    setObjectName(QStringLiteral("OrdersView"));

    auto* dayLabel = new QLabel(QStringLiteral("Jornada"), this);
    day_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    dayLabel->setBuddy(day_);

    list_->setModel(model_);
    list_->setItemDelegate(new OrderRowDelegate(list_));
    // Every row has the same height, so the list never measures fifty thousand rows.
    list_->setUniformItemSizes(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setMinimumWidth(285);
    list_->setMaximumWidth(360);
    list_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);

    // What an empty list means, over its viewport: nothing confirmed yet, or nothing that
    // passes the filters.
    empty_ = makeCaption(QString(), QStringLiteral("ordersEmpty"), list_->viewport());
    empty_->setAlignment(Qt::AlignCenter);
    {
        auto* centred = new QVBoxLayout(list_->viewport());
        centred->setContentsMargins(16, 16, 16, 16);
        centred->addWidget(empty_);
    }
    connect(model_, &QAbstractItemModel::modelReset, this, &OrdersView::showEmptyList);
    connect(model_, &QAbstractItemModel::layoutChanged, this, &OrdersView::showEmptyList);
    connect(model_, &QAbstractItemModel::rowsInserted, this, &OrdersView::showEmptyList);
    connect(model_, &QAbstractItemModel::rowsRemoved, this, &OrdersView::showEmptyList);
    // "hace 12 min" moves on by itself while the list is on screen.
    auto* clock = new QTimer(this);
    clock->setInterval(30'000);
    connect(clock, &QTimer::timeout, this, [this] {
        if (isVisible()) list_->viewport()->update();
    });
    clock->start();

    auto* scroll = new QScrollArea(pane_);
    scroll->setObjectName(QStringLiteral("detailScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(detail_);
    pane_->addWidget(new EmptyMessage(QStringLiteral("Selecciona un pedido"),
                                      QStringLiteral("Consulta el detalle, cobra o prepara sus tickets."),
                                      QStringLiteral("list.bullet.rectangle"), pane_));
    pane_->addWidget(scroll);

    auto* filters = new QHBoxLayout;
    filters->setSpacing(10);
    filters->addWidget(search_, 1);
    filters->addWidget(dayLabel);
    filters->addWidget(day_);
    filters->addWidget(pending_);

    auto* columns = new QHBoxLayout;
    columns->setSpacing(16);
    columns->addWidget(list_);
    columns->addWidget(pane_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->setSpacing(14);
    layout->addWidget(new PageHeader(
        QStringLiteral("Pedidos"),
        QStringLiteral("Preparación y cobro independientes. Todo el histórico permanece aquí."), this));
    layout->addLayout(filters);
    layout->addLayout(columns, 1);

    connect(search_, &QLineEdit::textChanged, this, &OrdersView::applyFilter);
    connect(day_, &QComboBox::currentIndexChanged, this, &OrdersView::applyFilter);
    connect(pending_, &QCheckBox::toggled, this, &OrdersView::applyFilter);
    connect(model_, &OrdersModel::dayChoicesChanged, this, &OrdersView::showDayChoices);
    connect(model_, &OrdersModel::becameReady, this, &OrdersView::showEmptyList);
    connect(model_, &OrdersModel::becameReady, this, [this] {
        if (isVisible())
            followSelection();
        else
            stale_ = true;
    });
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &OrdersView::listSelectionChanged);
    connect(&store_, &AppStore::dbChanged, this, &OrdersView::showDocument);
    // The list selects its rows itself, so a change it did not make comes from outside it (a
    // confirmation, "Ver #…" on the checkout, "Ver pedido" in a card's history).
    connect(&store_, &AppStore::selectedOrderChanged, this, &OrdersView::revealSelectedOrder);
    connect(&store_, &AppStore::selectedOrderShown, this, &OrdersView::revealSelectedOrder);

    showDayChoices();
    showSelectedOrder();
    showEmptyList();
}

void OrdersView::showEmptyList() {
    const bool none = model_->rowCount() == 0;
    empty_->setVisible(none);
    if (!none) return;
    if (!model_->ready())
        empty_->setText(QStringLiteral("Cargando pedidos…"));
    else if (store_.db().orders.empty())
        empty_->setText(QStringLiteral("Aún no hay pedidos. Los pedidos confirmados en Caja aparecen aquí."));
    else
        empty_->setText(QStringLiteral("Ningún pedido coincide con la búsqueda o los filtros."));
}

void OrdersView::applyFilter() {
    OrdersFilter filter;
    filter.day = day_->currentIndex() > 0 ? day_->currentText() : QString();
    filter.pending = pending_->isChecked();
    filter.query = search_->text();
    following_ = true;
    model_->setFilter(filter);
    following_ = false;
    // The selected order comes back into the list when a filter shows it again.
    showSelectedOrder();
}

void OrdersView::showDayChoices() {
    const QString chosen = day_->currentIndex() > 0 ? day_->currentText() : QString();
    {
        const QSignalBlocker quiet(day_);
        day_->clear();
        day_->addItems(model_->dayChoices());
        // A day that no longer exists falls back to every day.
        const int index = chosen.isEmpty() ? 0 : day_->findText(chosen);
        day_->setCurrentIndex(std::max(0, index));
    }
    applyFilter();
}

void OrdersView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale_) showDocument();
}

void OrdersView::showDocument() {
    // While another section is on screen (the checkout saves the draft on every keystroke), the
    // selection and the detail wait until the list is shown again. The records follow at once
    // when that costs only the change, so that the first showing finds them made; otherwise
    // they are only started, on the worker, when there are none yet.
    if (!isVisible()) {
        if (OrdersModel::followsChangesCheaply || !model_->ready()) {
            following_ = true;
            model_->refresh();
            following_ = false;
        }
        stale_ = true;
        return;
    }
    stale_ = false;
    following_ = true;
    model_->refresh();
    following_ = false;
    followSelection();
}

void OrdersView::followSelection() {
    if (revealPending_)
        revealSelectedOrder();
    else
        showSelectedOrder();
}

void OrdersView::showSelectedOrder() {
    const std::optional<pizzacore::Uuid>& selected = store_.selectedOrder();
    const pizzacore::Order* order = selected ? model_->order(*selected) : nullptr;
    following_ = true;
    const int row = selected ? model_->rowOf(*selected) : -1;
    QItemSelectionModel& selection = *list_->selectionModel();
    if (row >= 0) {
        const QModelIndex index = model_->index(row);
        if (!selection.isSelected(index)) {
            selection.setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
            list_->scrollTo(index);
        }
    } else {
        // No row shows the selected order, so none stays highlighted: a highlighted row that is
        // not the selected order would ignore a click on it.
        selection.clearSelection();
    }
    following_ = false;
    if (order) {
        detail_->showOrder(*order);
        pane_->setCurrentIndex(1);
    } else {
        pane_->setCurrentIndex(0);
    }
}

void OrdersView::revealSelectedOrder() {
    // A hidden list out of date with the document, or one whose records are still being made,
    // cannot find a new order yet; it reveals it once shown and brought up to date. The detail
    // shows the order meanwhile.
    if (stale_ || !model_->ready()) {
        revealPending_ = true;
        if (!stale_) showSelectedOrder();
        return;
    }
    revealPending_ = false;
    const std::optional<pizzacore::Uuid>& selected = store_.selectedOrder();
    if (selected && model_->rowOf(*selected) < 0 && model_->order(*selected)) {
        // Only the filters that hide it are cleared; the others stay as the operator left them.
        const OrdersFilter showing = model_->filterShowing(*selected);
        {
            const QSignalBlocker quietSearch(search_);
            const QSignalBlocker quietDay(day_);
            const QSignalBlocker quietPending(pending_);
            if (showing.query.isEmpty()) search_->clear();
            if (showing.day.isEmpty()) day_->setCurrentIndex(0);
            pending_->setChecked(showing.pending);
        }
        applyFilter();
    } else {
        showSelectedOrder();
    }
    if (selected) {
        if (const int row = model_->rowOf(*selected); row >= 0) list_->scrollTo(model_->index(row));
    }
}

void OrdersView::listSelectionChanged() {
    if (following_) return;
    const QModelIndexList rows = list_->selectionModel()->selectedRows();
    // Only a choice of the operator selects; a row that a filter hides keeps its order selected.
    if (rows.isEmpty()) return;
    store_.setSelectedOrder(model_->orderAt(rows.front().row()));
}

} // namespace velmora
