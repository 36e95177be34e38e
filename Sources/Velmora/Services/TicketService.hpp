#pragma once

// moc cannot parse the C++20 concepts the core's headers pull in, and needs none of their types.
#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Models/Orders.hpp>
#include <PizzaCore/Models/Settings.hpp>
#endif

#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <optional>

namespace velmora {

class AppStore;

// Tickets on paper and as PDF files, from the order detail. Printing renders the order's
// tickets, counts the attempt in one transaction, lets the user pick printer and copies in the
// system print dialog and hands the vector PDF to CUPS as a job of the ticket's paper size. The
// job is sent and then followed on a thread of its own, so a slow or paused printer never holds
// the window up: a refusal, or a job that CUPS later reports aborted or cancelled, reaches the
// operator through the controller's message; a completed job says nothing. The preview saves the
// same document where the user chooses and opens it in the default viewer. Neither changes the
// order except for the attempt counter.
class TicketService : public QObject {
    Q_OBJECT
public:
    // The tickets of an order as a PDF document: the order, the settings, its payment if any, and
    // whether to mark them as a copy.
    using Renderer = std::function<pizzacore::Bytes(const pizzacore::Order&, const pizzacore::Settings&,
                                                    const std::optional<pizzacore::Payment>&, bool copy)>;

    // The application's ticket layout.
    static Renderer standardRenderer();

    // What the operator reads when the dialog was cancelled or the job did not complete.
    static const QString notCompleted;

    // `pollInterval`: milliseconds between two looks at a job's state in CUPS.
    TicketService(AppStore& store, Renderer renderer, QObject* parent = nullptr, int pollInterval = 1000);
    ~TicketService() override;

    TicketService(const TicketService&) = delete;
    TicketService& operator=(const TicketService&) = delete;

    // Prints the order's tickets (a copy once an attempt was made before).
    void printOrder(const pizzacore::Order& order);
    // Saves the order's tickets as a PDF file and opens it; never counts as an attempt.
    void preview(const pizzacore::Order& order);

    // "Pedido-27-80 mm.pdf".
    static QString suggestedName(const pizzacore::Order& order, pizzacore::Paper paper);

    // Jobs sent or being sent to CUPS whose end has not been seen yet.
    int jobsInProgress() const { return inProgress_; }

signals:
    // CUPS accepted a job under this number.
    void jobAccepted(int job);
    // A print ended: `completed` when the printer got the job; false when the dialog was
    // cancelled, CUPS refused the job, or CUPS reports it aborted or cancelled.
    void printFinished(bool completed);

private:
    class Jobs;

    void submitted(int job, const QString& failure);
    void ended(bool completed);
    std::optional<pizzacore::Order> current(const pizzacore::Order& order) const;

    AppStore& store_;
    Renderer renderer_;
    QThread thread_;
    Jobs* jobs_;
    int inProgress_ = 0;
};

} // namespace velmora
