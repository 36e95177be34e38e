#include <Velmora/Views/Orders/TicketPreview.hpp>

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Shared/Components.hpp>
#include <Velmora/Views/Shared/Sheet.hpp>

#include <PizzaCore/Documents/TicketRenderer.hpp>
#include <PizzaCore/Models/Catalog.hpp>

#include <QLabel>
#include <QPdfDocument>
#include <QPdfView>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>

namespace velmora {

namespace {

// Long enough to let a burst of typing end, short enough to feel immediate.
constexpr int renderDelay = 250;

pizzacore::Line line(const char* name, const pizzacore::Category& category, pizzacore::Cents cents,
                     std::int64_t quantity, const char* notes = "") {
    pizzacore::Product product;
    product.name = name;
    product.category = category;
    product.cents = cents;
    pizzacore::Line result = pizzacore::Line::make(product);
    result.quantity = quantity;
    result.notes = notes;
    return result;
}

} // namespace

pizzacore::Order TicketPreview::sampleOrder(pizzacore::Instant created) {
    pizzacore::Order order;
    order.number = 27;
    order.created = created;
    order.draft.name = "Lucía Pérez";
    order.draft.phone = "600 111 222";
    order.draft.address = "Calle Mayor 3, 2.º B";
    order.draft.customerNotes = "Timbre estropeado: llamar al llegar";
    order.draft.notes = "Sin prisa";
    order.draft.mode = pizzacore::Mode::delivery;
    order.draft.lines = {
        line("Pizza margarita", pizzacore::Category::pizza(), 950, 2, "Una sin albahaca"),
        line("Refresco de cola", pizzacore::Category::drink(), 250, 2),
        line("Patatas gajo", pizzacore::Category::side(), 400, 1),
    };
    return order;
}

pizzacore::Payment TicketPreview::samplePayment(const pizzacore::Order& order) {
    pizzacore::Payment payment;
    payment.orderID = order.id;
    payment.date = order.created;
    payment.method = pizzacore::PaymentMethod::cash;
    payment.cents = order.total();
    payment.received = 3000;
    return payment;
}

TicketPreview::TicketPreview(QWidget* parent)
    : QWidget(parent)
    , delay_(new QTimer(this))
    , document_(new QPdfDocument(this))
    , view_(new QPdfView(this))
    , failure_(makeCaption(QString(), QStringLiteral("ticketPreviewFailure"), this))
    , pages_(new QStackedWidget(this)) {
    setObjectName(QStringLiteral("ticketPreview"));
    setAccessibleName(QStringLiteral("Vista previa del ticket"));
    delay_->setSingleShot(true);
    delay_->setInterval(renderDelay);
    connect(delay_, &QTimer::timeout, this, &TicketPreview::render);

    view_->setObjectName(QStringLiteral("ticketPreviewPages"));
    view_->setAccessibleName(QStringLiteral("Vista previa del ticket"));
    view_->setDocument(document_);
    view_->setPageMode(QPdfView::PageMode::MultiPage);
    view_->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    view_->setPageSpacing(10);
    failure_->setAlignment(Qt::AlignCenter);
    pages_->addWidget(view_);
    pages_->addWidget(failure_);

    QLabel* title = makeBoldLabel(QStringLiteral("Vista previa del ticket"),
                                  QStringLiteral("ticketPreviewTitle"), this, 1.05);
    QLabel* caption =
        makeCaption(QStringLiteral("Pedido de ejemplo con los ajustes sin guardar."), QString(), this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(title);
    layout->addWidget(caption);
    layout->addWidget(pages_, 1);
}

TicketPreview::~TicketPreview() {
    // Left to QObject, the children would go in the order they were made (the document before the
    // view), and only after buffer_ and bytes_, with the view's render thread still reading them.
    delete view_;
    view_ = nullptr;
    document_->close();
    delete document_;
    document_ = nullptr;
    buffer_.close();
}

void TicketPreview::preview(const pizzacore::Settings& settings, pizzacore::Instant created, bool now) {
    if (pending_ == settings && created_ == created && !now) return;
    pending_ = settings;
    created_ = created;
    if (now)
        render();
    else
        delay_->start();
}

QString TicketPreview::failure() const {
    return pages_->currentWidget() == failure_ ? failure_->text() : QString();
}

void TicketPreview::render() {
    delay_->stop();
    if (!pending_) return;
    const pizzacore::Order order = sampleOrder(created_);
    pizzacore::Bytes pdf;
    QString failure;
    try {
        pdf = pizzacore::TicketRenderer::render(order, *pending_, samplePayment(order), false);
    } catch (...) {
        failure = describeFailure(std::current_exception());
    }
    // The view's render thread may be drawing the old pages right now: the view goes before the
    // document is closed and its bytes replaced, exactly as on destruction, and a fresh view shows
    // the new pages.
    replaceView();
    document_->close();
    buffer_.close();
    if (!failure.isEmpty()) {
        bytes_.clear();
        failure_->setText(failure);
        pages_->setCurrentWidget(failure_);
        return;
    }
    bytes_ = QByteArray(reinterpret_cast<const char*>(pdf.data()), static_cast<qsizetype>(pdf.size()));
    buffer_.setData(bytes_);
    buffer_.open(QIODevice::ReadOnly);
    document_->load(&buffer_);
    view_->setDocument(document_);
    pages_->setCurrentWidget(view_);
}

void TicketPreview::replaceView() {
    const bool shown = pages_->currentWidget() == view_;
    pages_->removeWidget(view_);
    delete view_;
    view_ = new QPdfView(pages_);
    view_->setObjectName(QStringLiteral("ticketPreviewPages"));
    view_->setAccessibleName(QStringLiteral("Vista previa del ticket"));
    view_->setPageMode(QPdfView::PageMode::MultiPage);
    view_->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    view_->setPageSpacing(10);
    pages_->insertWidget(0, view_);
    if (shown) pages_->setCurrentWidget(view_);
}

} // namespace velmora
