#pragma once

// moc cannot parse the C++20 concepts the core's headers pull in, and needs none of their types.
#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Models/Orders.hpp>
#include <PizzaCore/Models/Settings.hpp>
#endif

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>

class QThread;
class QTimer;

namespace velmora {

class AppStore;
class TicketJobs;

// Tickets on paper and as PDF files, from the order detail. Printing renders the order's
// tickets, asks CUPS which printer to propose, counts the attempt in one transaction, lets the
// user pick printer and copies in the system print dialog and hands the vector PDF to CUPS as a
// job of the ticket's paper size. Every exchange with CUPS happens on a thread of the service's
// own and gives up after a limited wait, so a slow, paused or silent print system never holds the
// window up: a scheduler that does not answer before the dialog stops the print with a message
// (the dialog would wait on it too); a refusal, or a job that CUPS later reports aborted,
// cancelled, stopped or no longer has, reaches the operator through the controller's message with
// CUPS's reason; a completed job says nothing. When the settings ask for it, an order just
// confirmed (and saved) prints at once the same way, on the preferred printer (else the system's
// default) without the dialog. The preview saves the same document where the user chooses and
// opens it in the default viewer. Neither changes the order except for the attempt counter.
//
// The cash drawer hangs off the ticket printer, which opens it on a pulse: the service sends the
// pulse as a raw job to the preferred printer (else the system's default, as tickets go) when the
// operator asks from the order detail and, when the settings ask for it, once a cash payment is
// saved. A pulse CUPS accepted leaves the audit entry "Apertura de cajón"; one that could not be
// sent says why through the controller's message and records nothing.
//
// Other documents (closing reports) print and preview the same way, counting nothing.
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
    // The same, followed by why the job did not complete.
    static QString notCompletedBecause(const QString& reason);
    // What the operator reads when CUPS does not answer before the print dialog.
    static const QString silentPrintSystem;
    // What the operator reads when an order should print on confirming and CUPS has no printer.
    static const QString noPrinter;
    // The ESC/POS drawer kick: ESC p, the drawer's connector pin 2, on for 25 × 2 ms, off for
    // 250 × 2 ms.
    static constexpr std::array<std::uint8_t, 5> drawerPulse{0x1B, 0x70, 0x00, 0x19, 0xFA};
    // What the operator reads when the pulse could not be sent, and why.
    static QString drawerFailure(const QString& reason);

    // The longest the service waits for its thread to finish when it goes away: quitting never
    // waits longer on a print system that does not answer.
    static constexpr int stopWait = 1500;

    // A document other than an order's tickets: its PDF, the print job's title and the sentence
    // every failure to print it starts with ("No se ha impreso el informe de cierre.").
    struct Document {
        pizzacore::Bytes pdf;
        QString title;
        QString failure;
    };

    // `pollInterval`: milliseconds between two looks at a job's state in CUPS. `patience`:
    // milliseconds one exchange with CUPS may take before it counts as unanswered. Without
    // `followConfirmations` the service never prints on confirming nor opens the drawer on a
    // payment (a second service, for other documents).
    TicketService(AppStore& store, Renderer renderer, QObject* parent = nullptr, int pollInterval = 1000,
                  int patience = 8000, bool followConfirmations = true);
    // Raises the thread's stop flag and waits for it at most `stopWait`; a thread still inside
    // libcups after that is left to end on its own, owning everything it reads.
    ~TicketService() override;

    TicketService(const TicketService&) = delete;
    TicketService& operator=(const TicketService&) = delete;

    // Prints the order's tickets (a copy once an attempt was made before).
    void printOrder(const pizzacore::Order& order);
    // Prints the tickets of an order whose confirmation is saved, without the dialog, when the
    // settings print on confirming: one attempt, counted as the dialog's is.
    void printConfirmed(const pizzacore::Uuid& order);
    // Saves the order's tickets as a PDF file and opens it; never counts as an attempt.
    void preview(const pizzacore::Order& order);
    // Sends the drawer pulse for the order; drawerFinished() tells how it went.
    void openDrawer(const pizzacore::Uuid& order);
    // Opens the drawer for a payment just saved when it was in cash and the settings ask for it.
    void openDrawerOnPayment(const pizzacore::Uuid& order);

    // Prints a document with the system print dialog, or with `direct` straight to the preferred
    // printer (else the system's default) without it.
    void printDocument(Document document, bool direct);
    // Saves a document where the user chooses, proposing `suggestedName`, and opens it.
    void previewDocument(const Document& document, const QString& suggestedName);

    // "Pedido-27-80 mm.pdf".
    static QString suggestedName(const pizzacore::Order& order, pizzacore::Paper paper);

    // Jobs sent or being sent to CUPS whose end has not been seen yet.
    int jobsInProgress() const { return inProgress_; }
    // Drawer pulses asked for whose outcome has not come back yet.
    int drawersInProgress() const { return static_cast<int>(drawers_.size()); }

signals:
    // CUPS accepted a job under this number.
    void jobAccepted(int job);
    // A print ended: `completed` when the printer got the job; false when the dialog was
    // cancelled, CUPS did not answer before it, refused the job, or reports it aborted, cancelled,
    // stopped or gone.
    void printFinished(bool completed);
    // A drawer pulse ended: `sent` when CUPS accepted it (its audit entry then written or, when
    // that failed, reported); false when there was no printer or CUPS refused or did not answer.
    void drawerFinished(bool sent);

private:
    // A print waiting for CUPS to say which printer to propose.
    struct Preparation {
        // Absent for a document other than tickets.
        std::optional<pizzacore::Order> order;
        pizzacore::Bytes pdf;
        QString title;
        // Empty for tickets, whose failures say that the order is kept.
        QString failure;
        double width = 0;
        double height = 0;
        QTimer* giveUp = nullptr;
        // Printed on confirming: straight to the printer, without the dialog.
        bool direct = false;
    };

    void printerFound(int ticket, const QString& printer, bool silent);
    void unanswered(int ticket);
    void unansweredPrint(const QString& failure);
    void choose(const Preparation& preparation, const QString& printer);
    void askForPrinter(const Preparation& preparation, const QString& printer);
    void start(const pizzacore::Order& order, bool direct);
    void prepare(Preparation preparation, const std::string& preferred);
    void send(const Preparation& preparation, const QString& printer, int copies);
    void submitted(int job, const QString& failure);
    void ended(int job, bool completed, const QString& reason);
    void drawerSent(int pulse, const QString& failure);
    std::optional<pizzacore::Order> current(const pizzacore::Order& order) const;

    AppStore& store_;
    Renderer renderer_;
    int patience_;
    QThread* thread_;
    TicketJobs* jobs_;
    std::map<int, Preparation> preparing_;
    // The failure sentences of the jobs sent and not yet accepted, in the order they were sent
    // (the thread submits them in that order), then of the accepted jobs by number.
    std::deque<QString> sending_;
    std::map<int, QString> following_;
    int nextTicket_ = 0;
    int inProgress_ = 0;
    // The order of each drawer pulse on its way.
    std::map<int, pizzacore::Uuid> drawers_;
    int nextPulse_ = 0;
};

} // namespace velmora
