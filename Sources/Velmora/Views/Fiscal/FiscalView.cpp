#include <Velmora/Views/Fiscal/FiscalView.hpp>

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Stores/InvoiceDocuments.hpp>
#include <Velmora/Views/Fiscal/FiscalSettingsView.hpp>
#include <Velmora/Views/Fiscal/InvoiceEditor.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Formatting.hpp>
#include <Velmora/Views/Shared/RowActions.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <PizzaCore/Fiscal/FiscalRules.hpp>
#include <PizzaCore/Models/FiscalMoney.hpp>

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora {

namespace {

const std::vector<pizzacore::InvoiceProposal>& storedProposals(const pizzacore::Database& db) {
    static const std::vector<pizzacore::InvoiceProposal> none;
    return db.fiscal ? db.fiscal->proposals : none;
}

// A proposal's row: title, detail in the secondary colour and the total with monospaced digits at
// the right of the text, before the buttons "Editar" and "PDF de propuesta…".
class ProposalDelegate : public RowActionsDelegate {
public:
    explicit ProposalDelegate(QObject* parent)
        : RowActionsDelegate({{QStringLiteral("Editar")}, {QStringLiteral("PDF de propuesta…")}}, parent) {}

protected:
    int contentHeight(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return 2 * QFontMetrics(option.font).height() + 4;
    }

    void paintContent(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                      const QRect& content) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QColor text = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        const QColor secondary = selected ? text : secondaryColor(option.palette);
        QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        digits.setPointSizeF(option.font.pointSizeF());
        const QString total = index.data(ProposalsModel::TotalRole).toString();
        const int totalWidth = QFontMetrics(digits).horizontalAdvance(total) + 16;
        const int width = content.width() - totalWidth;
        int y = content.top() + (content.height() - contentHeight(option, index)) / 2;
        drawLine(painter, total, digits, text, content.right() - totalWidth,
                 content.center().y() - QFontMetrics(digits).height() / 2, totalWidth, Qt::AlignRight);
        y = drawLine(painter, index.data(ProposalsModel::TitleRole).toString(), option.font, text,
                     content.left(), y, width) +
            4;
        drawLine(painter, index.data(ProposalsModel::DetailRole).toString(), option.font, secondary,
                 content.left(), y, width);
    }
};

} // namespace

ProposalsModel::ProposalsModel(AppStore& store, QObject* parent)
    : QAbstractListModel(parent)
    , store_(store) {
    refresh();
}

int ProposalsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(proposals_.size());
}

QVariant ProposalsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const pizzacore::InvoiceProposal& shown = proposal(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return data(index, TitleRole).toString() + QStringLiteral(", ") + data(index, TotalRole).toString();
    case TitleRole:
        return qtext(pizzacore::title(shown.kind)) + QStringLiteral(" · ") +
               (shown.recipientName.empty() ? QStringLiteral("Sin destinatario")
                                            : qtext(shown.recipientName));
    case DetailRole: {
        QString detail = QStringLiteral("Propuesta · ") + dateTimeText(shown.created);
        if (shown.orderID) {
            if (const auto number = orderNumbers_.find(*shown.orderID); number != orderNumbers_.end())
                detail += QStringLiteral(" · Pedido #") + QString::number(number->second);
        }
        return detail;
    }
    case TotalRole:
        return qtext(pizzacore::FiscalMoney::text(shown.gross(), currency_));
    default:
        return {};
    }
}

void ProposalsModel::refresh() {
    const pizzacore::Database& db = store_.db();
    const std::vector<pizzacore::InvoiceProposal>& stored = storedProposals(db);
    const std::string currency = db.settings.currency.value_or("EUR");
    if (currency == currency_ && stored.size() == proposals_.size() &&
        std::is_permutation(stored.begin(), stored.end(), proposals_.begin()))
        return;
    beginResetModel();
    currency_ = currency;
    proposals_ = stored;
    orderNumbers_.clear();
    for (const pizzacore::InvoiceProposal& proposal : proposals_)
        if (proposal.orderID) orderNumbers_.emplace(*proposal.orderID, 0);
    if (!orderNumbers_.empty()) {
        for (const pizzacore::Order& order : db.orders)
            if (const auto found = orderNumbers_.find(order.id); found != orderNumbers_.end())
                found->second = order.number;
        // An order no longer stored names nothing.
        std::erase_if(orderNumbers_, [](const auto& entry) { return entry.second == 0; });
    }
    std::stable_sort(proposals_.begin(), proposals_.end(),
                     [](const auto& left, const auto& right) { return left.created > right.created; });
    endResetModel();
}

FiscalView::FiscalView(AppStore& store, QWidget* parent)
    : QWidget(parent)
    , store_(store)
    , model_(store) {
    setObjectName(QStringLiteral("FiscalView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->addLayout(makeHeader());
    layout->addWidget(makeNotice());
    layout->addWidget(makeList(), 1);
    layout->addLayout(makeFooter());

    connect(&store_, &AppStore::dbChanged, this, &FiscalView::refresh);
    refresh();
}

QLayout* FiscalView::makeHeader() {
    auto* header = new QHBoxLayout;
    header->addWidget(new PageHeader(QStringLiteral("Facturación"),
                                     QStringLiteral("España · NO VERI*FACTU · Archivo local"), this),
                      1);
    QPushButton* configure =
        makeButton(QStringLiteral("Configuración fiscal…"), QStringLiteral("configureFiscal"), this);
    QPushButton* create =
        makeProminentButton(QStringLiteral("Nueva propuesta"), QStringLiteral("newProposal"), this);
    header->addWidget(configure, 0, Qt::AlignTop);
    header->addWidget(create, 0, Qt::AlignTop);

    connect(configure, &QPushButton::clicked, this, &FiscalView::configure);
    connect(create, &QPushButton::clicked, this, &FiscalView::newProposal);
    return header;
}

QWidget* FiscalView::makeNotice() {
    // The notice that emission is blocked.
    auto* notice = new QFrame(this);
    notice->setObjectName(QStringLiteral("pendingNotice"));
    notice->setFrameShape(QFrame::StyledPanel);
    auto* noticeLayout = new QHBoxLayout(notice);
    auto* shield = new QLabel(notice);
    shield->setPixmap(symbolIcon(QStringLiteral("lock.shield")).pixmap(28, 28));
    noticeLayout->addWidget(shield, 0, Qt::AlignTop);
    auto* noticeText = new QVBoxLayout;
    QLabel* headline = makePlainLabel(QStringLiteral("Emisión fiscal pendiente de validación"),
                                      QStringLiteral("pendingHeadline"), notice);
    scaleFont(*headline, 1.1, true);
    QLabel* pending = makePlainLabel(qtext(pizzacore::FiscalRules::pendingValidation),
                                     QStringLiteral("pendingValidation"), notice);
    pending->setWordWrap(true);
    noticeText->addWidget(headline);
    noticeText->addWidget(pending);
    noticeText->addWidget(
        makeCaption(QStringLiteral("Las propuestas no consumen números de factura y sus PDF "
                                   "indican que no tienen validez fiscal."),
                    QStringLiteral("numbering"), notice));
    noticeLayout->addLayout(noticeText, 1);
    return notice;
}

QWidget* FiscalView::makeList() {
    content_ = new QStackedWidget(this);
    content_->addWidget(
        new EmptyMessage(QStringLiteral("Sin propuestas de factura"),
                         QStringLiteral("Prepara una propuesta desde un pedido o añade conceptos "
                                        "aquí. Configura primero tus impuestos y los datos del emisor."),
                         QStringLiteral("doc.text"), content_));
    list_ = new QListView(content_);
    list_->setObjectName(QStringLiteral("proposals"));
    list_->setAccessibleName(QStringLiteral("Propuestas de factura"));
    list_->setModel(&model_);
    // Every row has the same height, so the list never measures rows that are not on screen.
    list_->setUniformItemSizes(true);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    // The buttons, Return, the row's menu and its accessible actions all run the same actions;
    // a proposal has nothing to delete.
    delegate_ = new ProposalDelegate(this);
    delegate_->attach(*list_, editAction, -1);
    content_->addWidget(list_);

    connect(delegate_, &RowActionsDelegate::triggered, this, [this](const QModelIndex& index, int action) {
        if (index.row() < 0 || index.row() >= model_.rowCount()) return;
        if (action == editAction)
            edit(model_.proposal(index.row()));
        else
            savePDF(index.row());
    });
    // Activating a row (a double click outside its buttons) edits it, like its "Editar" button.
    connect(list_, &QListView::activated, this,
            [this](const QModelIndex& index) { delegate_->trigger(index, editAction); });
    return content_;
}

QLayout* FiscalView::makeFooter() {
    auto* footer = new QHBoxLayout;
    counters_ = makeCaption(QString(), QStringLiteral("counters"), this);
    QPushButton* requirements =
        makeButton(QStringLiteral("Requisitos pendientes…"), QStringLiteral("requirements"), this);
    footer->addWidget(counters_, 1);
    footer->addWidget(requirements);

    connect(requirements, &QPushButton::clicked, this, &FiscalView::showRequirements);
    return footer;
}

void FiscalView::refresh() {
    model_.refresh();
    content_->setCurrentIndex(model_.rowCount() == 0 ? 0 : 1);
    const auto* fiscal = store_.db().fiscal ? &*store_.db().fiscal : nullptr;
    const std::size_t invoices = fiscal ? fiscal->invoices.size() : 0;
    const std::size_t events = fiscal ? fiscal->events.size() : 0;
    counters_->setText(QString::number(invoices) + QStringLiteral(" facturas emitidas · ") +
                       QString::number(events) + QStringLiteral(" eventos fiscales"));
}

void FiscalView::edit(const pizzacore::InvoiceProposal& proposal) {
    QPointer<InvoiceEditor> editor = new InvoiceEditor(store_, proposal, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->open();
}

void FiscalView::newProposal() {
    pizzacore::InvoiceProposal proposal;
    proposal.created = store_.now();
    proposal.operationDate = proposal.created;
    edit(proposal);
}

void FiscalView::configure() {
    auto* sheet = new FiscalSettingsView(store_, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

void FiscalView::savePDF(int row) {
    if (row < 0 || row >= model_.rowCount()) return;
    const pizzacore::InvoiceProposal proposal = model_.proposal(row);
    InvoiceDocuments::saveProposal(proposal, store_.db().fiscalState().settings, store_);
}

void FiscalView::showRequirements() {
    store_.setMessage(
        qtext(pizzacore::FiscalRules::pendingValidation) +
            QStringLiteral("\n\nEl perfil español debe concretar territorio y régimen. Otros países "
                           "requieren su propia adaptación normativa; cambiar impuestos o moneda no los "
                           "activa como perfiles legales."),
        AlertKind::information);
}

} // namespace velmora
