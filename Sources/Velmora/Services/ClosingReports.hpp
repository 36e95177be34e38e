#pragma once

// moc cannot parse the C++20 concepts the core's headers pull in, and needs none of their types.
#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Uuid.hpp>
#endif

#include <QObject>
#include <QString>

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

private:
    struct Rendered;
    std::optional<Rendered> shiftReport(const pizzacore::Uuid& session, const QString& failure);
    std::optional<Rendered> dayReport(const std::string& day, const QString& failure);
    // Prints the report of the shift seen open before, should it have closed since.
    void documentChanged();

    AppStore& store_;
    TicketService* printing_;
    // The shift open at the last look at the document.
    std::optional<pizzacore::Uuid> open_;
};

} // namespace velmora
