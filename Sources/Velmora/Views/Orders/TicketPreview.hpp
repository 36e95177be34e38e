#pragma once

// moc cannot parse the C++20 concepts the core's headers pull in, and needs none of their types.
#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Instant.hpp>
#include <PizzaCore/Models/Orders.hpp>
#include <PizzaCore/Models/Settings.hpp>
#endif

#include <QBuffer>
#include <QByteArray>
#include <QWidget>

#include <optional>

class QLabel;
class QPdfDocument;
class QPdfView;
class QStackedWidget;
class QTimer;

namespace velmora {

// The customer's and the kitchen's view of a ticket before anything is printed: a sample order
// rendered with the settings being edited, so that the restaurant sees its logo, its details, the
// footer and the paper width. Renders a moment after the last change, never once per keystroke.
class TicketPreview : public QWidget {
    Q_OBJECT
public:
    explicit TicketPreview(QWidget* parent = nullptr);
    // QPdfView draws pages on a thread of its own that reads the document, which reads buffer_
    // and bytes_: the view goes first, then the document, then what it reads.
    ~TicketPreview() override;

    // Renders the sample order with `settings` shortly (at once with `now`).
    void preview(const pizzacore::Settings& settings, pizzacore::Instant created, bool now = false);

    // The document shown; empty while the settings cannot give a ticket.
    QPdfDocument& document() const { return *document_; }
    // Why there is no ticket to show, or empty.
    QString failure() const;

    // The order every preview shows: a paid delivery with pizza, drink and side lines and notes.
    static pizzacore::Order sampleOrder(pizzacore::Instant created);
    static pizzacore::Payment samplePayment(const pizzacore::Order& order);

private:
    void render();
    // Deletes the view (and so its render thread's work) and puts a fresh one in its place.
    void replaceView();

    std::optional<pizzacore::Settings> pending_;
    pizzacore::Instant created_{};
    QTimer* delay_;
    // Declared in the order they must outlive one another: bytes_ outlives buffer_, which outlives
    // the document (deleted in the destructor after the view).
    QByteArray bytes_;
    QBuffer buffer_;
    QPdfDocument* document_;
    QPdfView* view_;
    QLabel* failure_;
    QStackedWidget* pages_;
};

} // namespace velmora
