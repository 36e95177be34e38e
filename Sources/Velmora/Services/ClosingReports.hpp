#pragma once

// moc cannot parse the C++20 concepts the core's headers pull in, and needs none of their types.
#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Uuid.hpp>
#endif

namespace pizzacore {
struct Database;
}

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <string>

namespace velmora {

class AppStore;
class TicketService;

// The closing reports of the sessions screen: the report of a shift or of a business day printed
// through the system print dialog or saved as a PDF and opened, as tickets are. When the settings
// ask for it, each shift's report prints as the shift closes, by hand or by the clock, straight
// to the preferred printer (else the system's default) without the dialog; a report that does
// not print is said in the controller's message and changes nothing. The exchanges with CUPS run
// on the thread of a printing service of its own, which never prints on confirming.
//
// A report adds up the whole history of its day's shifts (tens of milliseconds in a busy year), so
// it is worked out and drawn on a pool thread from the document as it stands when asked; the
// window only hands the finished PDF to the printing service or says why there is none.
class ClosingReports : public QObject {
    Q_OBJECT
public:
    // Sentences every failure to print begins with.
    static const QString notPrinted;
    static const QString notPrintedAtClose;

    // `pollInterval` and `patience` as for TicketService.
    explicit ClosingReports(AppStore& store, QObject* parent = nullptr, int pollInterval = 1000,
                            int patience = 8000);

    void printShift(const pizzacore::Uuid& session);
    void printDay(const std::string& day);
    void previewShift(const pizzacore::Uuid& session);
    void previewDay(const std::string& day);

    TicketService& printing() const { return *printing_; }

signals:
    // A report asked for was handed on to be printed or saved, or its failure was said.
    void reportHandled();

private:
    struct Rendered;
    struct Produced;
    using Use = void (ClosingReports::*)(const Rendered&, bool direct);
    // Works `make` out on a pool thread from the current document and then, on the window's
    // thread, passes its report to `use` or says `failure` and why.
    void produce(std::function<Produced(const pizzacore::Database&)> make, const QString& failure, Use use,
                 bool direct);
    void print(const Rendered& rendered, bool direct);
    void preview(const Rendered& rendered, bool direct);
    static Produced shiftReport(const pizzacore::Database& db, const pizzacore::Uuid& session);
    static Produced dayReport(const pizzacore::Database& db, const std::string& day);
    // Prints the report of the shift seen open before, should it have closed since.
    void documentChanged();

    AppStore& store_;
    TicketService* printing_;
    // The shift open at the last look at the document.
    std::optional<pizzacore::Uuid> open_;
};

} // namespace velmora
